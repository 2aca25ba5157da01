// uploadanswer hands in the candidate's answers: packs the listed files of the answer folder into
// "answer.apk" (7z), uploads it, and then clears the folder except for the archive.
#pragma once

#include <string>
#include <vector>

#include "shell/commands/command.h"

class ConcreteCommandUploadAnswer : public Command {
 public:
  explicit ConcreteCommandUploadAnswer(const CommandRequest& request);
  ~ConcreteCommandUploadAnswer() override;
  void execute(std::string& reply) override;
  void stop() override;

 private:
  bool pack(std::string& reply);
  bool upload(std::string& reply, const std::string& folder);
  void CleanFolder(const std::string& folder);

  int retry_ = 3;
  std::string url_;
  std::string params_;
  std::string folder_;  // the answer folder when the command was made
  std::vector<std::wstring> files_;
};

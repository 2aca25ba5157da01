// uploadanswer hands in the candidate's answers: packs the listed files of the answer folder into
// "answer.apk" (7z), uploads it, and then removes what it packed and nobody changed since.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "shell/commands/command.h"
#include "transfer/retry_stop.h"

class ConcreteCommandUploadAnswer : public Command {
 public:
  explicit ConcreteCommandUploadAnswer(const CommandRequest& request);
  void execute(std::string& reply) override;
  void stop() override;

 private:
  bool pack(std::string& reply);
  bool upload(std::string& reply, const std::string& folder);
  // Whether every listed name stays inside the answer folder; if so, notes what is packed.
  bool NoteListedFiles();
  void CleanFolder();

  // One file, link or folder handed to the archive, as it was when packing began.
  struct PackedEntry {
    std::string path;
    bool folder = false;
    off_t size = 0;
    struct timespec modified {};
    struct timespec changed {};
  };

  int retry_ = 3;
  std::string url_;
  std::string params_;
  std::string folder_;  // the answer folder when the command was made
  std::vector<std::string> names_;  // the listed names as the page gave them
  std::vector<std::wstring> files_;
  std::vector<PackedEntry> packed_;
  org_trellik::RetryStop retryStop_;
};

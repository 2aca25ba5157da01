// postrequest posts form fields to the examination server and answers with its response;
// upload sends one file of the application's cache folder with form fields.
#pragma once

#include <string>

#include "shell/commands/command.h"
#include "transfer/retry_stop.h"

class ConcreteCommandPostRequest : public Command {
 public:
  explicit ConcreteCommandPostRequest(const CommandRequest& request);
  void execute(std::string& reply) override;
  void stop() override;

 private:
  std::string url_;
  std::string params_;
  std::string cookie_;
  int timeout_ = 30;
  int retry_ = 3;
  org_trellik::RetryStop retryStop_;
};

class ConcreteCommandPutFile : public Command {
 public:
  explicit ConcreteCommandPutFile(const CommandRequest& request);
  void execute(std::string& reply) override;
  void stop() override;

 private:
  std::string url_;
  std::string params_;
  std::string localPath_;
  std::string files_;  // the file part: {"file": local path, "name": part name}
  int retry_ = 3;
  org_trellik::RetryStop retryStop_;
};

// download and downloadapp fetch a list of files from the examination server into the
// application's cache folder or the per-user apps folder, one request per file, and unpack
// packages on request into the temporary session folder. Commands (and items) that write the
// same local file share one transfer through the download table of the shared state.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "shell/commands/command.h"
#include "transfer/http_provider.h"
#include "transfer/retry_stop.h"

// One transfer into one local path. |succeeded| and |users| are guarded by the download lock;
// the event is signalled once, when the downloader has finished with the path, and never reset.
struct DownloadRecord {
  bool succeeded = false;
  int users = 1;  // the downloader and the waiters still using the record

  void Signal();
  void Wait();

 private:
  std::mutex eventLock_;
  std::condition_variable event_;
  bool signalled_ = false;
};

struct DownloadItem {
  std::string url;
  std::string params;  // compact JSON text of the entry's form fields, with a line feed
  std::string name;
  std::string password;
  bool uncompress = false;
  bool force = false;
  bool recurse = false;
};

// The download commands' response sink: writes the bytes to the FILE* given as |userData|.
std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, void* userData);

class ConcreteCommandDownloadFile : public Command {
 public:
  explicit ConcreteCommandDownloadFile(const CommandRequest& request);
  void execute(std::string& reply) override;
  void stop() override;

  org_trellik::WriteFunction writeFunction = WriteToFile;

 protected:
  ConcreteCommandDownloadFile(const char* logWord, const CommandRequest& request);
  // The folder that the files are stored in.
  virtual std::string TargetFolder() const;
  virtual void ReplySuccess(std::string& reply);

  // True when every item was handled; otherwise |reply| holds the failure.
  bool downloadFiles(std::string& reply, const std::string& folder);
  bool uncompressFiles(std::string& reply, const std::string& folder);

 private:
  bool FetchItem(std::string& reply, const DownloadItem& item, const std::string& folder);

  int retry_ = 3;
  int timeout_ = 30;
  std::vector<DownloadItem> items_;
  org_trellik::RetryStop retryStop_;
};

class ConcreteCommandDownloadApp : public ConcreteCommandDownloadFile {
 public:
  explicit ConcreteCommandDownloadApp(const CommandRequest& request);

 protected:
  std::string TargetFolder() const override;
  void ReplySuccess(std::string& reply) override;
};

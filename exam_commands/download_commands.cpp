#include "exam_commands/download_commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "exam_commands/transfer_commands.h"
#include "platform/base/regular_file.h"
#include "shell/commands/main_state.h"
#include "shell/core/helpers.h"
#include "shell/core/program_log.h"
#include "transfer/seven_zip_runner.h"

namespace fs = std::filesystem;

namespace {

// The download's target, emptied; null when it is no regular file: a FIFO or a device left under
// the name would hold the worker, or swallow the download.
FILE* OpenTarget(const std::string& path) {
  int fd = OpenRegularFile(path, O_RDWR | O_CREAT | O_TRUNC);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "wb+");
  if (!file) close(fd);
  return file;
}

const char kTag[] = "download file";
const char kUnpackFailed[] = "解压失败";

void Info(const std::string& text) { LogInfo(kTag, text); }
void Error(const std::string& text) { LogError(kTag, text); }

// A name that climbs out of its folder through "..".
bool LeavesFolder(const std::string& name) {
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

// |path| without the extension of its last part.
std::string WithoutExtension(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

std::string Normalized(std::string path) {
  NormalizePath(path, '/');
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Whether |target| names a folder below |folder| (not |folder| itself), once "." and ".." parts
// of both are resolved.
bool IsOwnFolderInside(const std::string& target, const std::string& folder) {
  if (folder.empty() || target.empty()) return false;
  fs::path inner = fs::path(target).lexically_normal();
  fs::path outer = fs::path(folder).lexically_normal();
  fs::path relative = inner.lexically_relative(outer);
  if (relative.empty() || relative == ".") return false;
  for (const fs::path& part : relative) {
    if (part == "..") return false;
  }
  return true;
}

bool EmptyFolder(const std::string& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code remove_error;
    fs::remove_all(it->path(), remove_error);
    if (remove_error) return false;
  }
  return !ec;
}

// The downloader's hold on its record: marked exactly once, as failed when nothing else marked
// it (an exception), so that no waiter waits forever.
class RecordMark {
 public:
  explicit RecordMark(std::shared_ptr<DownloadRecord> record) : record_(std::move(record)) {}
  ~RecordMark() { Set(false); }
  RecordMark(const RecordMark&) = delete;
  RecordMark& operator=(const RecordMark&) = delete;

  void Set(bool succeeded) {
    if (marked_) return;
    marked_ = true;
    {
      std::lock_guard<std::mutex> lock(g_pMainDlg->downloadLock);
      record_->succeeded = succeeded;
      --record_->users;
    }
    record_->Signal();
  }

 private:
  std::shared_ptr<DownloadRecord> record_;
  bool marked_ = false;
};

}  // namespace

void DownloadRecord::Signal() {
  {
    std::lock_guard<std::mutex> lock(eventLock_);
    signalled_ = true;
  }
  event_.notify_all();
}

void DownloadRecord::Wait() {
  std::unique_lock<std::mutex> lock(eventLock_);
  event_.wait(lock, [this] { return signalled_; });
}

std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, void* userData) {
  return std::fwrite(data, size, count, static_cast<FILE*>(userData));
}

ConcreteCommandDownloadFile::ConcreteCommandDownloadFile(const CommandRequest& request)
    : ConcreteCommandDownloadFile("download file", request) {}

ConcreteCommandDownloadFile::ConcreteCommandDownloadFile(const char* logWord,
                                                         const CommandRequest& request)
    : Command(logWord, request) {
  Json::Value v;
  if (!ParseParams(request, v)) return;
  retry_ = v.isMember("retry") ? v["retry"].asInt() : 3;
  timeout_ = v.isMember("timeout") ? v["timeout"].asInt() : 30;
  // Read by index: a list that is an object is refused by the JSON library's type error
  // rather than taken member by member.
  const Json::Value& list = v["filelist"];
  for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
    const Json::Value& entry = list[i];
    DownloadItem item;
    // Only the scheme in lower case counts as absolute; anything else is a server path.
    item.url = CompleteServerUrl(entry["url"].asString(), false);
    item.params = WriteJson(entry["params"]);
    item.name = entry["name"].asString();
    item.password = entry["password"].asString();
    item.uncompress = entry["uncompress"].asBool();
    item.force = entry["force"].asBool();
    item.recurse = entry["recurse"].asBool();
    items_.push_back(item);
  }
}

void ConcreteCommandDownloadFile::execute(std::string& reply) {
  org_trellik::ScopedRetryStop retry_scope(retryStop_);
  std::string folder = TargetFolder();
  if (downloadFiles(reply, folder) && uncompressFiles(reply, folder)) ReplySuccess(reply);
}

void ConcreteCommandDownloadFile::stop() {
  Command::stop();
  retryStop_.Request();
}

std::string ConcreteCommandDownloadFile::TargetFolder() const {
  return g_pMainDlg->Session().cacheFolder;
}

void ConcreteCommandDownloadFile::ReplySuccess(std::string& reply) {
  BuildCallbackJson(1, "下载成功", "", reply);
}

bool ConcreteCommandDownloadFile::downloadFiles(std::string& reply, const std::string& folder) {
  {
    std::lock_guard<std::mutex> lock(g_pMainDlg->downloadLock);
    auto& table = g_pMainDlg->downloads;
    for (auto it = table.begin(); it != table.end();) {
      if (it->second->users <= 0)
        it = table.erase(it);
      else
        ++it;
    }
  }
  for (const DownloadItem& item : items_) {
    if (!FetchItem(reply, item, folder)) return false;
  }
  return true;
}

bool ConcreteCommandDownloadFile::FetchItem(std::string& reply, const DownloadItem& item,
                                                 const std::string& folder) {
  const std::string& name = item.name;
  if (LeavesFolder(name)) {
    Error(name + "不在下载目录中");
    BuildCallbackJson(0, "", "下载文件失败：" + name, reply);
    return false;
  }
  std::string path = folder + "/" + name;
  NormalizePath(path, '/');
  std::string dir = path.substr(0, path.rfind('/') + 1);

  std::shared_ptr<DownloadRecord> record;
  bool waiter = false;
  {
    std::lock_guard<std::mutex> lock(g_pMainDlg->downloadLock);
    auto& table = g_pMainDlg->downloads;
    auto it = table.find(path);
    if (it != table.end()) {
      record = it->second;
      ++record->users;
      waiter = true;
    } else {
      record = std::make_shared<DownloadRecord>();
      table.emplace(path, record);
    }
  }

  if (waiter) {
    record->Wait();
    bool succeeded;
    {
      std::lock_guard<std::mutex> lock(g_pMainDlg->downloadLock);
      --record->users;
      succeeded = record->succeeded;
    }
    Info(name + "在其他线程中下载");
    if (succeeded) return true;
    BuildCallbackJson(0, "", "文件下载失败：" + name, reply);
    return false;
  }

  RecordMark mark(record);
  if (!item.force && IsExistingFile(path)) {
    Info(name + "已存在，无需下载");
    mark.Set(true);
    return true;
  }
  if (!dir.empty() && !IsExistingDir(dir)) MakeDirs(dir, false, true);
  FILE* file = OpenTarget(path);
  if (!file) {
    Error(name + "打开失败");
    BuildCallbackJson(0, "", "无法打开文件:" + path, reply);
    mark.Set(false);
    return false;
  }
  org_trellik::HttpCfg cfg;
  cfg.timeout = timeout_;
  cfg.connectTimeout = 30;
  cfg.retry = retry_;
  int code;
  try {
    code = org_trellik::HttpProvider::downloadRequest(item.url, item.params, file, writeFunction,
                                                      &cfg);
  } catch (...) {
    code = -1;
  }
  std::fclose(file);
  if (code == 0 && IsExistingFile(path)) {
    mark.Set(true);
    Info(name + "下载成功");
    return true;
  }
  Info(name + "下载失败, 错误码：" + std::to_string(code));
  if (IsExistingFile(path)) {
    try {
      std::string raw;
      Info("错误原因：" + ReadTextFile(path, raw));
    } catch (const std::exception&) {
      // The error page is only logged; the partial file goes in any case.
    }
    if (std::remove(path.c_str()) != 0) {
      Error(name + "删除失败");
      std::remove(path.c_str());
    }
  }
  BuildCallbackJson(0, "", "下载文件失败：" + name, reply);
  mark.Set(false);
  return false;
}

bool ConcreteCommandDownloadFile::uncompressFiles(std::string& reply, const std::string& folder) {
  const std::string temp = Normalized(g_pMainDlg->Session().tempFolder);
  for (const DownloadItem& item : items_) {
    if (!item.uncompress) continue;
    std::string name = item.name;
    NormalizePath(name, '/');
    std::string archive = Normalized(folder + "/" + name);
    std::string target = Normalized(temp + "/" + WithoutExtension(name));
    // Only a folder of its own inside the temporary session folder is ever emptied; "." and ".."
    // parts are resolved first, so that no spelling of the session folder itself passes.
    bool inside = IsOwnFolderInside(target, temp);
    bool ready = inside && (IsExistingDir(target) ? EmptyFolder(target)
                                                  : MakeDirs(target, false, true) == 0);
    if (!ready) {
      BuildCallbackJson(0, "", kUnpackFailed, reply);
      return false;
    }
    SevenZipRunner* runner = GetSevenZipRunner();
    if (runner->Extract(NarrowToWide(archive).c_str(), NarrowToWide(target).c_str(), nullptr,
                        NarrowToWide(item.password).c_str()) != 0) {
      BuildCallbackJson(0, "", kUnpackFailed, reply);
      return false;
    }
    if (!item.recurse) continue;
    // Packages directly inside the unpacked folder, one level only; they stay in place.
    std::vector<std::string> nested;
    std::error_code ec;
    for (fs::directory_iterator it(target, ec), end; !ec && it != end; it.increment(ec)) {
      std::string extension = it->path().extension().string();
      if ((extension == ".wpk" || extension == ".rpk") && it->is_regular_file())
        nested.push_back(it->path().string());
    }
    std::sort(nested.begin(), nested.end());
    for (const std::string& package : nested) {
      if (runner->Extract(NarrowToWide(package).c_str(),
                          NarrowToWide(WithoutExtension(package)).c_str(), nullptr,
                          nullptr) != 0) {
        BuildCallbackJson(0, "", kUnpackFailed, reply);
        return false;
      }
    }
  }
  return true;
}

ConcreteCommandDownloadApp::ConcreteCommandDownloadApp(const CommandRequest& request)
    : ConcreteCommandDownloadFile("download app", request) {}

std::string ConcreteCommandDownloadApp::TargetFolder() const {
  return g_pMainDlg->Session().appsFolder;
}

void ConcreteCommandDownloadApp::ReplySuccess(std::string& reply) {
  LogInfo("download app", "app下载成功");
  BuildCallbackJson(1, "app下载成功", "", reply);
}

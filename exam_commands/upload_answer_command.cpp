#include "exam_commands/upload_answer_command.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "exam_commands/transfer_commands.h"
#include "shell/commands/main_state.h"
#include "shell/core/helpers.h"
#include "shell/core/program_log.h"
#include "transfer/http_provider.h"
#include "transfer/seven_zip_runner.h"

namespace fs = std::filesystem;

namespace {

const char kArchiveName[] = "answer.apk";

bool IsArchiveName(const fs::path& path) {
  return strcasecmp(path.filename().c_str(), kArchiveName) == 0;
}

// |path| lies inside |folder| (both without "." or ".." parts and with links resolved).
bool IsInside(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;  // the trailing separator of a folder
    if (p == path.end() || *p != *f) return false;
  }
  return true;
}

// A listed name that is absolute or climbs through ".." could mean anything on the machine.
bool IsPlainRelativeName(const std::string& name) {
  if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return false;
  for (const fs::path& part : fs::path(name)) {
    if (part == "..") return false;
  }
  return true;
}

// Where |path| leads once every link is followed, without "." and "..".
fs::path Resolved(const fs::path& path) {
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(path, ec);
  return ec ? fs::path() : resolved;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

ConcreteCommandUploadAnswer::ConcreteCommandUploadAnswer(const CommandRequest& request)
    : Command("upload answer", request), folder_(g_pMainDlg->Session().answerFolder) {
  Json::Value v;
  if (!ParseParams(request, v)) return;
  retry_ = v.isMember("retry") ? v["retry"].asInt() : 3;
  url_ = CompleteServerUrl(v["url"].asString(), true);
  params_ = WriteJson(v["params"]);
  // A single text has no elements and lists nothing; an object fails on its first element.
  const Json::Value& files = v["file"];
  for (Json::ArrayIndex i = 0; i < files.size(); ++i) {
    names_.push_back(files[i].asCString());
    files_.push_back(NarrowToWide(folder_ + names_.back()));
  }
}

void ConcreteCommandUploadAnswer::execute(std::string& reply) {
  org_trellik::ScopedRetryStop retry_scope(retryStop_);
  {
    // An answer document being written is neither packed half-written nor removed.
    std::lock_guard<std::mutex> lock(g_pMainDlg->answerLock);
    if (!pack(reply)) return;
  }
  if (!upload(reply, folder_)) return;
  {
    std::lock_guard<std::mutex> lock(g_pMainDlg->answerLock);
    CleanFolder();
  }
  BuildCallbackJson(1, "上传成功", "", reply);
}

void ConcreteCommandUploadAnswer::stop() {
  Command::stop();
  retryStop_.Request();
}

bool ConcreteCommandUploadAnswer::pack(std::string& reply) {
  std::string archive = folder_ + kArchiveName;
  if (NoteListedFiles() && GetSevenZipRunner()->Add(NarrowToWide(archive), files_, L"", true) == 0)
    return true;
  BuildCallbackJson(0, "", "打包答案文件失败", reply);
  std::remove(archive.c_str());
  return false;
}

bool ConcreteCommandUploadAnswer::upload(std::string& reply, const std::string& folder) {
  std::string apk = folder + kArchiveName;
  if (!IsExistingFile(apk)) {
    BuildCallbackJson(0, "", "找不到需要上传的答案文件", reply);
    return false;
  }
  org_trellik::HttpCfg cfg;
  cfg.timeout = 30;
  cfg.connectTimeout = 30;
  cfg.retry = retry_;
  Json::Value part(Json::objectValue);
  part["file"] = apk;
  part["name"] = "answer";
  std::string body;
  int code = org_trellik::HttpProvider::uploadRequest(url_, WriteJson(part), params_, &body,
                                                      ResponseBodySink, &cfg);
  Log("应答结果：" + body);
  if (code != 0) {
    LogError(logWord, std::to_string(code));
    BuildCallbackJson(0, "", "上传答案失败", reply);
    return false;
  }
  return true;
}

bool ConcreteCommandUploadAnswer::NoteListedFiles() {
  packed_.clear();
  fs::path folder = Resolved(folder_);
  if (folder.empty()) return false;
  auto note = [&](const fs::path& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return true;  // 7-Zip tells a missing name
    // A link is packed as what it points to: it must not lead out of the answer folder.
    if (S_ISLNK(st.st_mode) && !IsInside(Resolved(path), folder)) return false;
    // The archive itself, and the answer folder when it is listed whole, are never removed.
    if (IsArchiveName(path) && Resolved(path.parent_path()) == folder) return true;
    if (S_ISDIR(st.st_mode) && Resolved(path) == folder) return true;
    packed_.push_back({path.string(), S_ISDIR(st.st_mode), st.st_size, st.st_mtim, st.st_ctim});
    return true;
  };
  for (const std::string& name : names_) {
    fs::path listed = Resolved(folder_ + name);
    if (!IsPlainRelativeName(name) || listed.empty() || !IsInside(listed, folder)) {
      Log("不在答案目录中：" + name);
      return false;
    }
    fs::path path = fs::path(folder_ + name).lexically_normal();
    if (!note(path)) return false;
    std::error_code ec;
    if (!fs::is_directory(path, ec) || fs::is_symlink(path, ec)) continue;
    for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
      if (!note(it->path())) {
        Log("链接指向答案目录以外：" + it->path().string());
        return false;
      }
    }
  }
  return true;
}

// Only what was handed in goes, and only as it was handed in: an answer or a recording saved
// while the archive was on its way is in no archive and stays.
void ConcreteCommandUploadAnswer::CleanFolder() {
  // Deepest first, so that a folder is empty by the time its turn comes.
  std::sort(packed_.begin(), packed_.end(),
            [](const PackedEntry& a, const PackedEntry& b) { return a.path > b.path; });
  for (const PackedEntry& entry : packed_) {
    std::error_code ec;
    if (entry.folder) {
      fs::remove(entry.path, ec);  // only when empty
      continue;
    }
    struct stat st;
    if (lstat(entry.path.c_str(), &st) == 0 && st.st_size == entry.size &&
        SameTime(st.st_mtim, entry.modified) && SameTime(st.st_ctim, entry.changed))
      fs::remove(entry.path, ec);
  }
}

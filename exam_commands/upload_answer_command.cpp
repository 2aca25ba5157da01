#include "exam_commands/upload_answer_command.h"

#include <strings.h>

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
  for (Json::ArrayIndex i = 0; i < files.size(); ++i)
    files_.push_back(NarrowToWide(folder_ + files[i].asCString()));
}

ConcreteCommandUploadAnswer::~ConcreteCommandUploadAnswer() { Log("destructor"); }

void ConcreteCommandUploadAnswer::execute(std::string& reply) {
  RunningGuard guard(*this);
  Log("execute");
  {
    // An answer document being written is neither packed half-written nor removed.
    std::lock_guard<std::mutex> lock(g_pMainDlg->answerLock);
    if (!pack(reply)) return;
  }
  if (!upload(reply, folder_)) return;
  {
    std::lock_guard<std::mutex> lock(g_pMainDlg->answerLock);
    CleanFolder(folder_);
  }
  BuildCallbackJson(1, "上传成功", "", reply);
}

void ConcreteCommandUploadAnswer::stop() {
  Log("stop");
  running = false;
}

bool ConcreteCommandUploadAnswer::pack(std::string& reply) {
  std::string archive = folder_ + kArchiveName;
  if (GetSevenZipRunner()->Add(NarrowToWide(archive), files_, L"", true) == 0) return true;
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
    std::string scratch;
    QLOG_ERROR << FormatLogTag(logWord, std::to_string(code), scratch);
    BuildCallbackJson(0, "", "上传答案失败", reply);
    return false;
  }
  return true;
}

void ConcreteCommandUploadAnswer::CleanFolder(const std::string& folder) {
  std::vector<fs::directory_entry> entries;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    entries.push_back(*it);
  for (const fs::directory_entry& entry : entries) {
    std::error_code remove_error;
    if (entry.is_directory(remove_error) && !entry.is_symlink(remove_error)) {
      fs::remove_all(entry.path(), remove_error);
    } else if (strcasecmp(entry.path().filename().c_str(), kArchiveName) != 0) {
      fs::remove(entry.path(), remove_error);
    }
  }
}

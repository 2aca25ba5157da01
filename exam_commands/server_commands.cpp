#include "exam_commands/server_commands.h"

#include "exam_commands/session_names.h"
#include "exam_commands/transfer_commands.h"
#include "shell/commands/main_state.h"
#include "shell/core/helpers.h"
#include "shell/core/program_log.h"
#include "transfer/http_provider.h"

namespace {

const char kPutFileFailed[] = "处理putfile失败，指定文件不存在";

int IntOr(const Json::Value& params, const char* key, int fallback) {
  return params.isMember(key) ? params[key].asInt() : fallback;
}

}  // namespace

ConcreteCommandPostRequest::ConcreteCommandPostRequest(const CommandRequest& request)
    : Command("post", request) {
  Json::Value v;
  if (ParseParams(request, v)) {
    url_ = CompleteServerUrl(v["url"].asString(), true);
    params_ = WriteJson(v["params"]);
    cookie_ = v["cookie"].asString();
    timeout_ = IntOr(v, "timeout", 30);
    retry_ = IntOr(v, "retry", 3);
  }
}

void ConcreteCommandPostRequest::execute(std::string& reply) {
  org_trellik::ScopedRetryStop retry_scope(retryStop_);
  org_trellik::HttpCfg cfg;
  cfg.timeout = timeout_;
  cfg.connectTimeout = 30;
  cfg.retry = retry_;
  cfg.cookieList = cookie_.c_str();
  std::string body;
  int code =
      org_trellik::HttpProvider::postRequest(url_, params_, &body, ResponseBodySink, &cfg);
  Log("return code:[" + std::to_string(code) + "]");
  if (code == 0) {
    BuildCallbackJson(1, Utf8ToAnsi(body), "", reply);
    return;
  }
  LogError(logWord, Utf8ToAnsi(body));
  BuildCallbackJson(0, "", "网络异常", reply);
}

void ConcreteCommandPostRequest::stop() {
  Command::stop();
  retryStop_.Request();
}

ConcreteCommandPutFile::ConcreteCommandPutFile(const CommandRequest& request)
    : Command("putfile", request) {
  Json::Value v;
  if (ParseParams(request, v)) {
    url_ = CompleteServerUrl(v["url"].asString(), true);
    params_ = WriteJson(v["params"]);
    retry_ = IntOr(v, "retry", 3);
    const Json::Value& file = v["file"];
    const std::string name = file["file"].asString();
    // The file is sent to the server: a name that leaves the cache folder could send any file.
    if (IsContainedName(name)) localPath_ = g_pMainDlg->Session().cacheFolder + name;
    if (!file.isNull()) {
      // The part keeps the page's name and carries the full local path.
      Json::Value part = file;
      part["file"] = localPath_;
      files_ = WriteJson(part);
    }
  }
}

void ConcreteCommandPutFile::execute(std::string& reply) {
  org_trellik::ScopedRetryStop retry_scope(retryStop_);
  if (!IsExistingFile(localPath_)) {
    BuildCallbackJson(0, "", kPutFileFailed, reply);
    return;
  }
  org_trellik::HttpCfg cfg;
  cfg.timeout = 30;
  cfg.connectTimeout = 30;
  cfg.retry = retry_;
  std::string body;
  int code = org_trellik::HttpProvider::uploadRequest(url_, files_, params_, &body,
                                                      ResponseBodySink, &cfg);
  Log("应答结果：" + body);
  if (code != 0) {
    LogError(logWord, std::to_string(code));
    BuildCallbackJson(0, "", kPutFileFailed, reply);
    return;
  }
  BuildCallbackJson(1, "", "Operation Successful", reply);
}

void ConcreteCommandPutFile::stop() {
  Command::stop();
  retryStop_.Request();
}

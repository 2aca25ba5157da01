#include "browser_host/binding_extension.h"

#include <json/json.h>

#include <memory>

#include "browser_host/bridge_text.h"
#include "browser_host/host_callbacks.h"
#include "browser_host/task_pool.h"

namespace {

// The dispatcher's answer to a command it could not run. A command that no worker can take gets
// the same, so that the page's callback is called instead of waiting for good.
const char kNoWorkerReply[] = "{\"data\":\"\",\"flag\":0,\"flagMsg\":\"响应消息命令时出现异常\"}";

TaskPool& Pool() {
  // No thread cap: a blocked command never holds up the next one. Never destroyed: commands
  // may still block when the process ends.
  static TaskPool* pool = new TaskPool(std::chrono::seconds(15));
  return *pool;
}

}  // namespace

bool QueueKeTask(Kestrow::Base::KeTask* task, bool) { return QueueKeTask(Pool(), task); }

bool QueueKeTask(TaskPool& pool, Kestrow::Base::KeTask* task) {
  if (pool.Push([task] {
        std::unique_ptr<Kestrow::Base::KeTask> owned(task);
        owned->Run();
      }))
    return true;
  delete task;
  return false;
}

namespace binding_extension {

bool ParseCallbackInfo(const std::string& name, int& funcId, std::string& funcName) {
  if (name.empty()) return false;
  // The form the renderer writes needs no JSON reader; anything else is read in full.
  if (bridge_text::ReadRequestName(name, funcId, funcName)) return true;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  if (!reader->parse(name.data(), name.data() + name.size(), &root, nullptr)) return false;
  if (!root.isObject() || !root.isMember("funcID") || !root.isMember("funcName")) return false;
  const Json::Value& id = root["funcID"];
  const Json::Value& fn = root["funcName"];
  // Only an integer within int, as the renderer writes it; anything else is refused.
  if (id.type() != Json::intValue && id.type() != Json::uintValue) return false;
  if (!id.isInt() || !fn.isString()) return false;
  funcId = id.asInt();
  funcName = fn.asString();
  return true;
}

bool ParseBindingCommand(CefRefPtr<CefProcessMessage> message, BindingCommand& out) {
  using bridge_text::AsWideRoundTrip;
  std::string name = AsWideRoundTrip(message->GetName().ToString());
  int funcId = 0;
  std::string funcName;
  if (!ParseCallbackInfo(name, funcId, funcName)) return false;
  if (funcName.empty() || funcId == 0) return false;
  std::vector<std::string> pieces;
  bridge_text::SplitAtDot(AsWideRoundTrip(funcName), pieces);
  if (pieces.size() != 2) return false;
  out.region = std::move(pieces[0]);
  out.command = std::move(pieces[1]);
  if (out.region == "dialog") return false;
  CefRefPtr<CefListValue> args = message->GetArgumentList();
  if (args->GetSize() != 2) return false;
  out.params = AsWideRoundTrip(args->GetString(0).ToString());
  out.type = AsWideRoundTrip(args->GetString(1).ToString());
  return true;
}

void RunBindingCommand(ReplyRoute route, std::string name, std::string region,
                       std::string command, std::string params, std::string type) {
  DisptchCmdCallBack dispatch = Callbacks().dispatch.load();
  if (!dispatch) return;
  const char* answer = dispatch(region.c_str(), command.c_str(), params.c_str(), type.c_str());
  SendReply(route, std::move(name), bridge_text::AsWideRoundTrip(answer ? answer : ""));
}

void SendReply(const ReplyRoute& route, std::string name, std::string reply) {
  CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(std::move(name));
  message->GetArgumentList()->SetString(0, std::move(reply));
  if (route.reply && route.reply->Send(message)) return;
  route.browser->SendProcessMessage(PID_RENDERER, message);
}

void QueueBindingCommand(TaskPool& pool, ReplyRoute route, std::string name, BindingCommand c) {
  std::function<void(ReplyRoute, std::string, std::string, std::string, std::string,
                     std::string)>
      f = RunBindingCommand;
  if (!QueueKeTask(pool, Kestrow::Base::KeTaskFactory::NewTask(f, route, name,
                                                               std::move(c.region),
                                                               std::move(c.command),
                                                               std::move(c.params),
                                                               std::move(c.type))))
    SendReply(route, std::move(name), kNoWorkerReply);
}

bool ProcessMessageDelegate::OnProcessMessageReceived(CefRefPtr<ClientHandler>,
                                                      CefRefPtr<CefBrowser> browser, CefProcessId,
                                                      CefRefPtr<CefProcessMessage> message) {
  BindingCommand c;
  if (!ParseBindingCommand(message, c)) return false;
  QueueBindingCommand(Pool(), ReplyRoute{browser, message->GetReply()},
                      message->GetName().ToString(), std::move(c));
  return true;
}

void CreateProcessMessageDelegates(ClientHandler::ProcessMessageDelegateSet& delegates) {
  delegates.insert(new ProcessMessageDelegate());
}

}  // namespace binding_extension

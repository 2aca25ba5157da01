#include "browser_host/binding_extension.h"

#include <glib.h>
#include <json/json.h>

#include <memory>
#include <mutex>

#include "browser_host/host_callbacks.h"
#include "browser_host/text_convert.h"

namespace {

void KeTaskThreadProc(gpointer data, gpointer) {
  std::unique_ptr<Kestrow::Base::KeTask> task(static_cast<Kestrow::Base::KeTask*>(data));
  task->Run();
}

GThreadPool* Pool() {
  static GThreadPool* pool = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    // No thread cap: a blocked command never holds up the next one.
    pool = g_thread_pool_new(KeTaskThreadProc, nullptr, -1, FALSE, nullptr);
  });
  return pool;
}

bool IsTrimmed(wchar_t c) {
  switch (c) {
    case 0x0009:
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0020:
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x180E:
    case 0x200C:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

}  // namespace

bool QueueKeTask(Kestrow::Base::KeTask* task, bool) {
  GThreadPool* pool = Pool();
  if (!pool || !g_thread_pool_push(pool, task, nullptr)) {
    delete task;
    return false;
  }
  return true;
}

namespace binding_extension {

bool ParseCallbackInfo(const std::string& name, int& funcId, std::string& funcName) {
  if (name.empty()) return false;
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

std::wstring TrimWhitespace(const std::wstring& text) {
  size_t b = 0, e = text.size();
  while (b < e && IsTrimmed(text[b])) ++b;
  while (e > b && IsTrimmed(text[e - 1])) --e;
  return text.substr(b, e - b);
}

void SplitAtDot(const std::wstring& text, std::vector<std::wstring>& pieces) {
  size_t start = 0;
  for (;;) {
    size_t dot = text.find(L'.', start);
    if (dot == std::wstring::npos) {
      pieces.push_back(TrimWhitespace(text.substr(start)));
      return;
    }
    pieces.push_back(TrimWhitespace(text.substr(start, dot - start)));
    start = dot + 1;
  }
}

bool ParseBindingCommand(CefRefPtr<CefProcessMessage> message, BindingCommand& out) {
  std::string name = WStringToString(message->GetName().ToWString(), CP_ACP);
  int funcId = 0;
  std::string funcName;
  if (!ParseCallbackInfo(name, funcId, funcName)) return false;
  if (funcName.empty() || funcId == 0) return false;
  std::vector<std::wstring> pieces;
  SplitAtDot(StringToWString(funcName, CP_ACP), pieces);
  if (pieces.size() != 2) return false;
  out.region = WStringToString(pieces[0], CP_ACP);
  out.command = WStringToString(pieces[1], CP_ACP);
  if (out.region == "dialog") return false;
  CefRefPtr<CefListValue> args = message->GetArgumentList();
  if (args->GetSize() != 2) return false;
  out.params = WStringToString(args->GetString(0).ToWString(), CP_ACP);
  out.type = WStringToString(args->GetString(1).ToWString(), CP_ACP);
  return true;
}

void RunBindingCommand(CefRefPtr<CefBrowser> browser, std::wstring name, std::string region,
                       std::string command, std::string params, std::string type) {
  DisptchCmdCallBack dispatch = Callbacks().dispatch.load();
  if (!dispatch) return;
  const char* answer = dispatch(region.c_str(), command.c_str(), params.c_str(), type.c_str());
  std::string reply = answer ? answer : "";
  CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(CefString(name));
  message->GetArgumentList()->SetString(0, CefString(StringToWString(reply, CP_ACP)));
  browser->SendProcessMessage(PID_RENDERER, message);
}

bool ProcessMessageDelegate::OnProcessMessageReceived(CefRefPtr<ClientHandler>,
                                                      CefRefPtr<CefBrowser> browser, CefProcessId,
                                                      CefRefPtr<CefProcessMessage> message) {
  BindingCommand c;
  if (!ParseBindingCommand(message, c)) return false;
  std::function<void(CefRefPtr<CefBrowser>, std::wstring, std::string, std::string, std::string,
                     std::string)>
      f = RunBindingCommand;
  QueueKeTask(Kestrow::Base::KeTaskFactory::NewTask(f, browser, message->GetName().ToWString(),
                                                    c.region, c.command, c.params, c.type),
              false);
  return true;
}

void CreateProcessMessageDelegates(ClientHandler::ProcessMessageDelegateSet& delegates) {
  delegates.insert(new ProcessMessageDelegate());
}

}  // namespace binding_extension

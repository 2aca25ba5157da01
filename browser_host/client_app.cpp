#include "browser_host/client_app.h"

#include "browser_host/app_extension.h"
#include "browser_host/client_renderer.h"
#include "browser_host/scheme.h"

ClientApp::ClientApp() {
  client_renderer::CreateRenderDelegates(render_delegates_);
  cookieable_schemes_.push_back("http");
  cookieable_schemes_.push_back("https");
}

void ClientApp::SetMessageCallback(const std::string& key, const CallbackEntry& entry) {
  callbacks_.emplace(key, entry);
}

void ClientApp::OnBeforeCommandLineProcessing(const CefString& process_type,
                                              CefRefPtr<CefCommandLine> command_line) {
  if (!process_type.empty() || !command_line) return;
  command_line->AppendSwitch("--enable-speech-input");
  command_line->AppendSwitch("--enable-media-stream");
  command_line->AppendSwitch("--enable-media-source");
  command_line->AppendSwitch("no-proxy-server");
  command_line->AppendSwitchWithValue("touch-events", "disabled");
}

void ClientApp::OnRegisterCustomSchemes(CefRefPtr<CefSchemeRegistrar> registrar) {
  RegisterCustomSchemes(registrar);
}

void ClientApp::OnContextInitialized() {
  CefCookieManager::GetGlobalManager()->SetSupportedSchemes(cookieable_schemes_);
}

void ClientApp::OnRenderThreadCreated(CefRefPtr<CefListValue> extra_info) {
  for (const auto& d : render_delegates_) d->OnRenderThreadCreated(this, extra_info);
}

void ClientApp::OnWebKitInitialized() {
  CefRegisterExtension("v8/app", kAppExtensionScript, new ClientAppExtensionHandler(this));
  for (const auto& d : render_delegates_) d->OnWebKitInitialized(this);
}

void ClientApp::OnBrowserCreated(CefRefPtr<CefBrowser> browser) {
  for (const auto& d : render_delegates_) d->OnBrowserCreated(this, browser);
}

void ClientApp::OnBrowserDestroyed(CefRefPtr<CefBrowser> browser) {
  for (const auto& d : render_delegates_) d->OnBrowserDestroyed(this, browser);
}

void ClientApp::OnContextCreated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                 CefRefPtr<CefV8Context> context) {
  for (const auto& d : render_delegates_) d->OnContextCreated(this, browser, frame, context);
}

void ClientApp::OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                  CefRefPtr<CefV8Context> context) {
  for (const auto& d : render_delegates_) d->OnContextReleased(this, browser, frame, context);
  for (auto it = callbacks_.begin(); it != callbacks_.end();) {
    if (it->second.context->IsSame(context))
      it = callbacks_.erase(it);
    else
      ++it;
  }
}

void ClientApp::OnFocusedNodeChanged(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                     CefRefPtr<CefDOMNode> node) {
  for (const auto& d : render_delegates_) d->OnFocusedNodeChanged(this, browser, frame, node);
}

bool ClientApp::OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                         CefRefPtr<CefProcessMessage> message) {
  for (const auto& d : render_delegates_)
    if (d->OnProcessMessageReceived(this, browser, source_process, message)) return true;

  if (callbacks_.empty()) return false;
  const std::string& key = message->GetName().ToString();
  auto it = callbacks_.find(key);
  if (it == callbacks_.end()) return false;
  CallbackEntry entry = it->second;

  bool handled = false;
  entry.context->Enter();
  CefRefPtr<CefListValue> list = message->GetArgumentList();
  CefRefPtr<CefV8Value> args = CefV8Value::CreateArray(static_cast<int>(list->GetSize()));
  CopyListToV8Array(list, args);
  CefV8ValueList arguments{CefV8Value::CreateString(key), args};
  CefRefPtr<CefV8Value> result = entry.function->ExecuteFunction(entry.receiver, arguments);
  if (result && result->IsBool()) handled = result->GetBoolValue();
  entry.context->Exit();
  callbacks_.erase(key);
  return handled;
}

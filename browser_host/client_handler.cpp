#include "browser_host/client_handler.h"

#include <glib.h>

#include <atomic>

#include "browser_host/binding_extension.h"
#include "browser_host/client_renderer.h"
#include "browser_host/file_dialog.h"
#include "browser_host/host_callbacks.h"
#include "browser_host/host_log.h"
#include "browser_host/key_filter.h"
#include "browser_host/parent_window.h"
#include "platform/cef/cef_app.h"

namespace {
std::atomic<int> g_live_browsers{0};
}

std::string GetDownloadPath(const std::string& file_name) {
  const char* docs = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
  std::string folder;
  if (docs && *docs) {
    folder = docs;
  } else {
    const char* home = g_get_home_dir();
    if (!home || !*home) return std::string();
    folder = std::string(home) + "/Documents";
  }
  if (g_mkdir_with_parents(folder.c_str(), 0755) != 0) return std::string();
  return folder + "/" + file_name;
}

ClientHandler::ClientHandler() {
  binding_extension::CreateProcessMessageDelegates(process_message_delegates_);
  file_dialog::CreateProcessMessageDelegates(process_message_delegates_);
}

int ClientHandler::GetLiveBrowserCount() { return g_live_browsers.load(); }

bool ClientHandler::OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                             CefProcessId source_process,
                                             CefRefPtr<CefProcessMessage> message) {
  if (message->GetName() == client_renderer::kFocusedNodeChangedMessage) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    editable_[browser->GetIdentifier()] = message->GetArgumentList()->GetBool(0);
    return true;
  }
  for (const auto& d : process_message_delegates_)
    if (d->OnProcessMessageReceived(this, browser, source_process, message)) return true;
  return false;
}

bool ClientHandler::IsFocusOnEditable(int browserId) {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  auto it = editable_.find(browserId);
  return it != editable_.end() && it->second;
}

void ClientHandler::OnAddressChange(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                    const CefString& url) {
  AddressChangeCallback cb = Callbacks().addressChange.load();
  if (browser->GetIdentifier() == browser_id_ && frame->IsMain() && cb) cb(url.c_str());
}

void ClientHandler::OnBeforeContextMenu(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                        CefRefPtr<CefMenuModel> model) {
  model->Clear();
}

void ClientHandler::OnLoadStart(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>) {
  if (LoadStartCallBack cb = Callbacks().loadStart.load()) cb();
}

void ClientHandler::OnLoadEnd(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame>, int) {
  if (LoadEndCallBack cb = Callbacks().loadEnd.load()) {
    std::string url = browser->GetMainFrame()->GetURL().ToString();
    cb(url.c_str());
  }
}

void ClientHandler::OnLoadError(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int, const CefString&,
                                const CefString& failedUrl) {
  if (LoadErrorCallBack cb = Callbacks().loadError.load()) cb(failedUrl.c_str());
}

void ClientHandler::OnBeforeDownload(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem>,
                                     const CefString& suggested_name,
                                     CefRefPtr<CefBeforeDownloadCallback> callback) {
  callback->Continue(GetDownloadPath(suggested_name.ToString()), true);
}

void ClientHandler::OnDownloadUpdated(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem> item,
                                      CefRefPtr<CefDownloadItemCallback>) {
  if (item->IsComplete()) PostParentCommand(GetMainHwnd(), kCommandDownloadDone);
}

bool ClientHandler::OnPreKeyEvent(CefRefPtr<CefBrowser> browser, const CefKeyEvent& event, void*,
                                  bool*) {
  CefKeyEvent e = event;
  if (!e.focus_on_editable_field && IsFocusOnEditable(browser->GetIdentifier()))
    e.focus_on_editable_field = 1;
  switch (FilterKey(e)) {
    case KeyFilterDecision::kSwallowBackspace:
      return true;
    case KeyFilterDecision::kSwallowF5:
      KVB_LOG(logDEBUG) << "press F5...";
      return true;
    case KeyFilterDecision::kPass:
      break;
  }
  return false;
}

bool ClientHandler::OnBeforePopup(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString&,
                                  const CefString&) {
  return true;
}

void ClientHandler::OnAfterCreated(CefRefPtr<CefBrowser> browser) {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  if (!browser_) {
    browser_ = browser;
    browser_id_ = browser->GetIdentifier();
    if (MainCefBrowserCreatedCallBack cb = Callbacks().mainBrowserCreated.load()) {
      KVB_LOG(logDEBUG) << "call DoMainCefBrowserCreatedCallBack";
      cb();
    }
  } else {
    popup_browsers_.push_back(browser);
  }
  ++g_live_browsers;
}

void ClientHandler::OnBeforeClose(CefRefPtr<CefBrowser> browser) {
  {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    editable_.erase(browser->GetIdentifier());
    if (browser->GetIdentifier() == browser_id_) {
      browser_ = nullptr;
    } else {
      for (auto it = popup_browsers_.begin(); it != popup_browsers_.end(); ++it) {
        if ((*it)->IsSame(browser)) {
          popup_browsers_.erase(it);
          break;
        }
      }
    }
  }
  if (--g_live_browsers == 0) CefQuitMessageLoop();
}

bool ClientHandler::OnBeforeResourceLoad(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                         CefRefPtr<CefRequest> request) {
  DoBeforeResourceLoadCallBack cb = Callbacks().beforeResourceLoad.load();
  if (!cb) return false;
  std::string url = request->GetURL().ToString();
  return cb(url.c_str());
}

CefRefPtr<CefBrowser> ClientHandler::GetMainBrowser() {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  return browser_;
}

void ClientHandler::CloseAllBrowsers(bool force) {
  if (!CefCurrentlyOn(TID_UI)) {
    CefRefPtr<ClientHandler> self = this;
    CefPostTask(TID_UI, [self, force]() { self->CloseAllBrowsers(force); });
    return;
  }
  std::list<CefRefPtr<CefBrowser>> browsers;
  {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    browsers = popup_browsers_;
  }
  for (const auto& b : browsers) b->GetHost()->CloseBrowser(force);
}

void ClientHandler::ShowDevTools(CefRefPtr<CefBrowser> browser) {
  CefWindowInfo info;
  info.SetAsPopup(browser->GetHost()->GetWindowHandle(), "DevTools");
  browser->GetHost()->ShowDevTools(info, this, CefBrowserSettings());
}

void ClientHandler::SetMainHwnd(CefWindowHandle hwnd) {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  main_hwnd_ = hwnd;
}

CefWindowHandle ClientHandler::GetMainHwnd() {
  std::lock_guard<std::recursive_mutex> lock(lock_);
  return main_hwnd_;
}

// The program's client of every browser: popups cancelled, context menu emptied, the key
// filter, downloads, the main browser and the live count, loads reported to the host's
// callbacks, and process messages handed to the delegates.
#pragma once

#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/cef/cef_client.h"

class ClientHandler : public CefClient,
                      public CefDisplayHandler,
                      public CefContextMenuHandler,
                      public CefLoadHandler,
                      public CefDownloadHandler,
                      public CefKeyboardHandler,
                      public CefLifeSpanHandler,
                      public CefRequestHandler,
                      public CefRefCounted<ClientHandler> {
 public:
  class ProcessMessageDelegate : public virtual CefBase {
   public:
    virtual bool OnProcessMessageReceived(CefRefPtr<ClientHandler>, CefRefPtr<CefBrowser>,
                                          CefProcessId, CefRefPtr<CefProcessMessage>) {
      return false;
    }
  };
  typedef std::set<CefRefPtr<ProcessMessageDelegate>> ProcessMessageDelegateSet;

  ClientHandler();

  // CefClient
  CefRefPtr<CefContextMenuHandler> GetContextMenuHandler() override { return this; }
  CefRefPtr<CefDisplayHandler> GetDisplayHandler() override { return this; }
  CefRefPtr<CefDownloadHandler> GetDownloadHandler() override { return this; }
  CefRefPtr<CefKeyboardHandler> GetKeyboardHandler() override { return this; }
  CefRefPtr<CefLifeSpanHandler> GetLifeSpanHandler() override { return this; }
  CefRefPtr<CefLoadHandler> GetLoadHandler() override { return this; }
  CefRefPtr<CefRequestHandler> GetRequestHandler() override { return this; }
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                CefRefPtr<CefProcessMessage> message) override;

  void OnAddressChange(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                       const CefString& url) override;
  void OnBeforeContextMenu(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                           CefRefPtr<CefMenuModel> model) override;
  void OnLoadStart(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame) override;
  void OnLoadEnd(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                 int httpStatusCode) override;
  void OnLoadError(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int errorCode,
                   const CefString& errorText, const CefString& failedUrl) override;
  void OnBeforeDownload(CefRefPtr<CefBrowser> browser, CefRefPtr<CefDownloadItem> item,
                        const CefString& suggested_name,
                        CefRefPtr<CefBeforeDownloadCallback> callback) override;
  void OnDownloadUpdated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefDownloadItem> item,
                         CefRefPtr<CefDownloadItemCallback> callback) override;
  bool OnPreKeyEvent(CefRefPtr<CefBrowser> browser, const CefKeyEvent& event, void* os_event,
                     bool* is_keyboard_shortcut) override;
  bool OnBeforePopup(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                     const CefString& target_url, const CefString& target_frame_name) override;
  void OnAfterCreated(CefRefPtr<CefBrowser> browser) override;
  void OnBeforeClose(CefRefPtr<CefBrowser> browser) override;
  bool OnBeforeResourceLoad(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                            CefRefPtr<CefRequest> request) override;

  // Safe from any thread: the reference is taken under the handler's lock.
  CefRefPtr<CefBrowser> GetMainBrowser();
  void CloseAllBrowsers(bool force);
  void ShowDevTools(CefRefPtr<CefBrowser> browser);
  void SetMainHwnd(CefWindowHandle hwnd);
  CefWindowHandle GetMainHwnd();
  // Whether the focused element of that browser's page is editable, as its renderer told.
  bool IsFocusOnEditable(int browserId);

  static int GetLiveBrowserCount();

 private:
  ProcessMessageDelegateSet process_message_delegates_;
  CefRefPtr<CefBrowser> browser_;
  CefWindowHandle main_hwnd_ = nullptr;
  int browser_id_ = 0;
  std::list<CefRefPtr<CefBrowser>> popup_browsers_;
  std::recursive_mutex lock_;  // re-entered by callbacks made under it
  std::map<int, bool> editable_;
};

// The documents folder and the file name; empty when the folder cannot be had.
std::string GetDownloadPath(const std::string& file_name);

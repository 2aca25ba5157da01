// Browsers and frames, as both the program and the web processes see them. The program's
// objects drive a WebKitWebView; a web process's objects stand for its page and frames.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/cef/cef_base.h"
#include "platform/cef/cef_file_dialog.h"
#include "platform/cef/cef_process_message.h"
#include "platform/cef/cef_string.h"

// A GtkWidget* on this platform.
typedef void* CefWindowHandle;

class CefBrowser;
class CefClient;

enum cef_state_t {
  STATE_DEFAULT = 0,
  STATE_ENABLED,
  STATE_DISABLED,
};

struct CefBrowserSettings {
  cef_state_t javascript_access_clipboard = STATE_DEFAULT;
  cef_state_t javascript_dom_paste = STATE_DEFAULT;
  cef_state_t universal_access_from_file_urls = STATE_DEFAULT;
  cef_state_t file_access_from_file_urls = STATE_DEFAULT;
  cef_state_t web_security = STATE_DEFAULT;
};

// Where a browser's view goes: into a parent container at a place of it, or into a
// top-level window of its own.
struct CefWindowInfo {
  CefWindowHandle parent_window = nullptr;
  int x = 0, y = 0, width = 0, height = 0;  // for a top-level window; 0 or less: default
  CefString window_name;

  void SetAsChild(CefWindowHandle parent, int left, int top, int w, int h) {
    parent_window = parent;
    x = left;
    y = top;
    width = w;
    height = h;
  }
  void SetAsPopup(CefWindowHandle /*owner*/, const CefString& name) {
    parent_window = nullptr;
    window_name = name;
  }
};

class CefFrame : public virtual CefBase {
 public:
  virtual bool IsMain() = 0;
  virtual int64_t GetIdentifier() = 0;
  virtual CefString GetURL() = 0;
  virtual CefRefPtr<CefBrowser> GetBrowser() = 0;
  // The program's side only: load a URL, run script text in the page.
  virtual void LoadURL(const CefString& url) = 0;
  virtual void ExecuteJavaScript(const CefString& code, const CefString& script_url,
                                 int start_line) = 0;
};

class CefBrowserHost : public virtual CefBase {
 public:
  // Request a browser; OnAfterCreated follows on the main thread. False when the request is
  // refused (bad parent, browser layer not started).
  static bool CreateBrowser(const CefWindowInfo& window_info, CefRefPtr<CefClient> client,
                            const CefString& url, const CefBrowserSettings& settings,
                            void* request_context);
  // The same, with OnAfterCreated called before it returns.
  static CefRefPtr<CefBrowser> CreateBrowserSync(const CefWindowInfo& window_info,
                                                 CefRefPtr<CefClient> client, const CefString& url,
                                                 const CefBrowserSettings& settings,
                                                 void* request_context);

  virtual CefRefPtr<CefBrowser> GetBrowser() = 0;
  // Closing completes later, on the main thread, with OnBeforeClose.
  virtual void CloseBrowser(bool force_close) = 0;
  virtual CefWindowHandle GetWindowHandle() = 0;
  virtual void ShowDevTools(const CefWindowInfo& window_info, CefRefPtr<CefClient> client,
                            const CefBrowserSettings& settings) = 0;
  // Opens a file dialog, modal on the browser's window, and returns at once; |callback|
  // hears the outcome on the main thread. |accept_types| are MIME types ("image/png",
  // "image/*") or extensions (".png", "png"). A host without a window answers with no path.
  virtual void RunFileDialog(FileDialogMode mode, const CefString& title,
                             const CefString& default_file_name,
                             const std::vector<CefString>& accept_types,
                             CefRefPtr<CefRunFileDialogCallback> callback);
};

class CefBrowser : public virtual CefBase {
 public:
  virtual CefRefPtr<CefBrowserHost> GetHost() = 0;  // null in a web process
  virtual int GetIdentifier() = 0;
  virtual bool IsSame(CefRefPtr<CefBrowser> that) = 0;
  virtual CefRefPtr<CefFrame> GetMainFrame() = 0;
  virtual void GoBack() = 0;
  virtual void GoForward() = 0;
  virtual void Reload() = 0;
  virtual void StopLoad() = 0;
  // May be called from any thread of the program; the message leaves from the main thread.
  virtual bool SendProcessMessage(CefProcessId target, CefRefPtr<CefProcessMessage> message) = 0;
};

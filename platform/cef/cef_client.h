// The program's handlers of browser events. Every handler runs on the main thread.
#pragma once

#include <map>
#include <string>

#include "platform/cef/cef_base.h"
#include "platform/cef/cef_browser.h"
#include "platform/cef/cef_process_message.h"
#include "platform/cef/cef_string.h"

// --- Display.
class CefDisplayHandler : public virtual CefBase {
 public:
  virtual void OnAddressChange(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString&) {}
};

// --- Context menu.
class CefMenuModel : public virtual CefBase {
 public:
  virtual bool Clear() = 0;
  virtual int GetCount() = 0;
};

class CefContextMenuHandler : public virtual CefBase {
 public:
  virtual void OnBeforeContextMenu(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                   CefRefPtr<CefMenuModel>) {}
};

// --- Loads.
class CefLoadHandler : public virtual CefBase {
 public:
  virtual void OnLoadStart(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>) {}
  virtual void OnLoadEnd(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int /*httpStatusCode*/) {}
  virtual void OnLoadError(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, int /*errorCode*/,
                           const CefString& /*errorText*/, const CefString& /*failedUrl*/) {}
};

// --- Downloads.
class CefDownloadItem : public virtual CefBase {
 public:
  virtual bool IsInProgress() = 0;
  virtual bool IsComplete() = 0;  // finished and written: never true after a failure
  virtual bool IsCanceled() = 0;
  virtual CefString GetFullPath() = 0;
  virtual CefString GetURL() = 0;
};

class CefBeforeDownloadCallback : public virtual CefBase {
 public:
  // |download_path| is the target, or with |show_dialog| the proposal of a save dialog.
  // A download whose callback is never continued is cancelled.
  virtual void Continue(const CefString& download_path, bool show_dialog) = 0;
};

class CefDownloadItemCallback : public virtual CefBase {
 public:
  virtual void Cancel() = 0;
};

class CefDownloadHandler : public virtual CefBase {
 public:
  virtual void OnBeforeDownload(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem>,
                                const CefString& /*suggested_name*/,
                                CefRefPtr<CefBeforeDownloadCallback>) {}
  virtual void OnDownloadUpdated(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem>,
                                 CefRefPtr<CefDownloadItemCallback>) {}
};

// --- Keys.
enum cef_key_event_type_t {
  KEYEVENT_RAWKEYDOWN = 0,
  KEYEVENT_KEYDOWN,
  KEYEVENT_KEYUP,
  KEYEVENT_CHAR,
};

enum {
  EVENTFLAG_SHIFT_DOWN = 1 << 1,
  EVENTFLAG_CONTROL_DOWN = 1 << 2,
  EVENTFLAG_ALT_DOWN = 1 << 3,
};

struct CefKeyEvent {
  cef_key_event_type_t type = KEYEVENT_RAWKEYDOWN;
  unsigned int modifiers = 0;
  int windows_key_code = 0;  // the Windows virtual-key code of the key
  int native_key_code = 0;   // the X11 hardware key code
  int is_system_key = 0;     // pressed with Alt, as a Windows system key comes
  unsigned short character = 0;
  unsigned short unmodified_character = 0;
  int focus_on_editable_field = 0;
};

// The Windows virtual-key code for a GDK key value (0 when the key has none).
int CefWindowsKeyCodeFromKeyval(unsigned int keyval);

class CefKeyboardHandler : public virtual CefBase {
 public:
  // True swallows the event before the page sees it. |os_event| is the GdkEventKey.
  virtual bool OnPreKeyEvent(CefRefPtr<CefBrowser>, const CefKeyEvent&, void* /*os_event*/,
                             bool* /*is_keyboard_shortcut*/) {
    return false;
  }
};

// --- Life span.
class CefLifeSpanHandler : public virtual CefBase {
 public:
  // A page asks for a new window. This layer opens no popup window: the answer true (cancel)
  // is the only one it honours, false is treated alike.
  virtual bool OnBeforePopup(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                             const CefString& /*target_url*/,
                             const CefString& /*target_frame_name*/) {
    return true;
  }
  virtual void OnAfterCreated(CefRefPtr<CefBrowser>) {}
  virtual void OnBeforeClose(CefRefPtr<CefBrowser>) {}
};

// --- Requests.
class CefRequest : public virtual CefBase {
 public:
  typedef std::multimap<CefString, CefString> HeaderMap;

  virtual CefString GetURL() = 0;
  virtual void GetHeaderMap(HeaderMap& map) = 0;
};

class CefRequestHandler : public virtual CefBase {
 public:
  // Before a navigation of a browser (WebKit offers no per-resource hook); true cancels it.
  virtual bool OnBeforeResourceLoad(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                    CefRefPtr<CefRequest>) {
    return false;
  }
};

class CefClient : public virtual CefBase {
 public:
  virtual CefRefPtr<CefContextMenuHandler> GetContextMenuHandler() { return nullptr; }
  virtual CefRefPtr<CefDisplayHandler> GetDisplayHandler() { return nullptr; }
  virtual CefRefPtr<CefDownloadHandler> GetDownloadHandler() { return nullptr; }
  virtual CefRefPtr<CefKeyboardHandler> GetKeyboardHandler() { return nullptr; }
  virtual CefRefPtr<CefLifeSpanHandler> GetLifeSpanHandler() { return nullptr; }
  virtual CefRefPtr<CefLoadHandler> GetLoadHandler() { return nullptr; }
  virtual CefRefPtr<CefRequestHandler> GetRequestHandler() { return nullptr; }
  virtual bool OnProcessMessageReceived(CefRefPtr<CefBrowser>, CefProcessId,
                                        CefRefPtr<CefProcessMessage>) {
    return false;
  }
};

// Process-level hooks and the start, loop and end of the browser layer.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/cef/cef_base.h"
#include "platform/cef/cef_browser.h"
#include "platform/cef/cef_command_line.h"
#include "platform/cef/cef_process_message.h"
#include "platform/cef/cef_string.h"
#include "platform/cef/cef_values.h"

class CefV8Context;
class CefDOMNode;

// In the program nothing is needed; a web process gets its extension object and the start-up
// data the program sent along.
struct CefMainArgs {
  void* extension = nullptr;
  const void* user_data = nullptr;  // GVariant*
};

enum cef_log_severity_t {
  LOGSEVERITY_DEFAULT = 0,
  LOGSEVERITY_DISABLE = 99,
};

struct CefSettings {
  bool multi_threaded_message_loop = false;  // only false is supported
  bool command_line_args_disabled = false;
  CefString cache_path;  // website data and cache; empty: WebKit's own folders
  cef_log_severity_t log_severity = LOGSEVERITY_DEFAULT;
};

class CefSchemeRegistrar : public virtual CefBase {
 public:
  virtual bool AddCustomScheme(const CefString& scheme_name, bool is_standard, bool is_local,
                               bool is_display_isolated) = 0;
};

class CefBrowserProcessHandler : public virtual CefBase {
 public:
  virtual void OnContextInitialized() {}
  // Values handed to every web process as it starts (OnRenderThreadCreated there).
  virtual void OnRenderProcessThreadCreated(CefRefPtr<CefListValue> /*extra_info*/) {}
};

class CefRenderProcessHandler : public virtual CefBase {
 public:
  virtual void OnRenderThreadCreated(CefRefPtr<CefListValue> /*extra_info*/) {}
  virtual void OnWebKitInitialized() {}
  virtual void OnBrowserCreated(CefRefPtr<CefBrowser>) {}
  virtual void OnBrowserDestroyed(CefRefPtr<CefBrowser>) {}
  virtual void OnContextCreated(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                CefRefPtr<CefV8Context>) {}
  // A frame's script context goes: the frame loads a new document, or the frame or its page
  // goes away.
  virtual void OnContextReleased(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                 CefRefPtr<CefV8Context>) {}
  // Focus moved to |node| (null: to no element).
  virtual void OnFocusedNodeChanged(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                    CefRefPtr<CefDOMNode>) {}
  virtual bool OnProcessMessageReceived(CefRefPtr<CefBrowser>, CefProcessId,
                                        CefRefPtr<CefProcessMessage>) {
    return false;
  }
};

class CefApp : public virtual CefBase {
 public:
  // |process_type| is empty in the program itself, "renderer" in a web process.
  virtual void OnBeforeCommandLineProcessing(const CefString& /*process_type*/,
                                             CefRefPtr<CefCommandLine>) {}
  virtual void OnRegisterCustomSchemes(CefRefPtr<CefSchemeRegistrar>) {}
  virtual CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() { return nullptr; }
  virtual CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() { return nullptr; }
};

// In the program: -1 (WebKit starts its own helper processes; the program is never re-run as
// one). In a web process: sets the process up and returns 0.
int CefExecuteProcess(const CefMainArgs& args, CefRefPtr<CefApp> application);

// Supplied by the code of the web processes: their start, which calls CefExecuteProcess with
// the application object, as a program's main would.
int CefRendererEntry(const CefMainArgs& args);

// The program's side. GTK must have been initialised by the caller.
bool CefInitialize(const CefMainArgs& args, const CefSettings& settings,
                   CefRefPtr<CefApp> application);
void CefShutdown();
// Runs a nested main loop until CefQuitMessageLoop; loops nest, and a quit ends the innermost.
void CefRunMessageLoop();
void CefQuitMessageLoop();
// Switches of the program's command line that no WebKit setting stands for.
std::vector<std::string> CefGetUnappliedSwitches();

enum CefThreadId {
  TID_UI,
};
bool CefCurrentlyOn(CefThreadId thread);
// Queued to the thread, run in order; never run inline.
bool CefPostTask(CefThreadId thread, std::function<void()> task);

// Web processes hand the program's script an object whose native functions call |handler|.
// A "native function NAME();" declaration in |javascript_code| binds NAME to |handler|.
class CefV8Handler;
bool CefRegisterExtension(const CefString& extension_name, const CefString& javascript_code,
                          CefRefPtr<CefV8Handler> handler);

// The cookie stores: WebKit keeps cookies for "http" and "https" and for no other scheme.
class CefCookieManager : public virtual CefBase {
 public:
  static CefRefPtr<CefCookieManager> GetGlobalManager();
  virtual void SetSupportedSchemes(const std::vector<CefString>& schemes) = 0;
  virtual std::vector<CefString> GetSupportedSchemes() = 0;
};

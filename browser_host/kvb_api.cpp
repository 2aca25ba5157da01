// The exported interface and the process-wide state behind it.
#include "browser_host/kvb_api.h"

#include <gtk/gtk.h>

#include <atomic>
#include <string>

#include "browser_host/client_app.h"
#include "browser_host/client_handler.h"
#include "browser_host/host_callbacks.h"
#include "browser_host/host_log.h"
#include "browser_host/parent_window.h"
#include "browser_host/scheme.h"
#include "browser_host/text_convert.h"
#include "platform/cef/cef_app.h"

namespace {

GtkWidget* g_app_window = nullptr;
GtkWidget* g_parent = nullptr;           // "CEFParentWindow"
bool g_parent_class_registered = false;  // from its creation until KVBCloseCEFMainBrowser
CefRefPtr<ClientHandler> g_handler_ref;  // created with the first main browser, never dropped
std::atomic<ClientHandler*> g_handler{nullptr};

const char kParentName[] = "CEFParentWindow";

CefRefPtr<CefBrowser> MainBrowser() {
  ClientHandler* h = g_handler.load();
  return h ? h->GetMainBrowser() : nullptr;
}

std::string Banner(int leading, const char* text, int trailing) {
  return std::string(leading, ' ') + text + std::string(trailing, ' ') + "\n";
}

void KVBCreateMainCEFBrowser(const char* url) {
  KVB_LOG(logINFO) << "Call KVBCreateMainCEFBrowser";
  if (!g_handler.load()) {
    g_handler_ref = new ClientHandler();
    g_handler.store(g_handler_ref.get());
  }
  g_handler_ref->SetMainHwnd(g_parent);

  CefWindowInfo info;
  GtkAllocation a;
  gtk_widget_get_allocation(g_parent, &a);
  info.SetAsChild(g_parent, 0, 0, a.width, a.height);
  CefBrowserSettings settings;
  settings.javascript_access_clipboard = STATE_ENABLED;
  settings.javascript_dom_paste = STATE_ENABLED;
  settings.universal_access_from_file_urls = STATE_ENABLED;
  settings.file_access_from_file_urls = STATE_ENABLED;
  settings.web_security = STATE_DISABLED;
  std::wstring wide = StringToWString(url ? url : "", CP_ACP);
  bool created =
      CefBrowserHost::CreateBrowser(info, g_handler_ref, CefString(wide), settings, nullptr);
  if (!created) KVB_LOG(logERROR) << "Failed to create main browser.";

  KVB_LOG(logDEBUG) << "Web plug-ins are not supported, not loaded: " << GetModuleFolder()
                    << "/NPSWF32.dll";
  // Without a browser nothing could ever end the loop.
  if (created) CefRunMessageLoop();
}

}  // namespace

HostCallbacks& Callbacks() {
  static HostCallbacks callbacks;
  return callbacks;
}

void PostParentCommand(CefWindowHandle parent, int command) {
  CefPostTask(TID_UI, [parent, command]() {
    if (!parent || parent != g_parent) return;
    const char* text = nullptr;
    if (command == kCommandDownloadDone)
      text = "下载完成！";
    else if (command == kCommandDownloadFailed)
      text = "Sorry，下载失败！";
    else
      return;
    GtkWidget* top = gtk_widget_get_toplevel(g_parent);
    GtkWidget* box =
        gtk_message_dialog_new(GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr, GTK_DIALOG_MODAL,
                               GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s", text);
    gtk_window_set_title(GTK_WINDOW(box), "文件下载");
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
  });
}

extern "C" {

int KVBExecProcess(KVBInstanceHandle) {
  KVB_LOG(logINFO) << "Call KVBExecProcess";
  return CefExecuteProcess(CefMainArgs(), new ClientApp());
}

int KVBCefInit(void) {
  std::string folder = GetModuleFolder();
  std::string logPath = folder + "libkvb.log";
  if (FILE* f = fopen(logPath.c_str(), "ae")) Output2FILE::SetFile(f);
  KVB_LOG(logNULL) << std::string(70, '=') << "\n";
  KVB_LOG(logNULL) << Banner(28, "Cef Log Start", 29);
  KVB_LOG(logNULL) << std::string(70, '=');
  KVB_LOG(logINFO) << "Call KVBCefInit";

  int result = 0;
  if (gtk_init_check(nullptr, nullptr)) {
    CefSettings settings;
    settings.multi_threaded_message_loop = false;
    settings.command_line_args_disabled = true;
    settings.cache_path = folder + "temp/cache";
    settings.log_severity = LOGSEVERITY_DISABLE;
    result = CefInitialize(CefMainArgs(), settings, new ClientApp()) ? 1 : 0;
    for (const std::string& s : CefGetUnappliedSwitches())
      KVB_LOG(logDEBUG) << "Switch kept without effect: " << s;
  }
  InitRegScheme();
  return result;
}

void KVBCefShutdown(void) {
  KVB_LOG(logINFO) << "Call KVBCefShutdown";
  CefShutdown();
  KVB_LOG(logNULL) << std::string(70, '=') << "\n";
  KVB_LOG(logNULL) << Banner(30, "Cef Log End", 29);
  KVB_LOG(logNULL) << std::string(70, '=') << "\n\n";
  Output2FILE::CloseFile();
}

void KVBCreateCEFMainBrowser(KVBWindowHandle applicationWindow, const char* url) {
  KVB_LOG(logINFO) << "Call KVBCreateCEFMainBrowser";
  g_app_window = static_cast<GtkWidget*>(applicationWindow);
  if (g_parent_class_registered) {
    KVB_LOG(logERROR) << "Failed to register window class";
    return;
  }
  g_parent_class_registered = true;
  if (!g_app_window || !GTK_IS_CONTAINER(g_app_window)) return;
  g_parent = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_widget_set_name(g_parent, kParentName);
  gtk_widget_set_hexpand(g_parent, TRUE);
  gtk_widget_set_vexpand(g_parent, TRUE);
  gtk_container_add(GTK_CONTAINER(g_app_window), g_parent);
  gtk_widget_show(g_parent);
  KVB_LOG(logDEBUG) << "Main cef browser parent window created";
  KVBCreateMainCEFBrowser(url);
}

void KVBCreateSubCEFBrowser(const char* url, int left, int top, int right, int bottom,
                            const char* title) {
  KVB_LOG(logINFO) << "Call KVBCreateSubCEFBrowser";
  if (!g_handler.load()) return;
  CefWindowInfo info;
  info.x = left;
  info.y = top;
  info.width = right - left;
  info.height = bottom - top;
  info.window_name = CefString(title ? title : "");
  CefBrowserHost::CreateBrowserSync(info, g_handler_ref, CefString(url ? url : ""),
                                    CefBrowserSettings(), nullptr);
}

void KVBCloseCEFMainBrowser(void) {
  KVB_LOG(logINFO) << "Call KVBCloseCEFMainBrowser";
  if (!g_handler.load()) return;
  if (CefRefPtr<CefBrowser> b = MainBrowser()) {
    b->GetHost()->CloseBrowser(false);
    if (GtkWidget* w = static_cast<GtkWidget*>(b->GetHost()->GetWindowHandle()))
      gtk_widget_destroy(w);
  }
  if (g_parent) gtk_widget_destroy(g_parent);
  if (!g_parent_class_registered) KVB_LOG(logERROR) << "UnregisterClass error";
  g_parent_class_registered = false;
  g_parent = nullptr;
}

void KVBCloseAllBrowsers(void) {
  KVB_LOG(logINFO) << "Call KVBCloseAllBrowsers";
  if (ClientHandler* h = g_handler.load()) {
    h->CloseAllBrowsers(true);
    KVBCloseCEFMainBrowser();
  }
}

void KVBNavigate(const char* url) {
  std::wstring wide = StringToWString(url ? url : "", CP_ACP);
  KVB_LOG(logINFO) << "Call KVBNavigate: " << (url ? url : "");
  if (CefRefPtr<CefBrowser> b = MainBrowser()) b->GetMainFrame()->LoadURL(CefString(wide));
}

void KVBNavBack(void) {
  KVB_LOG(logINFO) << "Call KVBNavBack";
  if (CefRefPtr<CefBrowser> b = MainBrowser()) b->GoBack();
}

void KVBNavForeWard(void) {
  KVB_LOG(logINFO) << "Call KVBNavForeWard";
  if (CefRefPtr<CefBrowser> b = MainBrowser()) b->GoForward();
}

void KVBNavRefresh(void) {
  KVB_LOG(logINFO) << "Call KVBNavRefresh";
  if (CefRefPtr<CefBrowser> b = MainBrowser()) b->Reload();
}

void KVBNavCancel(void) {
  KVB_LOG(logINFO) << "Call KVBNavCancel";
  if (CefRefPtr<CefBrowser> b = MainBrowser()) b->StopLoad();
}

void KVBExecJS(const char* code, const char* scriptUrl) {
  if (!g_handler.load()) return;
  std::wstring c = StringToWString(code ? code : "", CP_ACP);
  std::wstring u = StringToWString(scriptUrl ? scriptUrl : "", CP_ACP);
  if (CefRefPtr<CefBrowser> b = MainBrowser())
    b->GetMainFrame()->ExecuteJavaScript(CefString(c), CefString(u), 0);
}

void KVBShowDevTools(void) {
  KVB_LOG(logINFO) << "Call KVBShowDevTools";
  if (CefRefPtr<CefBrowser> b = MainBrowser()) g_handler.load()->ShowDevTools(b);
}

KVBWindowHandle KVBGetCEFHandle(void) {
  KVB_LOG(logINFO) << "Call KVBGetCEFHandle";
  return g_parent;
}

#define KVB_REGISTER(function, type, slot)          \
  void function(type callback) {                    \
    KVB_LOG(logINFO) << "Call " #function;          \
    if (callback) Callbacks().slot.store(callback); \
  }

KVB_REGISTER(KVBRegDisptchCmdCallBack, DisptchCmdCallBack, dispatch)
KVB_REGISTER(KVBRegLoadEndCallBack, LoadEndCallBack, loadEnd)
KVB_REGISTER(KVBRegLoadStartCallBack, LoadStartCallBack, loadStart)
KVB_REGISTER(KVBRegLoadErrorCallBack, LoadErrorCallBack, loadError)
KVB_REGISTER(KVBRegAddressChangeCallback, AddressChangeCallback, addressChange)
KVB_REGISTER(KVBRegMainCefBrowserCreatedCallBack, MainCefBrowserCreatedCallBack, mainBrowserCreated)
KVB_REGISTER(KVBRegDoBeforeResourceLoadCallBack, DoBeforeResourceLoadCallBack, beforeResourceLoad)
KVB_REGISTER(KVBRegGetResSizeCallback, GetResSizeCallback, resSize)
KVB_REGISTER(KVBRegLoadResContentCallback, LoadResContentCallback, resContent)

void SetParams(void) {}

}  // extern "C"

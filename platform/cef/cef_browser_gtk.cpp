// The program's half of the browser layer: browsers are WebKitWebViews, the UI thread is the
// GTK main thread, and the message loop is a nested GMainLoop.
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <climits>
#include <map>
#include <memory>
#include <string>

#include "platform/base/executable_folder.h"
#include "platform/cef/cef_app.h"
#include "platform/cef/cef_client.h"
#include "platform/cef/cef_gtk_internal.h"
#include "platform/cef/cef_internal.h"

namespace {

GThread* g_ui_thread = nullptr;
WebKitWebContext* g_context = nullptr;
CefRefPtr<CefApp> g_app;
std::vector<GMainLoop*> g_loops;
std::vector<std::string> g_unapplied;
bool g_media_stream = false;
bool g_media_source = false;

void RunOnUi(std::function<void()> fn) {
  if (CefCurrentlyOn(TID_UI))
    fn();
  else
    CefPostTask(TID_UI, std::move(fn));
}

class GtkBrowser;
std::map<WebKitWebView*, GtkBrowser*> g_views;  // live browsers; main thread only

class BrowserFrame : public CefFrame, public CefRefCounted<BrowserFrame> {
 public:
  BrowserFrame(CefRefPtr<GtkBrowser> browser, bool main, int64_t id, std::string url)
      : browser_(browser), main_(main), id_(id), url_(std::move(url)) {}
  bool IsMain() override { return main_; }
  int64_t GetIdentifier() override { return id_; }
  CefString GetURL() override;
  CefRefPtr<CefBrowser> GetBrowser() override;
  void LoadURL(const CefString& url) override;
  void ExecuteJavaScript(const CefString& code, const CefString& script_url, int) override;

 private:
  CefRefPtr<GtkBrowser> browser_;
  bool main_;
  int64_t id_;
  std::string url_;
};

class MenuModel : public CefMenuModel, public CefRefCounted<MenuModel> {
 public:
  explicit MenuModel(WebKitContextMenu* menu) : menu_(menu) {}
  bool Clear() override {
    webkit_context_menu_remove_all(menu_);
    return true;
  }
  int GetCount() override { return static_cast<int>(webkit_context_menu_get_n_items(menu_)); }

 private:
  WebKitContextMenu* menu_;
};

class GtkBrowser : public CefBrowser, public CefBrowserHost, public CefRefCounted<GtkBrowser> {
 public:
  GtkBrowser(WebKitWebView* view, CefRefPtr<CefClient> client)
      : view_(view ? WEBKIT_WEB_VIEW(g_object_ref(view)) : nullptr), client_(client) {
    static int next_devtools_id = -1;
    id_ = view ? static_cast<int>(webkit_web_view_get_page_id(view)) : next_devtools_id--;
  }
  ~GtkBrowser() override {
    // The last reference may go on a pool worker; GTK objects are released on the main thread.
    WebKitWebView* v = view_;
    WebKitWebInspector* i = inspector_;
    auto release = [v, i]() {
      if (v) g_object_unref(v);
      if (i) g_object_unref(i);
    };
    if (CefCurrentlyOn(TID_UI))
      release();
    else
      CefPostTask(TID_UI, release);
  }

  // --- CefBrowser
  CefRefPtr<CefBrowserHost> GetHost() override { return this; }
  int GetIdentifier() override { return id_; }
  bool IsSame(CefRefPtr<CefBrowser> that) override { return that.get() == this; }
  CefRefPtr<CefFrame> GetMainFrame() override { return new BrowserFrame(this, true, 0, ""); }
  void GoBack() override {
    if (Usable()) webkit_web_view_go_back(view_);
  }
  void GoForward() override {
    if (Usable()) webkit_web_view_go_forward(view_);
  }
  void Reload() override {
    if (Usable()) webkit_web_view_reload(view_);
  }
  void StopLoad() override {
    if (Usable()) webkit_web_view_stop_loading(view_);
  }
  bool SendProcessMessage(CefProcessId target, CefRefPtr<CefProcessMessage> message) override {
    if (target != PID_RENDERER || !message) return false;
    CefRefPtr<GtkBrowser> self = this;
    RunOnUi([self, message]() {
      if (!self->Usable()) return;
      WebKitUserMessage* m = webkit_user_message_new(message->GetName().c_str(),
                                                     CefListToVariant(message->GetArgumentList()));
      webkit_web_view_send_message_to_page(self->view_, m, nullptr, nullptr, nullptr);
    });
    return true;
  }

  // --- CefBrowserHost
  CefRefPtr<CefBrowser> GetBrowser() override { return this; }
  void CloseBrowser(bool) override {
    CefRefPtr<GtkBrowser> self = this;
    RunOnUi([self]() {
      if (self->closing_ || self->closed_) return;
      self->closing_ = true;
      if (self->inspector_) webkit_web_inspector_close(self->inspector_);
      CefPostTask(TID_UI, [self]() { self->FinishClose(); });
    });
  }
  CefWindowHandle GetWindowHandle() override {
    if (closed_) return nullptr;
    if (inspector_) return webkit_web_inspector_get_web_view(inspector_);
    if (!view_) return nullptr;
    return toplevel_ ? toplevel_ : GTK_WIDGET(view_);
  }
  void ShowDevTools(const CefWindowInfo& window_info, CefRefPtr<CefClient> client,
                    const CefBrowserSettings& settings) override;

  // --- the layer's own
  bool Usable() const {
    return !closed_ && !view_gone_ && view_ != nullptr && CefCurrentlyOn(TID_UI);
  }
  std::string Uri() const {
    const char* u = (view_ && !closed_) ? webkit_web_view_get_uri(view_) : nullptr;
    return u ? u : "";
  }
  void Load(const std::string& url) {
    CefRefPtr<GtkBrowser> self = this;
    RunOnUi([self, url]() {
      if (self->Usable()) webkit_web_view_load_uri(self->view_, url.c_str());
    });
  }
  void RunScript(const std::string& code, const std::string& url) {
    CefRefPtr<GtkBrowser> self = this;
    RunOnUi([self, code, url]() {
      if (!self->Usable()) return;
      webkit_web_view_evaluate_javascript(self->view_, code.c_str(), code.size(), nullptr,
                                          url.empty() ? nullptr : url.c_str(), nullptr, nullptr,
                                          nullptr);
    });
  }

  void Attach(const CefWindowInfo& info, const std::string& url);
  void NotifyCreated() {
    if (created_ || closed_) return;
    created_ = true;
    if (auto h = client_->GetLifeSpanHandler()) h->OnAfterCreated(this);
  }
  void FinishClose() {
    if (closed_) return;
    CefRefPtr<GtkBrowser> keep = this;
    closed_ = true;
    if (view_) {
      g_signal_handlers_disconnect_by_data(view_, this);
      g_views.erase(view_);
    }
    if (inspector_) {
      g_signal_handlers_disconnect_by_data(inspector_, this);
      webkit_web_inspector_close(inspector_);
    }
    if (inspector_hooked_ && view_)
      g_signal_handlers_disconnect_by_data(webkit_web_view_get_inspector(view_), this);
    // The developer tools cannot outlive the page they inspect.
    if (devtools_) {
      CefRefPtr<GtkBrowser> tools = devtools_;
      devtools_ = nullptr;
      tools->FinishClose();
    }
    if (toplevel_) {
      GtkWidget* top = toplevel_;
      g_object_remove_weak_pointer(G_OBJECT(top), reinterpret_cast<gpointer*>(&toplevel_));
      toplevel_ = nullptr;
      gtk_widget_destroy(top);
    } else if (view_ && !inspector_) {
      gtk_widget_destroy(GTK_WIDGET(view_));
    }
    if (created_) {
      if (auto h = client_->GetLifeSpanHandler()) h->OnBeforeClose(this);
    }
    self_ = nullptr;
  }

  WebKitWebView* view_;
  GtkWidget* toplevel_ = nullptr;
  WebKitWebInspector* inspector_ = nullptr;  // for a developer-tools browser
  CefRefPtr<CefClient> client_;
  CefRefPtr<GtkBrowser> self_;      // kept while the browser lives
  CefRefPtr<GtkBrowser> devtools_;  // the developer tools of this browser, while open
  int id_;
  bool created_ = false;
  bool closing_ = false;
  bool closed_ = false;
  bool inspector_hooked_ = false;
  bool view_gone_ = false;  // the view widget was destroyed; the close completes soon
  // The last key event seen: WebKit hands a key the page did not handle back to the toplevel,
  // which delivers it to the view a second time.
  guint32 last_key_time_ = 0;
  guint last_keyval_ = 0;
  GdkEventType last_key_type_ = GDK_NOTHING;
};

CefString BrowserFrame::GetURL() { return main_ ? CefString(browser_->Uri()) : CefString(url_); }
CefRefPtr<CefBrowser> BrowserFrame::GetBrowser() { return browser_.get(); }
void BrowserFrame::LoadURL(const CefString& url) {
  if (main_) browser_->Load(url.ToString());
}
void BrowserFrame::ExecuteJavaScript(const CefString& code, const CefString& script_url, int) {
  if (main_) browser_->RunScript(code.ToString(), script_url.ToString());
}

CefRefPtr<CefFrame> MainFrame(GtkBrowser* b) { return b->GetMainFrame(); }

// --- Signals of a browser's view.

void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, GtkBrowser* b) {
  auto h = b->client_->GetLoadHandler();
  if (!h) return;
  if (event == WEBKIT_LOAD_STARTED) {
    h->OnLoadStart(b, MainFrame(b));
  } else if (event == WEBKIT_LOAD_FINISHED) {
    int status = 0;
    if (WebKitWebResource* r = webkit_web_view_get_main_resource(view))
      if (WebKitURIResponse* resp = webkit_web_resource_get_response(r))
        status = static_cast<int>(webkit_uri_response_get_status_code(resp));
    h->OnLoadEnd(b, MainFrame(b), status);
  }
}

gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, GtkBrowser* b) {
  if (auto h = b->client_->GetLoadHandler())
    h->OnLoadError(b, MainFrame(b), error ? error->code : 0, error ? error->message : "",
                   uri ? uri : "");
  return FALSE;
}

void OnUriChanged(WebKitWebView* view, GParamSpec*, GtkBrowser* b) {
  const char* uri = webkit_web_view_get_uri(view);
  if (auto h = b->client_->GetDisplayHandler()) h->OnAddressChange(b, MainFrame(b), uri ? uri : "");
}

// The answer to one message of a web process. WebKit answers a message that goes unanswered
// when the message object goes, and both must happen on the main thread.
class UserMessageReply : public CefProcessMessageReply, public CefRefCounted<UserMessageReply> {
 public:
  UserMessageReply(WebKitUserMessage* message, CefRefPtr<GtkBrowser> browser)
      : message_(WEBKIT_USER_MESSAGE(g_object_ref(message))), browser_(browser) {}
  ~UserMessageReply() override {
    WebKitUserMessage* m = message_;
    RunOnUi([m]() { g_object_unref(m); });
  }
  bool Send(CefRefPtr<CefProcessMessage> reply) override {
    if (!reply || sent_.exchange(true)) return false;
    CefRefPtr<UserMessageReply> self = this;
    RunOnUi([self, reply]() {
      if (!self->browser_->Usable()) return;
      webkit_user_message_send_reply(
          self->message_, webkit_user_message_new(reply->GetName().c_str(),
                                                  CefListToVariant(reply->GetArgumentList())));
    });
    return true;
  }

 private:
  WebKitUserMessage* message_;
  CefRefPtr<GtkBrowser> browser_;
  std::atomic<bool> sent_{false};
};

gboolean OnUserMessage(WebKitWebView*, WebKitUserMessage* message, GtkBrowser* b) {
  std::string name = webkit_user_message_get_name(message);
  CefRefPtr<CefListValue> args = CefListFromVariant(webkit_user_message_get_parameters(message));
  if (!name.empty() && name[0] == cef_internal::kInternalPrefix) {
    auto h = b->client_->GetLoadHandler();
    if (!h) return TRUE;
    int64_t id = g_ascii_strtoll(args->GetString(0).c_str(), nullptr, 10);
    CefRefPtr<CefFrame> frame = new BrowserFrame(b, false, id, args->GetString(1).ToString());
    if (name == cef_internal::kFrameLoadStart)
      h->OnLoadStart(b, frame);
    else if (name == cef_internal::kFrameLoadEnd)
      h->OnLoadEnd(b, frame, 200);
    return TRUE;
  }
  CefRefPtr<CefProcessMessage> received = CefProcessMessage::Create(name, args);
  received->SetReply(new UserMessageReply(message, b));
  b->client_->OnProcessMessageReceived(b, PID_RENDERER, received);
  return TRUE;
}

GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction* action, GtkBrowser* b) {
  WebKitURIRequest* req = webkit_navigation_action_get_request(action);
  const char* uri = req ? webkit_uri_request_get_uri(req) : "";
  if (auto h = b->client_->GetLifeSpanHandler()) h->OnBeforePopup(b, MainFrame(b), uri, "");
  return nullptr;  // no popup window is ever opened
}

gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, GtkBrowser* b) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
    // What the view cannot show is saved, as a browser does.
    if (!webkit_response_policy_decision_is_mime_type_supported(response)) {
      webkit_policy_decision_download(decision);
      return TRUE;
    }
    return FALSE;
  }
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
  auto h = b->client_->GetRequestHandler();
  if (!h) return FALSE;
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  WebKitURIRequest* req = webkit_navigation_action_get_request(action);
  const char* uri = req ? webkit_uri_request_get_uri(req) : "";
  CefRefPtr<CefRequest> request =
      cef_internal::MakeRequest(uri, req ? webkit_uri_request_get_http_headers(req) : nullptr);
  // Decided on the IO thread, with the scheme's handlers: the host's resource callbacks never
  // overlap. WebKit waits for the decision while the reference is held.
  CefRefPtr<CefBrowser> browser = b;
  CefRefPtr<CefFrame> frame = MainFrame(b);
  g_object_ref(decision);
  cef_internal::PostToIo([h, browser, frame, request, decision]() {
    bool cancel = h->OnBeforeResourceLoad(browser, frame, request);
    CefPostTask(TID_UI, [decision, cancel]() {
      if (cancel)
        webkit_policy_decision_ignore(decision);
      else
        webkit_policy_decision_use(decision);
      g_object_unref(decision);
    });
  });
  return TRUE;
}

gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*, WebKitHitTestResult*,
                       GtkBrowser* b) {
  auto h = b->client_->GetContextMenuHandler();
  if (!h) return FALSE;
  h->OnBeforeContextMenu(b, MainFrame(b), new MenuModel(menu));
  return webkit_context_menu_get_n_items(menu) == 0;  // an empty menu is not shown
}

gboolean OnKey(GtkWidget*, GdkEventKey* ev, GtkBrowser* b) {
  if (b->closed_) return FALSE;
  if (ev->time == b->last_key_time_ && ev->keyval == b->last_keyval_ &&
      ev->type == b->last_key_type_)
    return FALSE;
  b->last_key_time_ = ev->time;
  b->last_keyval_ = ev->keyval;
  b->last_key_type_ = ev->type;
  auto h = b->client_->GetKeyboardHandler();
  if (!h) return FALSE;
  CefKeyEvent e;
  e.windows_key_code = CefWindowsKeyCodeFromKeyval(ev->keyval);
  e.native_key_code = ev->hardware_keycode;
  if (ev->state & GDK_SHIFT_MASK) e.modifiers |= EVENTFLAG_SHIFT_DOWN;
  if (ev->state & GDK_CONTROL_MASK) e.modifiers |= EVENTFLAG_CONTROL_DOWN;
  if (ev->state & GDK_MOD1_MASK) e.modifiers |= EVENTFLAG_ALT_DOWN;
  e.is_system_key = (ev->state & GDK_MOD1_MASK) ? 1 : 0;
  guint32 ch = gdk_keyval_to_unicode(ev->keyval);
  if (ev->keyval == GDK_KEY_BackSpace) ch = 8;
  if (ev->keyval == GDK_KEY_Return || ev->keyval == GDK_KEY_KP_Enter) ch = 13;
  e.character = e.unmodified_character = static_cast<unsigned short>(ch <= 0xFFFF ? ch : 0);
  bool shortcut = false;
  if (ev->type == GDK_KEY_RELEASE) {
    e.type = KEYEVENT_KEYUP;
    return h->OnPreKeyEvent(b, e, ev, &shortcut);
  }
  e.type = KEYEVENT_RAWKEYDOWN;
  if (h->OnPreKeyEvent(b, e, ev, &shortcut)) return TRUE;
  if (ch == 0) return FALSE;
  // The character event keeps the key's code, as CEF's do on Linux; the character itself is in
  // |character|. Read as a code, Alt+T's 't' would be 116, which is F5's.
  e.type = KEYEVENT_CHAR;
  return h->OnPreKeyEvent(b, e, ev, &shortcut);
}

void OnViewDestroyed(GtkWidget*, GtkBrowser* b) {
  b->view_gone_ = true;
  if (b->closed_) return;
  CefRefPtr<GtkBrowser> keep = b;
  CefPostTask(TID_UI, [keep]() { keep->FinishClose(); });
}

// With media streams switched on, pages capture without a prompt; every other request keeps
// WebKit's own answer.
gboolean OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, GtkBrowser*) {
  if (!g_media_stream || !WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request)) return FALSE;
  webkit_permission_request_allow(request);
  return TRUE;
}

gboolean OnWebViewClose(WebKitWebView*, GtkBrowser* b) {
  b->CloseBrowser(false);
  return TRUE;
}

void ConnectLoadSignals(WebKitWebView* view, GtkBrowser* b) {
  g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), b);
  g_signal_connect(view, "load-failed", G_CALLBACK(OnLoadFailed), b);
}

void GtkBrowser::Attach(const CefWindowInfo& info, const std::string& url) {
  GtkWidget* w = GTK_WIDGET(view_);
  if (info.parent_window) {
    gtk_widget_set_hexpand(w, TRUE);
    gtk_widget_set_vexpand(w, TRUE);
    gtk_container_add(GTK_CONTAINER(info.parent_window), w);
    gtk_widget_show(w);
  } else {
    toplevel_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    // The user may close the window; the pointer is cleared when it goes.
    g_object_add_weak_pointer(G_OBJECT(toplevel_), reinterpret_cast<gpointer*>(&toplevel_));
    gtk_window_set_title(GTK_WINDOW(toplevel_), info.window_name.c_str());
    if (info.width > 0 && info.height > 0)
      gtk_window_set_default_size(GTK_WINDOW(toplevel_), info.width, info.height);
    gtk_window_move(GTK_WINDOW(toplevel_), info.x, info.y);
    gtk_container_add(GTK_CONTAINER(toplevel_), w);
    gtk_widget_show_all(toplevel_);
  }
  ConnectLoadSignals(view_, this);
  g_signal_connect(view_, "notify::uri", G_CALLBACK(OnUriChanged), this);
  g_signal_connect(view_, "user-message-received", G_CALLBACK(OnUserMessage), this);
  g_signal_connect(view_, "create", G_CALLBACK(OnCreate), this);
  g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
  g_signal_connect(view_, "context-menu", G_CALLBACK(OnContextMenu), this);
  g_signal_connect(view_, "key-press-event", G_CALLBACK(OnKey), this);
  g_signal_connect(view_, "key-release-event", G_CALLBACK(OnKey), this);
  g_signal_connect(view_, "destroy", G_CALLBACK(OnViewDestroyed), this);
  g_signal_connect(view_, "close", G_CALLBACK(OnWebViewClose), this);
  g_signal_connect(view_, "permission-request", G_CALLBACK(OnPermissionRequest), this);
  g_views[view_] = this;
  self_ = this;
  if (!url.empty()) webkit_web_view_load_uri(view_, url.c_str());
}

// The developer tools live in a window of their own, never docked into the page's window.
gboolean OnInspectorAttach(WebKitWebInspector* inspector, GtkBrowser*) {
  g_object_ref(inspector);
  CefPostTask(TID_UI, [inspector]() {
    if (webkit_web_inspector_is_attached(inspector)) webkit_web_inspector_detach(inspector);
    g_object_unref(inspector);
  });
  return FALSE;
}

void OnInspectorClosed(WebKitWebInspector*, GtkBrowser* inspected) {
  if (inspected->devtools_) {
    CefRefPtr<GtkBrowser> tools = inspected->devtools_;
    inspected->devtools_ = nullptr;
    tools->FinishClose();
  }
}

void GtkBrowser::ShowDevTools(const CefWindowInfo&, CefRefPtr<CefClient> client,
                              const CefBrowserSettings&) {
  if (!Usable() || inspector_) return;
  WebKitWebInspector* inspector = webkit_web_view_get_inspector(view_);
  if (!inspector_hooked_) {
    inspector_hooked_ = true;
    g_signal_connect(inspector, "closed", G_CALLBACK(OnInspectorClosed), this);
    g_signal_connect(inspector, "attach", G_CALLBACK(OnInspectorAttach), this);
  }
  if (devtools_) {
    webkit_web_inspector_show(inspector);
    return;
  }
  webkit_web_inspector_show(inspector);
  CefRefPtr<GtkBrowser> tools = new GtkBrowser(nullptr, client);
  tools->inspector_ = WEBKIT_WEB_INSPECTOR(g_object_ref(inspector));
  tools->self_ = tools;
  devtools_ = tools;
  CefPostTask(TID_UI, [tools]() { tools->NotifyCreated(); });
}

WebKitSettings* MakeSettings(const CefBrowserSettings& s) {
  WebKitSettings* ws = webkit_settings_new();
  webkit_settings_set_enable_developer_extras(ws, TRUE);
  // Window requests reach the life-span handler, which decides.
  webkit_settings_set_javascript_can_open_windows_automatically(ws, TRUE);
  if (s.javascript_access_clipboard == STATE_ENABLED || s.javascript_dom_paste == STATE_ENABLED)
    webkit_settings_set_javascript_can_access_clipboard(ws, TRUE);
  if (s.universal_access_from_file_urls == STATE_ENABLED)
    webkit_settings_set_allow_universal_access_from_file_urls(ws, TRUE);
  if (s.file_access_from_file_urls == STATE_ENABLED)
    webkit_settings_set_allow_file_access_from_file_urls(ws, TRUE);
  if (s.web_security == STATE_DISABLED &&
      g_object_class_find_property(G_OBJECT_GET_CLASS(ws), "disable-web-security"))
    g_object_set(ws, "disable-web-security", TRUE, nullptr);
  // A page shown again from the back/forward cache would keep a script context that the web
  // process already let go of, and with it a dead bridge: such a page is loaded anew instead.
  webkit_settings_set_enable_page_cache(ws, FALSE);
  if (g_media_stream) webkit_settings_set_enable_media_stream(ws, TRUE);
  if (g_media_source) webkit_settings_set_enable_mediasource(ws, TRUE);
  return ws;
}

CefRefPtr<GtkBrowser> MakeBrowser(const CefWindowInfo& info, CefRefPtr<CefClient> client,
                                  const CefString& url, const CefBrowserSettings& settings) {
  if (!g_context || !client || !CefCurrentlyOn(TID_UI)) return nullptr;
  if (info.parent_window && !GTK_IS_CONTAINER(info.parent_window)) return nullptr;
  WebKitSettings* ws = MakeSettings(settings);
  GtkWidget* w = GTK_WIDGET(
      g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", g_context, "settings", ws, nullptr));
  g_object_unref(ws);
  g_object_ref_sink(w);
  CefRefPtr<GtkBrowser> b = new GtkBrowser(WEBKIT_WEB_VIEW(w), client);
  g_object_unref(w);  // the browser holds its own reference
  b->Attach(info, url.ToString());
  return b;
}

class Registrar : public CefSchemeRegistrar, public CefRefCounted<Registrar> {
 public:
  bool AddCustomScheme(const CefString& scheme, bool is_standard, bool is_local,
                       bool is_display_isolated) override {
    WebKitSecurityManager* sm = webkit_web_context_get_security_manager(g_context);
    const char* s = scheme.c_str();
    if (is_standard) webkit_security_manager_register_uri_scheme_as_cors_enabled(sm, s);
    if (is_local) webkit_security_manager_register_uri_scheme_as_local(sm, s);
    if (is_display_isolated) webkit_security_manager_register_uri_scheme_as_display_isolated(sm, s);
    return true;
  }
};

}  // namespace

WebKitWebContext* cef_internal::ProgramContext() { return g_context; }

bool cef_internal::FindBrowserOfView(WebKitWebView* view, CefRefPtr<CefBrowser>& browser,
                                     CefRefPtr<CefClient>& client) {
  auto it = view ? g_views.find(view) : g_views.end();
  if (it == g_views.end()) return false;
  browser = it->second;
  client = it->second->client_;
  return true;
}

bool CefCurrentlyOn(CefThreadId) { return g_ui_thread && g_thread_self() == g_ui_thread; }

bool CefPostTask(CefThreadId, std::function<void()> task) {
  auto* t = new std::function<void()>(std::move(task));
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer p) -> gboolean {
        (*static_cast<std::function<void()>*>(p))();
        return G_SOURCE_REMOVE;
      },
      t, [](gpointer p) { delete static_cast<std::function<void()>*>(p); });
  return true;
}

int CefExecuteProcess(const CefMainArgs&, CefRefPtr<CefApp>) { return -1; }

bool CefInitialize(const CefMainArgs&, const CefSettings& settings, CefRefPtr<CefApp> app) {
  if (g_context || !app || settings.multi_threaded_message_loop) return false;
  std::string extensions = ExecutableFolder() + "webext";
  if (!g_file_test(extensions.c_str(), G_FILE_TEST_IS_DIR)) return false;
  g_ui_thread = g_thread_self();
  g_app = app;

  CefRefPtr<CefCommandLine> cmd = CefCommandLine::GetGlobalCommandLine();
  app->OnBeforeCommandLineProcessing("", cmd);
  g_unapplied.clear();
  for (const std::string& text : cmd->GetSwitchTexts()) {
    std::string name = CefCommandLine::SwitchName(text.substr(0, text.find('=')));
    if (name == "enable-media-stream")
      g_media_stream = true;
    else if (name == "enable-media-source")
      g_media_source = true;
    else if (name != "no-proxy-server")
      g_unapplied.push_back(text);
  }

  WebKitWebsiteDataManager* data = nullptr;
  std::string cache = settings.cache_path.ToString();
  if (!cache.empty()) {
    g_mkdir_with_parents(cache.c_str(), 0700);
    data = webkit_website_data_manager_new("base-cache-directory", cache.c_str(),
                                           "base-data-directory", cache.c_str(), nullptr);
  } else {
    data = webkit_website_data_manager_new(nullptr);
  }
  if (cmd->HasSwitch("no-proxy-server"))
    webkit_website_data_manager_set_network_proxy_settings(data, WEBKIT_NETWORK_PROXY_MODE_NO_PROXY,
                                                           nullptr);
  g_context = webkit_web_context_new_with_website_data_manager(data);
  if (!cache.empty()) {
    std::string cookies = cache + "/cookies.sqlite";
    webkit_cookie_manager_set_persistent_storage(
        webkit_website_data_manager_get_cookie_manager(data), cookies.c_str(),
        WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
  }
  g_object_unref(data);
  webkit_web_context_set_web_extensions_directory(g_context, extensions.c_str());
  CefRefPtr<CefListValue> extra = CefListValue::Create();
  CefRefPtr<CefBrowserProcessHandler> bph = app->GetBrowserProcessHandler();
  if (bph) bph->OnRenderProcessThreadCreated(extra);
  webkit_web_context_set_web_extensions_initialization_user_data(g_context,
                                                                 CefListToVariant(extra));
  app->OnRegisterCustomSchemes(new Registrar());
  cef_internal::ConnectDownloads(g_context);
  if (bph) bph->OnContextInitialized();
  return true;
}

void CefShutdown() {
  std::map<WebKitWebView*, GtkBrowser*> left = g_views;
  for (auto& v : left) v.second->FinishClose();
  if (g_context) {
    cef_internal::DisconnectDownloads(g_context);
    g_object_unref(g_context);
    g_context = nullptr;
  }
  g_app = nullptr;
}

void CefRunMessageLoop() {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_loops.push_back(loop);
  g_main_loop_run(loop);
  g_loops.pop_back();
  g_main_loop_unref(loop);
}

void CefQuitMessageLoop() {
  if (!g_loops.empty()) g_main_loop_quit(g_loops.back());
}

std::vector<std::string> CefGetUnappliedSwitches() { return g_unapplied; }

bool CefBrowserHost::CreateBrowser(const CefWindowInfo& window_info, CefRefPtr<CefClient> client,
                                   const CefString& url, const CefBrowserSettings& settings,
                                   void*) {
  CefRefPtr<GtkBrowser> b = MakeBrowser(window_info, client, url, settings);
  if (!b) return false;
  // Before the first load events, which need a round trip to the web process.
  g_idle_add_full(
      G_PRIORITY_HIGH,
      [](gpointer p) -> gboolean {
        static_cast<GtkBrowser*>(p)->NotifyCreated();
        return G_SOURCE_REMOVE;
      },
      b.get(), [](gpointer p) { static_cast<GtkBrowser*>(p)->Release(); });
  b->AddRef();
  return true;
}

CefRefPtr<CefBrowser> CefBrowserHost::CreateBrowserSync(const CefWindowInfo& window_info,
                                                        CefRefPtr<CefClient> client,
                                                        const CefString& url,
                                                        const CefBrowserSettings& settings, void*) {
  CefRefPtr<GtkBrowser> b = MakeBrowser(window_info, client, url, settings);
  if (!b) return nullptr;
  b->NotifyCreated();
  return b.get();
}

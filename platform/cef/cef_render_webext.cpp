// The web-process half of the browser layer: a WebKit web extension that plays the program's
// renderer. It gives every frame's script context the registered extensions, reports focus
// changes and sub-frame loads, and carries process messages to and from the program.
#include <JavaScriptCore/JavaScript.h>
#include <webkit2/webkit-web-extension.h>

#include <map>
#include <set>
#include <string>

#include "platform/cef/cef_app.h"
#include "platform/cef/cef_internal.h"
#include "platform/cef/cef_v8.h"

namespace {

WebKitWebExtension* g_extension = nullptr;
CefRefPtr<CefApp> g_app;
CefRefPtr<CefRenderProcessHandler> g_handler;

class RenderBrowser;

class RenderFrame : public CefFrame, public CefRefCounted<RenderFrame> {
 public:
  RenderFrame(CefRefPtr<CefBrowser> browser, WebKitFrame* frame)
      : browser_(browser), frame_(WEBKIT_FRAME(g_object_ref(frame))) {}
  ~RenderFrame() override { g_object_unref(frame_); }
  bool IsMain() override { return webkit_frame_is_main_frame(frame_); }
  int64_t GetIdentifier() override { return static_cast<int64_t>(webkit_frame_get_id(frame_)); }
  CefString GetURL() override { return CefString(webkit_frame_get_uri(frame_)); }
  CefRefPtr<CefBrowser> GetBrowser() override { return browser_; }
  // Loading and running script are the program's business, through its own frame objects.
  void LoadURL(const CefString&) override {}
  void ExecuteJavaScript(const CefString&, const CefString&, int) override {}

 private:
  CefRefPtr<CefBrowser> browser_;
  WebKitFrame* frame_;
};

void OnReply(GObject* page, GAsyncResult* result, gpointer);

class RenderBrowser : public CefBrowser, public CefRefCounted<RenderBrowser> {
 public:
  explicit RenderBrowser(WebKitWebPage* page) : page_(page), id_(webkit_web_page_get_id(page)) {}
  CefRefPtr<CefBrowserHost> GetHost() override { return nullptr; }
  int GetIdentifier() override { return static_cast<int>(id_); }
  bool IsSame(CefRefPtr<CefBrowser> that) override {
    return that && that->GetIdentifier() == GetIdentifier();
  }
  CefRefPtr<CefFrame> GetMainFrame() override {
    if (!page_) return nullptr;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    WebKitFrame* main = webkit_web_page_get_main_frame(page_);
    G_GNUC_END_IGNORE_DEPRECATIONS
    return new RenderFrame(this, main);
  }
  void GoBack() override {}
  void GoForward() override {}
  void Reload() override {}
  void StopLoad() override {}
  // The program may answer with a reply to the message itself; the reply reaches the handler
  // as a message of the program would.
  bool SendProcessMessage(CefProcessId target, CefRefPtr<CefProcessMessage> message) override {
    if (target != PID_BROWSER || !page_ || !message) return false;
    WebKitUserMessage* m = webkit_user_message_new(message->GetName().c_str(),
                                                   CefListToVariant(message->GetArgumentList()));
    webkit_web_page_send_message_to_view(page_, m, nullptr, OnReply, nullptr);
    return true;
  }
  WebKitWebPage* page() const { return page_; }
  void Detach() { page_ = nullptr; }

 private:
  WebKitWebPage* page_;  // not owned; cleared when the page goes
  guint64 id_;
};

struct FrameState {
  CefRefPtr<RenderBrowser> browser;
  CefRefPtr<CefFrame> frame;
  JSGlobalContextRef context = nullptr;  // the frame's present script context, held by the registry
  bool editable_focus = false;           // the frame's last focus notice was of an editable element
};

std::map<WebKitWebPage*, CefRefPtr<RenderBrowser>> g_browsers;
std::map<WebKitFrame*, FrameState> g_frames;

class FocusNode : public CefDOMNode, public CefRefCounted<FocusNode> {
 public:
  explicit FocusNode(bool editable) : editable_(editable) {}
  bool IsEditable() override { return editable_; }

 private:
  bool editable_;
};

void ReleaseContext(FrameState& state) {
  if (!state.context) return;
  JSGlobalContextRef jsc = state.context;
  state.context = nullptr;
  CefRefPtr<CefV8Context> ctx = cef_internal::FindContext(jsc);
  if (ctx && g_handler) g_handler->OnContextReleased(state.browser, state.frame, ctx);
  cef_internal::ForgetContext(jsc);
}

void OnFrameGone(gpointer, GObject* where) {
  auto it = g_frames.find(reinterpret_cast<WebKitFrame*>(where));
  if (it == g_frames.end()) return;
  ReleaseContext(it->second);
  g_frames.erase(it);
}

// The layer's own notices want no answer.
void SendInternal(const CefRefPtr<RenderBrowser>& browser, const char* name, WebKitFrame* frame) {
  if (!browser->page()) return;
  CefRefPtr<CefListValue> args = CefListValue::Create();
  args->SetString(0, std::to_string(webkit_frame_get_id(frame)));
  const char* uri = webkit_frame_get_uri(frame);
  args->SetString(1, uri ? uri : "");
  webkit_web_page_send_message_to_view(browser->page(),
                                       webkit_user_message_new(name, CefListToVariant(args)),
                                       nullptr, nullptr, nullptr);
}

// The dispatcher behind every extension's native functions: (name, this, argument...). The
// function object carries its extension.
JSValueRef NativeDispatch(JSContextRef ctx, JSObjectRef function, JSObjectRef, size_t argc,
                          const JSValueRef argv[], JSValueRef* exception) {
  auto* ext = static_cast<const cef_internal::Extension*>(JSObjectGetPrivate(function));
  if (!ext || argc < 2) return JSValueMakeUndefined(ctx);
  cef_internal::CallingScript calling(ctx);
  std::string name = cef_internal::ScriptString(ctx, argv[0]);
  CefRefPtr<CefV8Value> self = calling.Argument(argv[1]);
  CefV8ValueList arguments;
  arguments.reserve(argc - 2);
  for (size_t i = 2; i < argc; ++i) arguments.push_back(calling.Argument(argv[i]));
  CefRefPtr<CefV8Value> retval;
  CefString thrown;
  bool handled = ext->handler->Execute(name, self, arguments, retval, thrown);
  if (!thrown.empty()) {
    *exception = cef_internal::ScriptError(ctx, thrown.ToString());
    return JSValueMakeUndefined(ctx);
  }
  // The script holds the value once it is returned; nothing can collect it before.
  if (handled && retval) return cef_internal::JscOf(retval);
  return JSValueMakeUndefined(ctx);
}

// A class for native functions: the object's private data is what the call needs.
JSClassRef FunctionClass(JSObjectCallAsFunctionCallback call) {
  JSClassDefinition definition = kJSClassDefinitionEmpty;
  definition.callAsFunction = call;
  return JSClassCreate(&definition);
}

// The layer's own hooks in a frame: focus moves between editable and other elements (also
// when the focused element leaves the document, which fires no focusout), and the end of a
// sub-frame's load.
const char kFrameScript[] =
    "(function(n,sub){"
    "function ed(e){if(!e||e.nodeType!==1)return false;if(e.isContentEditable)return true;"
    "var t=e.tagName;if(t==='TEXTAREA')return !e.readOnly&&!e.disabled;"
    "if(t==='INPUT'){var y=(e.type||'text').toLowerCase();"
    "return ['text','password','search','email','url','tel','number','date',"
    "'datetime-local','month','time','week'].indexOf(y)>=0&&!e.readOnly&&!e.disabled;}"
    "return false;}"
    "var last=null;"
    "document.addEventListener('focusin',function(v){last=v.target;n('focus',ed(v.target));},true);"
    "document.addEventListener('focusout',function(v){if(!v.relatedTarget){last=null;"
    "n('focus',false);}},true);"
    "new MutationObserver(function(){if(last&&!last.isConnected){last=null;n('focus',false);}})"
    ".observe(document,{childList:true,subtree:true});"
    "if(sub)window.addEventListener('load',function(){n('loadend',false);});"
    "})";

// The hook's private data is its frame, looked up (never dereferenced) among the known frames.
JSValueRef FrameHookCall(JSContextRef ctx, JSObjectRef function, JSObjectRef, size_t argc,
                         const JSValueRef argv[], JSValueRef*) {
  auto* frame = static_cast<WebKitFrame*>(JSObjectGetPrivate(function));
  auto it = g_frames.find(frame);
  if (it == g_frames.end() || argc < 2) return JSValueMakeUndefined(ctx);
  std::string what = cef_internal::ScriptString(ctx, argv[0]);
  bool flag = JSValueToBoolean(ctx, argv[1]);
  FrameState& state = it->second;
  if (what == "focus") {
    state.editable_focus = flag;
    if (g_handler) g_handler->OnFocusedNodeChanged(state.browser, state.frame, new FocusNode(flag));
  } else if (what == "loadend") {
    SendInternal(state.browser, cef_internal::kFrameLoadEnd, frame);
  }
  return JSValueMakeUndefined(ctx);
}

void InstallInContext(JSGlobalContextRef ctx, WebKitFrame* frame) {
  static JSClassRef dispatcherClass = FunctionClass(NativeDispatch);
  static JSClassRef hookClass = FunctionClass(FrameHookCall);
  JSObjectRef global = JSContextGetGlobalObject(ctx);
  JSStringRef dispatcherName = JSStringCreateWithUTF8CString(cef_internal::kNativeDispatcher);
  for (const auto& ext : cef_internal::RegisteredExtensions()) {
    JSObjectRef fn = JSObjectMake(ctx, dispatcherClass, const_cast<cef_internal::Extension*>(&ext));
    // Neither enumerable, writable nor configurable: a page can't replace it.
    JSObjectSetProperty(ctx, global, dispatcherName, fn,
                        kJSPropertyAttributeReadOnly | kJSPropertyAttributeDontEnum |
                            kJSPropertyAttributeDontDelete,
                        nullptr);
    cef_internal::RunScript(
        ctx, cef_internal::BindNativeFunctions(ext.code, cef_internal::kNativeDispatcher),
        ext.name);
  }
  JSStringRelease(dispatcherName);

  JSValueRef factory = cef_internal::RunScript(ctx, kFrameScript, std::string());
  if (!factory || !JSValueIsObject(ctx, factory)) return;
  JSObjectRef factoryFn = JSValueToObject(ctx, factory, nullptr);
  if (!JSObjectIsFunction(ctx, factoryFn)) return;
  JSValueRef params[] = {JSObjectMake(ctx, hookClass, frame),
                         JSValueMakeBoolean(ctx, !webkit_frame_is_main_frame(frame))};
  JSObjectCallAsFunction(ctx, factoryFn, nullptr, 2, params, nullptr);
}

void OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                           gpointer) {
  if (world != webkit_script_world_get_default()) return;
  auto b = g_browsers.find(page);
  if (b == g_browsers.end()) return;
  auto it = g_frames.find(frame);
  if (it == g_frames.end()) {
    FrameState state;
    state.browser = b->second;
    state.frame = new RenderFrame(b->second, frame);
    it = g_frames.emplace(frame, state).first;
    g_object_weak_ref(G_OBJECT(frame), OnFrameGone, nullptr);
  } else {
    ReleaseContext(it->second);
  }
  // A document that goes takes its focused element along without a focusout: focus is on
  // nothing now, when the whole page was replaced or when this frame held the editable focus.
  if (webkit_frame_is_main_frame(frame) || it->second.editable_focus) {
    it->second.editable_focus = false;
    if (g_handler) g_handler->OnFocusedNodeChanged(b->second, it->second.frame, nullptr);
  }
  // The script engine's own context: the bridge's calls skip the GLib layer's value objects.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  JSGlobalContextRef ctx = webkit_frame_get_javascript_context_for_script_world(frame, world);
  G_GNUC_END_IGNORE_DEPRECATIONS
  if (!ctx) return;
  CefRefPtr<CefV8Context> v8 = cef_internal::AddContext(ctx, b->second, it->second.frame);
  it->second.context = ctx;
  InstallInContext(ctx, frame);
  if (!webkit_frame_is_main_frame(frame))
    SendInternal(b->second, cef_internal::kFrameLoadStart, frame);
  if (g_handler) g_handler->OnContextCreated(b->second, it->second.frame, v8);
}

bool Deliver(WebKitWebPage* page, WebKitUserMessage* message) {
  auto b = g_browsers.find(page);
  if (b == g_browsers.end() || !g_handler) return false;
  CefRefPtr<CefProcessMessage> m =
      CefProcessMessage::Create(webkit_user_message_get_name(message),
                                CefListFromVariant(webkit_user_message_get_parameters(message)));
  g_handler->OnProcessMessageReceived(b->second, PID_BROWSER, m);
  return true;
}

gboolean OnUserMessage(WebKitWebPage* page, WebKitUserMessage* message, gpointer) {
  return Deliver(page, message);
}

// A message the program did not answer directly comes back as an error, and is no message.
void OnReply(GObject* page, GAsyncResult* result, gpointer) {
  WebKitUserMessage* reply =
      webkit_web_page_send_message_to_view_finish(WEBKIT_WEB_PAGE(page), result, nullptr);
  if (!reply) return;
  Deliver(WEBKIT_WEB_PAGE(page), reply);
  g_object_unref(reply);
}

void OnPageGone(gpointer, GObject* where) {
  auto* page = reinterpret_cast<WebKitWebPage*>(where);
  auto b = g_browsers.find(page);
  if (b == g_browsers.end()) return;
  CefRefPtr<RenderBrowser> browser = b->second;
  for (auto it = g_frames.begin(); it != g_frames.end();) {
    if (it->second.browser == browser) {
      ReleaseContext(it->second);
      g_object_weak_unref(G_OBJECT(it->first), OnFrameGone, nullptr);
      it = g_frames.erase(it);
    } else {
      ++it;
    }
  }
  browser->Detach();
  g_browsers.erase(b);
  if (g_handler) g_handler->OnBrowserDestroyed(browser);
}

void OnPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  CefRefPtr<RenderBrowser> browser = new RenderBrowser(page);
  g_browsers[page] = browser;
  g_signal_connect(page, "user-message-received", G_CALLBACK(OnUserMessage), nullptr);
  g_object_weak_ref(G_OBJECT(page), OnPageGone, nullptr);
  if (g_handler) g_handler->OnBrowserCreated(browser);
}

class Registrar : public CefSchemeRegistrar, public CefRefCounted<Registrar> {
 public:
  bool AddCustomScheme(const CefString&, bool, bool, bool) override { return true; }
};

}  // namespace

int CefExecuteProcess(const CefMainArgs& args, CefRefPtr<CefApp> application) {
  if (!application || !args.extension) return -1;
  g_extension = static_cast<WebKitWebExtension*>(args.extension);
  g_app = application;
  g_handler = application->GetRenderProcessHandler();
  application->OnRegisterCustomSchemes(new Registrar());
  if (g_handler) {
    GVariant* data = static_cast<GVariant*>(const_cast<void*>(args.user_data));
    g_handler->OnRenderThreadCreated(CefListFromVariant(data));
    g_handler->OnWebKitInitialized();
  }
  g_signal_connect(g_extension, "page-created", G_CALLBACK(OnPageCreated), nullptr);
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                   G_CALLBACK(OnWindowObjectCleared), nullptr);
  return 0;
}

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(
    WebKitWebExtension* extension, const GVariant* user_data) {
  CefMainArgs args;
  args.extension = extension;
  args.user_data = user_data;
  CefRendererEntry(args);
}

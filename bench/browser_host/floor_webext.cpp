// The floor of the page bridge: a web extension that gives the page one function,
// floorSend(text, callback), which sends the text as a WebKit user message and calls back with
// the reply's text. Nothing else happens on the way.
#include <webkit2/webkit-web-extension.h>

namespace {

void OnReply(GObject* page, GAsyncResult* result, gpointer data) {
  JSCValue* callback = static_cast<JSCValue*>(data);
  WebKitUserMessage* reply =
      webkit_web_page_send_message_to_view_finish(WEBKIT_WEB_PAGE(page), result, nullptr);
  if (reply) {
    GVariant* p = webkit_user_message_get_parameters(reply);
    const char* text =
        p && g_variant_is_of_type(p, G_VARIANT_TYPE_STRING) ? g_variant_get_string(p, nullptr) : "";
    JSCValue* r = jsc_value_function_call(callback, G_TYPE_STRING, text, G_TYPE_NONE);
    if (r) g_object_unref(r);
    g_object_unref(reply);
  }
  g_object_unref(callback);
}

JSCValue* Send(JSCValue* text, JSCValue* callback, gpointer page) {
  WebKitUserMessage* m =
      webkit_user_message_new("floor", g_variant_new_take_string(jsc_value_to_string(text)));
  webkit_web_page_send_message_to_view(WEBKIT_WEB_PAGE(page), m, nullptr, OnReply,
                                       g_object_ref(callback));
  return jsc_value_new_undefined(jsc_value_get_context(callback));
}

void OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                           gpointer) {
  if (!webkit_frame_is_main_frame(frame)) return;
  JSCContext* ctx = webkit_frame_get_js_context_for_script_world(frame, world);
  JSCValue* fn = jsc_value_new_function(ctx, "floorSend", G_CALLBACK(Send), page, nullptr,
                                        JSC_TYPE_VALUE, 2, JSC_TYPE_VALUE, JSC_TYPE_VALUE);
  jsc_context_set_value(ctx, "floorSend", fn);
  g_object_unref(fn);
  g_object_unref(ctx);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension*) {
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                   G_CALLBACK(OnWindowObjectCleared), nullptr);
}

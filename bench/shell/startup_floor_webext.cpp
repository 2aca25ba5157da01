// The web extension of the start-up floor: loaded into the web process as the client's is, and
// giving each page a script context of its own world's hook, as the client's does.
#include <webkit2/webkit-web-extension.h>

namespace {

void OnWindowObjectCleared(WebKitScriptWorld*, WebKitWebPage*, WebKitFrame*, gpointer) {}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension*) {
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                   G_CALLBACK(OnWindowObjectCleared), nullptr);
}

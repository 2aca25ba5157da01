// The floor of the client's start-up: a minimal WebKitGTK program that takes the client's road
// to its first page (a web extension loaded, about:blank first, then the page) and nothing else.
// Usage: startup_floor URL
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>

#include "platform/base/executable_folder.h"

namespace {

struct Road {
  std::string page;
  bool blank_done = false;
};

void OnLoad(WebKitWebView* view, WebKitLoadEvent event, Road* road) {
  if (event != WEBKIT_LOAD_FINISHED || road->blank_done) return;
  road->blank_done = true;
  webkit_web_view_load_uri(view, road->page.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !gtk_init_check(nullptr, nullptr)) return 1;
  Road road{argv[1]};
  WebKitWebContext* context = webkit_web_context_new();
  std::string extensions = ExecutableFolder() + "startup_floor_webext";
  webkit_web_context_set_web_extensions_directory(context, extensions.c_str());
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 1018, 729);
  GtkWidget* view = webkit_web_view_new_with_context(context);
  gtk_container_add(GTK_CONTAINER(window), view);
  g_signal_connect(view, "load-changed", G_CALLBACK(OnLoad), &road);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(window);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), "about:blank");
  gtk_main();
  g_object_unref(context);
  return 0;
}

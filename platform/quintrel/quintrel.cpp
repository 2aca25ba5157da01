#include "platform/quintrel/quintrel.h"

#include <gtk/gtk.h>

namespace {

// While locked, the grab is checked every so often and taken again when it was lost (the window
// was not yet viewable, another window of the program took it, the server broke it).
constexpr guint kCheckMs = 100;

guint g_timer = 0;
GdkWindow* g_grabbed = nullptr;

// The window to grab for: the active toplevel, else the largest one on show.
GtkWindow* ChooseWindow() {
  GtkWindow* best = nullptr;
  long best_area = -1;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* it = toplevels; it; it = it->next) {
    GtkWindow* window = GTK_WINDOW(it->data);
    GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(window));
    if (!gtk_widget_get_visible(GTK_WIDGET(window)) || !gdk_window ||
        !gdk_window_is_viewable(gdk_window) ||
        gtk_window_get_window_type(window) != GTK_WINDOW_TOPLEVEL)
      continue;
    if (gtk_window_is_active(window)) {
      best = window;
      break;
    }
    long area = static_cast<long>(gdk_window_get_width(gdk_window)) *
                gdk_window_get_height(gdk_window);
    if (area > best_area) {
      best = window;
      best_area = area;
    }
  }
  g_list_free(toplevels);
  return best;
}

GdkSeat* DefaultSeat() {
  GdkDisplay* display = gdk_display_get_default();
  return display ? gdk_display_get_default_seat(display) : nullptr;
}

bool HoldsGrab() {
  GdkSeat* seat = DefaultSeat();
  if (!seat || !g_grabbed) return false;
  GdkDevice* keyboard = gdk_seat_get_keyboard(seat);
  return keyboard && gdk_display_device_is_grabbed(gdk_display_get_default(), keyboard);
}

void Release() {
  GdkSeat* seat = DefaultSeat();
  if (seat && g_grabbed) gdk_seat_ungrab(seat);
  if (g_grabbed) g_object_unref(g_grabbed);
  g_grabbed = nullptr;
}

void Grab() {
  GdkSeat* seat = DefaultSeat();
  GtkWindow* window = ChooseWindow();
  if (!seat || !window) return;
  GdkWindow* target = gtk_widget_get_window(GTK_WIDGET(window));
  if (HoldsGrab() && target == g_grabbed) return;
  Release();
  // Owner events: keys still reach whichever of the program's windows has the focus.
  if (gdk_seat_grab(seat, target, GDK_SEAT_CAPABILITY_KEYBOARD, TRUE, nullptr, nullptr, nullptr,
                    nullptr) == GDK_GRAB_SUCCESS)
    g_grabbed = GDK_WINDOW(g_object_ref(target));
}

gboolean OnCheck(gpointer) {
  Grab();
  return G_SOURCE_CONTINUE;
}

}  // namespace

extern "C" {

void SetHook() {
  if (!gdk_display_get_default()) return;
  Grab();
  if (!g_timer) g_timer = g_timeout_add(kCheckMs, OnCheck, nullptr);
}

void ExitHook() {
  if (g_timer) {
    g_source_remove(g_timer);
    g_timer = 0;
  }
  Release();
}

}

#include "shell/bitmap_button.h"

#include "shell/skin_frame.h"

gboolean BitmapButton::Draw(GtkWidget* widget, cairo_t* cr, BitmapButton* self) {
  int index = self->down ? self->pushed : self->inside ? self->hover : self->normal;
  DrawImageSlice(cr, self->images, index, self->count, 0, 0,
                 gtk_widget_get_allocated_width(widget), gtk_widget_get_allocated_height(widget));
  return TRUE;
}

gboolean BitmapButton::Crossing(GtkWidget* widget, GdkEventCrossing* event, BitmapButton* self) {
  self->inside = event->type == GDK_ENTER_NOTIFY;
  if (!self->inside) self->down = false;
  gtk_widget_queue_draw(widget);
  return FALSE;
}

gboolean BitmapButton::Press(GtkWidget* widget, GdkEventButton* event, BitmapButton* self) {
  if (event->button != GDK_BUTTON_PRIMARY || event->type != GDK_BUTTON_PRESS) return FALSE;
  self->down = true;
  gtk_widget_queue_draw(widget);
  return TRUE;
}

gboolean BitmapButton::Release(GtkWidget* widget, GdkEventButton* event, BitmapButton* self) {
  if (event->button != GDK_BUTTON_PRIMARY) return FALSE;
  bool clicked = self->down && self->inside;
  self->down = false;
  gtk_widget_queue_draw(widget);
  if (clicked && self->click) self->click();
  return TRUE;
}

void BitmapButton::Free(gpointer data, GClosure*) { delete static_cast<BitmapButton*>(data); }

GtkWidget* BitmapButton::Make(const char* image, int count, int normal, int pushed, int hover,
                               int width, int height, const char* tooltip,
                               std::function<void()> click) {
  auto* self = new BitmapButton();
  self->images = SkinImageCache::Instance().GetImage(image);
  self->count = count;
  self->normal = normal;
  self->pushed = pushed;
  self->hover = hover;
  self->click = std::move(click);
  self->widget = gtk_event_box_new();
  gtk_widget_set_size_request(self->widget, width, height);
  gtk_widget_set_app_paintable(self->widget, TRUE);
  if (tooltip) gtk_widget_set_tooltip_text(self->widget, tooltip);
  gtk_widget_add_events(self->widget, GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK |
                                          GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
  g_signal_connect_data(self->widget, "draw", G_CALLBACK(Draw), self, Free,
                        static_cast<GConnectFlags>(0));
  g_signal_connect(self->widget, "enter-notify-event", G_CALLBACK(Crossing), self);
  g_signal_connect(self->widget, "leave-notify-event", G_CALLBACK(Crossing), self);
  g_signal_connect(self->widget, "button-press-event", G_CALLBACK(Press), self);
  g_signal_connect(self->widget, "button-release-event", G_CALLBACK(Release), self);
  g_object_set_data(G_OBJECT(self->widget), "bitmap-button", self);
  return self->widget;
}

void BitmapButton::SetImages(GtkWidget* widget, const char* image) {
  auto* self = static_cast<BitmapButton*>(g_object_get_data(G_OBJECT(widget), "bitmap-button"));
  if (!self) return;
  self->images = SkinImageCache::Instance().GetImage(image);
  gtk_widget_queue_draw(widget);
}

// A navigation-bar button drawn from an image list of the skin: pictures side by side, one for
// each state (normal, pushed, under the pointer). The button lives as long as its widget.
#pragma once

#include <gtk/gtk.h>

#include <functional>

struct BitmapButton {
  // A new button of |width| x |height| showing picture |normal|, |pushed| or |hover| of the
  // |count| pictures in |image|; |click| runs when the primary button is released over it.
  static GtkWidget* Make(const char* image, int count, int normal, int pushed, int hover,
                         int width, int height, const char* tooltip,
                         std::function<void()> click);
  // Shows the pictures of |image| from now on.
  static void SetImages(GtkWidget* widget, const char* image);

 private:
  static gboolean Draw(GtkWidget* widget, cairo_t* cr, BitmapButton* self);
  static gboolean Crossing(GtkWidget* widget, GdkEventCrossing* event, BitmapButton* self);
  static gboolean Press(GtkWidget* widget, GdkEventButton* event, BitmapButton* self);
  static gboolean Release(GtkWidget* widget, GdkEventButton* event, BitmapButton* self);
  static void Free(gpointer data, GClosure*);

  GtkWidget* widget = nullptr;
  GdkPixbuf* images = nullptr;
  int count = 1;
  int normal = 0, pushed = 0, hover = 0;
  bool inside = false, down = false;
  std::function<void()> click;
};

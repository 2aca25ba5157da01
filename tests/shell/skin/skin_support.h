// A window with the frame attached, drawn into an image so its pixels can be read.
#pragma once

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "shell/skin_frame.h"

struct FramedWindow {
  explicit FramedWindow(int width = 1018, int height = 729) {
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_container_add(GTK_CONTAINER(window), gtk_drawing_area_new());
    gtk_window_set_default_size(GTK_WINDOW(window), width, height);
  }
  ~FramedWindow() {
    skin.Detach();
    gtk_widget_destroy(window);
  }
  void ShowAndSettle() {
    gtk_widget_show_all(window);
    for (int i = 0; i < 50; ++i) {
      while (gtk_events_pending()) gtk_main_iteration();
      g_usleep(10000);
    }
  }
  // Draws the whole window into |surface| (ARGB32), as the frame paints it.
  cairo_surface_t* Render() {
    int w = gtk_widget_get_allocated_width(window), h = gtk_widget_get_allocated_height(window);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(surface);
    gtk_widget_draw(window, cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    return surface;
  }
  static uint32_t Pixel(cairo_surface_t* surface, int x, int y) {
    const unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    return *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4) & 0xFFFFFF;
  }

  GtkWidget* window;
  CSkinWnd skin;
};

class SkinTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)); }
};

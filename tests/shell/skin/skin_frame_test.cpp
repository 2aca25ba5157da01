// The frame on the default skin: button placement, hit codes, picture choice and painting.
#include <cstdint>

#include "tests/shell/skin/skin_support.h"

namespace {

class SkinFrameTest : public SkinTest {
 protected:
  void SetUp() override { SkinImageCache::Instance().SetSkinPath(SKIN_DIR); }
};

TEST_F(SkinFrameTest, ButtonsSitAtTheCaptionsRightEnd) {
  FramedWindow framed;
  ASSERT_TRUE(framed.skin.Attach(GTK_WINDOW(framed.window), true, true, true, nullptr));
  EXPECT_FALSE(framed.skin.Attach(GTK_WINDOW(framed.window), true, true, true, nullptr));
  framed.ShowAndSettle();
  int w = gtk_widget_get_allocated_width(framed.window);
  ASSERT_EQ(w, 1018);
  auto rect = [&](int id) { return framed.skin.Button(id)->rect; };
  EXPECT_EQ(rect(CSkinWnd::kClose).x, w - 41);
  EXPECT_EQ(rect(CSkinWnd::kClose).width, 36);
  EXPECT_EQ(rect(CSkinWnd::kMinimize).x, w - 97);
  EXPECT_EQ(rect(CSkinWnd::kMaximize).x, w - 69);
  EXPECT_EQ(rect(CSkinWnd::kMaximize).height, 19);
  EXPECT_FALSE(framed.skin.Button(CSkinWnd::kRestore)->visible());
  EXPECT_FALSE(framed.skin.Button(CSkinWnd::kClose)->disabled);

  using Hit = CSkinWnd::Hit;
  EXPECT_EQ(framed.skin.HitTest(w - 20, 10), Hit::kClose);
  EXPECT_EQ(framed.skin.HitTest(w - 60, 10), Hit::kMaximize);
  EXPECT_EQ(framed.skin.HitTest(w - 90, 10), Hit::kMinimize);
  EXPECT_EQ(framed.skin.HitTest(20, 20), Hit::kSystemMenu);
  EXPECT_EQ(framed.skin.HitTest(500, 12), Hit::kCaption);
  EXPECT_EQ(framed.skin.HitTest(w - 20, 25), Hit::kCaption);
  EXPECT_EQ(framed.skin.HitTest(500, 300), Hit::kNowhere);
  EXPECT_EQ(framed.skin.HitTest(1, 300), Hit::kEdge);
  EXPECT_EQ(framed.skin.HitTest(500, 727), Hit::kEdge);

  // The client area lies inside the caption and the borders.
  GtkAllocation client;
  gtk_widget_get_allocation(gtk_bin_get_child(GTK_BIN(framed.window)), &client);
  EXPECT_EQ(client.x, CSkinWnd::kBorderWidth);
  EXPECT_EQ(client.y, CSkinWnd::kCaptionHeight);
  EXPECT_EQ(client.width, w - 2 * CSkinWnd::kBorderWidth);
}

TEST_F(SkinFrameTest, WithoutBoxesOnlyTheCloseButton) {
  FramedWindow framed;
  ASSERT_TRUE(framed.skin.Attach(GTK_WINDOW(framed.window), false, false, false, nullptr));
  EXPECT_EQ(framed.skin.Button(CSkinWnd::kMinimize), nullptr);
  ASSERT_NE(framed.skin.Button(CSkinWnd::kClose), nullptr);
  EXPECT_TRUE(framed.skin.Button(CSkinWnd::kClose)->disabled);
}

TEST_F(SkinFrameTest, PaintsCaptionOutlineEdgesAndButtons) {
  FramedWindow framed;
  ASSERT_TRUE(framed.skin.Attach(GTK_WINDOW(framed.window), true, true, true, nullptr));
  framed.ShowAndSettle();
  cairo_surface_t* surface = framed.Render();
  int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
  EXPECT_EQ(FramedWindow::Pixel(surface, 0, 0), 0xA3A3A3u);
  EXPECT_EQ(FramedWindow::Pixel(surface, w - 1, h / 2), 0xA3A3A3u);
  EXPECT_EQ(FramedWindow::Pixel(surface, w / 2, h - 1), 0xA3A3A3u);
  // Caption: the skin's blue gradient; left edge: the edge image's colours.
  uint32_t caption = FramedWindow::Pixel(surface, w / 2, 16);
  EXPECT_GT(caption & 0xFF, (caption >> 16) & 0xFF) << std::hex << caption;
  uint32_t edge = FramedWindow::Pixel(surface, 1, h / 2);
  EXPECT_GT(edge & 0xFF, (edge >> 16) & 0xFF) << std::hex << edge;
  // The close button's cross is white on its normal picture.
  bool white = false;
  for (int x = w - 41; x < w - 5; ++x)
    for (int y = 1; y < 20; ++y) white = white || FramedWindow::Pixel(surface, x, y) == 0xFFFFFF;
  EXPECT_TRUE(white);
  cairo_surface_destroy(surface);
}

// A state image with one solid colour per picture.
GdkPixbuf* StripedImage(int count) {
  static const uint32_t colours[] = {0x102030, 0x405060, 0x708090, 0xA0B0C0};
  GdkPixbuf* image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 10 * count, 5);
  for (int i = 0; i < count; ++i) {
    GdkPixbuf* part = gdk_pixbuf_new_subpixbuf(image, 10 * i, 0, 10, 5);
    gdk_pixbuf_fill(part, (colours[i] << 8) | 0xFF);
    g_object_unref(part);
  }
  return image;
}

uint32_t DrawnColour(const DuiButton& button) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 40, 20);
  cairo_t* cr = cairo_create(surface);
  button.draw(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  uint32_t colour = FramedWindow::Pixel(surface, 10, 10);
  cairo_surface_destroy(surface);
  return colour;
}

TEST_F(SkinFrameTest, ButtonPictureFollowsItsState) {
  GdkPixbuf* four = StripedImage(4);
  DuiButton button;
  button.init({0, 0, 20, 20}, four, 4, 1);
  EXPECT_EQ(DrawnColour(button), 0x102030u);
  button.hover = true;
  EXPECT_EQ(DrawnColour(button), 0x405060u);
  button.pressed = true;
  EXPECT_EQ(DrawnColour(button), 0x708090u);
  button.disabled = true;
  EXPECT_EQ(DrawnColour(button), 0xA0B0C0u);

  // With fewer pictures a state falls back to the next one there is.
  GdkPixbuf* two = StripedImage(2);
  DuiButton small;
  small.init({0, 0, 20, 20}, two, 2, 2);
  small.pressed = true;
  small.disabled = true;
  EXPECT_EQ(DrawnColour(small), 0x102030u);
  small.hover = true;
  EXPECT_EQ(DrawnColour(small), 0x405060u);
  g_object_unref(four);
  g_object_unref(two);
}

}  // namespace

// A skin folder without its images: the frame draws nothing of them and still works.
#include <unistd.h>

#include "tests/shell/skin/skin_support.h"

namespace {

class SkinMissingTest : public SkinTest {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/qwskin-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    dir = folder;
    SkinImageCache::Instance().SetSkinPath(dir + "/");
  }
  void TearDown() override { rmdir(dir.c_str()); }
  std::string dir;
};

TEST_F(SkinMissingTest, NothingIsDrawnAndButtonsStillAnswer) {
  EXPECT_EQ(SkinImageCache::Instance().GetImage("dialog/head_line.png"), nullptr);
  FramedWindow framed(600, 400);
  bool closed = false;
  ASSERT_TRUE(framed.skin.Attach(GTK_WINDOW(framed.window), true, true, true,
                                 [&] { closed = true; }));
  framed.ShowAndSettle();
  cairo_surface_t* surface = framed.Render();
  // Only the outline is left of the frame.
  EXPECT_EQ(FramedWindow::Pixel(surface, 0, 0), 0xA3A3A3u);
  uint32_t caption = FramedWindow::Pixel(surface, 300, 16);
  uint32_t client = FramedWindow::Pixel(surface, 300, 200);
  EXPECT_EQ(caption, client);
  cairo_surface_destroy(surface);
  EXPECT_EQ(framed.skin.HitTest(600 - 20, 10), CSkinWnd::Hit::kClose);
  EXPECT_FALSE(closed);
}

}  // namespace

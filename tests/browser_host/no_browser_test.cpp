// Without a started browser layer no browser can be made: the call must return instead of
// entering a loop that nothing could end.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <fstream>
#include <sstream>

#include "browser_host/host_log.h"
#include "browser_host/kvb_api.h"
#include "browser_host/text_convert.h"

TEST(MainBrowser, NotCreatedMeansNoLoop) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  std::string log = GetModuleFolder() + "libkvb.log";
  Output2FILE::SetFile(fopen(log.c_str(), "w"));
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(window), box);
  KVBCreateCEFMainBrowser(box, "about:blank");  // returns: the layer was never started
  EXPECT_NE(KVBGetCEFHandle(), nullptr);
  KVBCloseCEFMainBrowser();
  EXPECT_EQ(KVBGetCEFHandle(), nullptr);
  gtk_widget_destroy(window);
  Output2FILE::CloseFile();
  std::ifstream in(log);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_NE(s.str().find("[ERROR] Failed to create main browser."), std::string::npos);
}

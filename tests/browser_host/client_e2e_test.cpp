// The client handler's rules in the real browser: popups, context menu, keys, loads of
// frames, downloads, and the end of the loop with the last browser.
#include <gtest/gtest.h>
#include <json/json.h>

#include <fstream>
#include <set>
#include <sstream>

#include "browser_host/client_handler.h"
#include "browser_host/kvb_api.h"
#include "tests/browser_host/e2e_support.h"

namespace {

std::vector<GtkWindow*> VisibleToplevels() {
  std::vector<GtkWindow*> out;
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l; l = l->next)
    if (gtk_widget_get_visible(GTK_WIDGET(l->data))) out.push_back(GTK_WINDOW(l->data));
  g_list_free(all);
  return out;
}

bool MenuShown() {
  for (GtkWindow* w : VisibleToplevels()) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(w));
    if (child && GTK_IS_MENU(child)) return true;
  }
  return false;
}

std::string Xid() { return E2E::WindowXid(); }

void FocusBrowser() {
  gtk_window_present(GTK_WINDOW(E2E::window()));
  gtk_widget_grab_focus(E2E::view());
  E2E::RunCommand("xdotool windowfocus " + Xid() + " 2>/dev/null");
  E2E::Pump(300);
}

std::string ReadLog() {
  std::ifstream in(std::string(E2E::ModuleFolder()) + "libkvb.log");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(ClientHandler, PopupsOpenNothingAndTheOpenerStays) {
  std::string url =
      E2E::Page("popup.html",
                "<script>var w=window.open('about:blank','_blank');"
                "var a=document.createElement('a');a.href='about:blank';a.target='_blank';"
                "document.body.appendChild(a);a.click();"
                "setTimeout(function(){report({opened:w!==null,here:location.href});},300);"
                "</script>");
  E2E::Run(url, [url] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 1));
    Json::Value r = E2E::LastReport();
    EXPECT_FALSE(r["opened"].asBool());
    EXPECT_EQ(r["here"].asString(), url);
    EXPECT_EQ(VisibleToplevels().size(), 1u);
    EXPECT_EQ(ClientHandler::GetLiveBrowserCount(), 1);
    KVBCloseCEFMainBrowser();
  });
}

TEST(ClientHandler, RightClickShowsNoMenu) {
  std::string url =
      E2E::Page("menu.html",
                "<p style='height:500px'>text</p><script>var menus=0;"
                "document.addEventListener('contextmenu',function(){menus++;});</script>");
  E2E::Run(url, [] {
    FocusBrowser();
    E2E::RunCommand("xdotool mousemove --window " + Xid() + " 200 200 click 3");
    E2E::Pump(600);
    EXPECT_FALSE(MenuShown());
    EXPECT_EQ(E2E::Ask("report({menus:menus})")["menus"].asInt(), 1);
    KVBCloseCEFMainBrowser();
  });
}

TEST(ClientHandler, BackspaceOnlyEditsFieldsAndSystemF5IsSwallowed) {
  std::string url =
      E2E::Page("keys.html",
                "<input id=f value='abc'><script>var keys=[];"
                "document.addEventListener('keydown',function(e){keys.push(e.keyCode);},true);"
                "function state(){report({keys:keys,value:document.getElementById('f')?"
                "document.getElementById('f').value:null});keys=[];}</script>");
  E2E::Run(url, [] {
    FocusBrowser();
    E2E::Keys("BackSpace");
    Json::Value r = E2E::Ask("state()");
    EXPECT_EQ(r["keys"].size(), 0u) << "Backspace outside a field reached the page";

    KVBExecJS(
        "var f=document.getElementById('f');f.focus();f.setSelectionRange(3,3);"
        "send('Key.focused','','0');",
        "");
    ASSERT_TRUE(E2E::WaitForRecord("focused"));
    E2E::Keys("BackSpace");
    r = E2E::Ask("state()");
    ASSERT_EQ(r["keys"].size(), 1u);
    EXPECT_EQ(r["keys"][0].asInt(), 8);
    EXPECT_EQ(r["value"].asString(), "ab");

    // The focused field leaves the page without a focusout.
    KVBExecJS(
        "document.getElementById('f').remove();"
        "setTimeout(function(){send('Key.removed','','0');},50);",
        "");
    ASSERT_TRUE(E2E::WaitForRecord("removed"));
    E2E::Keys("BackSpace");
    r = E2E::Ask("state()");
    EXPECT_EQ(r["keys"].size(), 0u) << "Backspace after the field was removed reached the page";

    E2E::Keys("F5");
    r = E2E::Ask("state()");
    ASSERT_EQ(r["keys"].size(), 1u);
    EXPECT_EQ(r["keys"][0].asInt(), 116);

    E2E::Keys("alt+F5");
    r = E2E::Ask("state()");
    for (const auto& k : r["keys"]) EXPECT_NE(k.asInt(), 116) << "Alt+F5 reached the page";
    EXPECT_NE(ReadLog().find("[DEBUG] press F5..."), std::string::npos);

    // Alt+T types the 't' of F5's code, but is no F5: its key down reaches the page.
    E2E::Keys("alt+t");
    r = E2E::Ask("state()");
    bool t = false;
    for (const auto& k : r["keys"]) t |= k.asInt() == 84;
    EXPECT_TRUE(t) << "Alt+T's key down was swallowed";
    KVBCloseCEFMainBrowser();
  });
}

TEST(ClientHandler, FrameLoadsReportTheMainFrameUrl) {
  E2E::WriteFile("child.html", "<html><body>child</body></html>");
  std::string url = E2E::Page("frames.html", "<iframe src='child.html'></iframe>");
  E2E::Run(url, [url] {
    // about:blank, the page and its frame.
    ASSERT_TRUE(E2E::PumpUntil([] { return E2E::loadEnds() >= 3; }));
    EXPECT_GE(E2E::loadStarts(), 3);
    auto urls = E2E::loadEndUrls();
    for (size_t i = 1; i < urls.size(); ++i) EXPECT_EQ(urls[i], url);
    KVBCloseCEFMainBrowser();
  });
}

namespace {

struct DialogWatch {
  bool accept = true;
  int choosers = 0;
  std::vector<std::string> notices;
  std::vector<std::string> titles;
};

gboolean WatchDialogs(gpointer p) {
  auto* w = static_cast<DialogWatch*>(p);
  for (GtkWindow* win : VisibleToplevels()) {
    if (!GTK_IS_DIALOG(win)) continue;
    bool seen = g_object_get_data(G_OBJECT(win), "seen") != nullptr;
    g_object_set_data(G_OBJECT(win), "seen", win);
    if (GTK_IS_FILE_CHOOSER_DIALOG(win)) {
      // A save dialog checks the chosen name before it answers: asked again until it does.
      if (!seen) ++w->choosers;
      gtk_dialog_response(GTK_DIALOG(win), w->accept ? GTK_RESPONSE_ACCEPT : GTK_RESPONSE_CANCEL);
    } else if (GTK_IS_MESSAGE_DIALOG(win) && !seen) {
      gchar* text = nullptr;
      g_object_get(win, "text", &text, nullptr);
      w->notices.push_back(text ? text : "");
      g_free(text);
      const char* title = gtk_window_get_title(win);
      w->titles.push_back(title ? title : "");
      gtk_dialog_response(GTK_DIALOG(win), GTK_RESPONSE_OK);
    }
  }
  return G_SOURCE_CONTINUE;
}

}  // namespace

TEST(ClientHandler, OnlyACompletedDownloadShowsTheNotice) {
  E2E::WriteFile("data.zip", std::string("\x01\x02payload", 9));
  E2E::WriteFile("other.zip", "other");
  std::string url = E2E::Page("download.html", "<p>downloads</p>");
  E2E::Run(url, [] {
    DialogWatch watch;
    guint source = g_timeout_add(50, WatchDialogs, &watch);
    std::string target = E2E::TempDir() + "Documents/data.zip";
    KVBExecJS("location.href='data.zip';", "");
    EXPECT_TRUE(E2E::PumpUntil([&] { return !watch.notices.empty(); }));
    EXPECT_EQ(watch.choosers, 1);
    ASSERT_EQ(watch.notices.size(), 1u);
    EXPECT_EQ(watch.notices[0], "下载完成！");
    EXPECT_EQ(watch.titles[0], "文件下载");
    std::ifstream in(target, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    EXPECT_EQ(s.str(), std::string("\x01\x02payload", 9));

    watch.accept = false;
    KVBExecJS("location.href='other.zip';", "");
    EXPECT_TRUE(E2E::PumpUntil([&] { return watch.choosers == 2; }));
    E2E::Pump(1000);
    EXPECT_EQ(watch.notices.size(), 1u) << "a cancelled download showed a notice";
    g_source_remove(source);
    KVBCloseCEFMainBrowser();
  });
}

TEST(ClientHandler, TheLoopEndsWithTheLastBrowser) {
  std::string url = E2E::Page("last.html", "<p>main</p>");
  std::string sub = E2E::Page("sub.html", "<p>sub</p>");
  E2E::Run(url, [sub] {
    KVBShowDevTools();
    ASSERT_TRUE(E2E::PumpUntil([] { return ClientHandler::GetLiveBrowserCount() == 2; }));
    // The developer tools are closed by the user.
    ASSERT_TRUE(E2E::PumpUntil([] { return VisibleToplevels().size() >= 2; }));
    for (GtkWindow* w : VisibleToplevels())
      if (GTK_WIDGET(w) != E2E::window()) gtk_window_close(w);
    ASSERT_TRUE(E2E::PumpUntil([] { return ClientHandler::GetLiveBrowserCount() == 1; }));
    EXPECT_TRUE(E2E::loopRunning());

    int ends = E2E::loadEnds();
    KVBCreateSubCEFBrowser(sub.c_str(), 10, 10, 410, 310, "Sub");
    EXPECT_EQ(ClientHandler::GetLiveBrowserCount(), 2);
    EXPECT_TRUE(E2E::PumpUntil([ends] { return E2E::loadEnds() > ends; }));
    KVBCloseCEFMainBrowser();
    ASSERT_TRUE(E2E::PumpUntil([] { return ClientHandler::GetLiveBrowserCount() == 1; }));
    EXPECT_TRUE(E2E::loopRunning());
    EXPECT_EQ(KVBGetCEFHandle(), nullptr);
    for (GtkWindow* w : VisibleToplevels())
      if (g_strcmp0(gtk_window_get_title(w), "Sub") == 0) gtk_window_close(w);
  });
  EXPECT_FALSE(E2E::loopRunning());
  EXPECT_EQ(ClientHandler::GetLiveBrowserCount(), 0);
}

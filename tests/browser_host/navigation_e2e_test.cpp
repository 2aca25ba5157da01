// What a page keeps and loses across navigations in the real browser: the bridge of a page that
// Back shows again, and the editable-focus state of a document that has gone.
#include <gtest/gtest.h>
#include <json/json.h>

#include "browser_host/kvb_api.h"
#include "tests/browser_host/e2e_support.h"

TEST(Navigation, APageThatBackShowsAgainHasAWorkingBridge) {
  E2E::Page("ahead.html", "<script>send('Nav.ahead','','0',function(){history.back();});</script>");
  std::string url = E2E::Page("behind.html",
                              "<script>var shown=0;window.addEventListener('pageshow',function(){"
                              "var n=++shown;send('Nav.shown','p'+n,'0',function(k,a){"
                              "report({shown:n,reply:a[0]});});});</script>");
  E2E::Run(url, [] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 1));
    KVBExecJS("location.href='ahead.html';", "");
    ASSERT_TRUE(E2E::WaitForRecord("ahead"));
    // Back on the first page, whose bridge answers as on its first showing.
    ASSERT_TRUE(E2E::WaitForRecord("report", 2)) << "the page shown again could not reach the host";
    Json::Value r = E2E::LastReport();
    EXPECT_EQ(r["reply"].asString(), "reply:Nav|shown|p" + r["shown"].asString() + "|0");
    KVBCloseCEFMainBrowser();
  });
}

TEST(Navigation, BackspaceOnTheNextPageIsSwallowedUntilAFieldThereHasFocus) {
  E2E::Page("next-field.html",
            "<input id=g value='xy'><script>var keys=[];"
            "document.addEventListener('keydown',function(e){keys.push(e.keyCode);},"
            "true);send('Nav.arrived','','0');"
            "function state(){report({keys:keys,value:document.getElementById('g')."
            "value,here:location.pathname});keys=[];}</script>");
  std::string url = E2E::Page("field.html",
                              "<input id=f value='abc'><script>var f=document.getElementById('f');"
                              "f.focus();send('Nav.focused','','0',function(){"
                              "location.href='next-field.html';});</script>");
  E2E::Run(url, [] {
    ASSERT_TRUE(E2E::WaitForRecord("arrived"));
    gtk_window_present(GTK_WINDOW(E2E::window()));
    gtk_widget_grab_focus(E2E::view());
    E2E::RunCommand("xdotool windowfocus " + E2E::WindowXid() + " 2>/dev/null");
    E2E::Pump(300);
    E2E::Keys("BackSpace");
    Json::Value r = E2E::Ask("state()");
    EXPECT_EQ(r["keys"].size(), 0u) << "Backspace on the new page reached it";
    EXPECT_NE(r["here"].asString().find("next-field.html"), std::string::npos);

    KVBExecJS(
        "var g=document.getElementById('g');g.focus();g.setSelectionRange(2,2);"
        "send('Nav.typing','','0');",
        "");
    ASSERT_TRUE(E2E::WaitForRecord("typing"));
    E2E::Keys("BackSpace z");
    r = E2E::Ask("state()");
    EXPECT_EQ(r["value"].asString(), "xz");
    KVBCloseCEFMainBrowser();
  });
}

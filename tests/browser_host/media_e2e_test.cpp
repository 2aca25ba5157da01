// Pages capture from the microphone of a private sound server without being asked, while other
// permission requests keep the browser's own answer.
#include <gtest/gtest.h>
#include <json/json.h>

#include "browser_host/kvb_api.h"
#include "tests/browser_host/e2e_support.h"

TEST(PageMedia, TheMicrophoneIsGrantedAndNothingElse) {
  std::string url = E2E::Page("media.html",
                              "<script>var r={};"
                              "navigator.mediaDevices.getUserMedia({audio:true})"
                              ".then(function(s){var t=s.getAudioTracks();"
                              "r.tracks=t.length;r.state=t.length?t[0].readyState:'';"
                              "t.forEach(function(x){x.stop();});},"
                              "function(e){r.error=e.name;})"
                              ".then(function(){return Notification.requestPermission();})"
                              ".then(function(p){r.notifications=p;},"
                              "function(e){r.notifications=e.name;})"
                              ".then(function(){report(r);});</script>");
  E2E::Run(url, [] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 1, 20000));
    KVBCloseCEFMainBrowser();
  });
  Json::Value r = E2E::LastReport();
  EXPECT_FALSE(r.isMember("error")) << r["error"].asString();
  EXPECT_EQ(r["tracks"].asInt(), 1);
  EXPECT_EQ(r["state"].asString(), "live");
  EXPECT_EQ(r["notifications"].asString(), "denied");
}

// Pages capture from the microphone of a private sound server without being asked, while other
// permission requests keep the browser's own answer.
#include <gtest/gtest.h>
#include <json/json.h>

#include "browser_host/kvb_api.h"
#include "tests/browser_host/e2e_support.h"
#include "tests/support/sound_test_support.h"

TEST(PageMedia, TheMicrophoneIsGrantedAndNothingElse) {
  std::string url =
      "file://" +
      E2E::WriteFile("media.html", std::string("<html><body>") + kPageHelpers +
                                       "<script>var r={};"
                                       "navigator.mediaDevices.getUserMedia({audio:true})"
                                       ".then(function(s){var t=s.getAudioTracks();"
                                       "r.tracks=t.length;r.state=t.length?t[0].readyState:'';"
                                       "t.forEach(function(x){x.stop();});},"
                                       "function(e){r.error=e.name;})"
                                       ".then(function(){return Notification.requestPermission();})"
                                       ".then(function(p){r.notifications=p;},"
                                       "function(e){r.notifications=e.name;})"
                                       ".then(function(){report(r);});</script></body></html>");
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

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (KVBExecProcess(nullptr) >= 0) return 1;
  // Before the browser starts its processes, which take the server from the environment.
  soundtest::SoundServer sound;
  E2E::Init();
  if (KVBCefInit() != 1) {
    fprintf(stderr, "the browser layer did not start\n");
    return 1;
  }
  int rc = RUN_ALL_TESTS();
  KVBCefShutdown();
  E2E::Cleanup();
  return rc;
}

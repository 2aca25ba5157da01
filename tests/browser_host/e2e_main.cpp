#include <gtest/gtest.h>

#include "browser_host/kvb_api.h"
#include "tests/browser_host/e2e_support.h"
#ifdef E2E_SOUND_SERVER
#include "tests/support/sound_test_support.h"
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (KVBExecProcess(nullptr) >= 0) return 1;
#ifdef E2E_SOUND_SERVER
  // Before the browser starts its processes, which take the server from the environment.
  soundtest::SoundServer sound;
#endif
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

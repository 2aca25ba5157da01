// A sound server that has stalled (stopped, not gone) answers nothing, and a device's open, drain
// or close would wait half a minute for it: the library's stop, its end notices and its next start
// come within a bound all the same.
#include <thread>

#include "tests/platform/orvalis/orvalis_fixture.h"

namespace {

using namespace std::chrono;
using Clock = steady_clock;

class StallTest : public OrvalisTest {};

TEST_F(StallTest, StopEndsAndNextStartsComeAtOnce) {
  ASSERT_EQ(api.record(Wide(Path("a.wav")).c_str(), 300, request), 0);
  WaitFor(SND_NOTIFY_ENERGY);
  server->Pause();
  Clock::time_point asked = Clock::now();
  EXPECT_EQ(api.stop(), 0);
  EXPECT_LT(Clock::now() - asked, seconds(2));
  auto ends = Notices(SND_NOTIFY_RECORD_END);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].text, "{\"err_code\":39169}");
  asked = Clock::now();
  EXPECT_EQ(api.record(Wide(Path("b.wav")).c_str(), 300, request), -1);
  EXPECT_LT(Clock::now() - asked, seconds(5));

  // A play under way finds the stall itself and ends with the failure code.
  server->Resume();
  soundtest::WriteWav16(Path("long.wav"),
                        soundtest::Sound{16000, 1, std::vector<float>(16000 * 10, 0.1f)});
  int playValue = 0;
  ClearNotices();
  ASSERT_EQ(api.play(Wide(Path("long.wav")).c_str(), &playValue, request), 0);
  WaitFor(SND_NOTIFY_PLAYPOS);
  server->Pause();
  asked = Clock::now();
  EXPECT_EQ(WaitFor(SND_NOTIFY_PLAY_END, seconds(6)).text, "{\"err_code\":39169}");
  RecordProperty("stalled_play_end_ms",
                 int(duration_cast<milliseconds>(Clock::now() - asked).count()));
}

}  // namespace

// The volume conversions and the volume commands without a mixer. The real mixer is tested
// against a sound server of its own.
#include <gtest/gtest.h>

#include "audio/volume_ctrl.h"
#include "tests/audio/fake_sound_library.h"

namespace {

using org_trellik::PercentFromRaw;
using org_trellik::RawFromPercent;

TEST(VolumeConversion, RoundsToTheNearestPercent) {
  EXPECT_EQ(PercentFromRaw(495, 0, 1000), 50);
  EXPECT_EQ(PercentFromRaw(494, 0, 1000), 49);
  EXPECT_EQ(PercentFromRaw(0, 0, 65536), 0);
  EXPECT_EQ(PercentFromRaw(65536, 0, 65536), 100);
  // Every percentage survives a round trip through the full range; flooring would lose some.
  for (int percent = 0; percent <= 100; ++percent)
    EXPECT_EQ(PercentFromRaw(RawFromPercent(percent, 0, 65536), 0, 65536), percent);
  EXPECT_EQ(RawFromPercent(50, 0, 65536), 32768);
  EXPECT_EQ(RawFromPercent(50, -6400, 0), -3200);
}

TEST(VolumeConversion, ClampsPercentagesAndRawValues) {
  EXPECT_EQ(RawFromPercent(150, 0, 65536), 65536);
  EXPECT_EQ(RawFromPercent(-5, 0, 65536), 0);
  EXPECT_EQ(PercentFromRaw(70000, 0, 65536), 100);
  EXPECT_EQ(PercentFromRaw(-1, 0, 65536), 0);
}

TEST(VolumeConversion, RangesNarrowerThanAHundredStepsDoNotDivideByZero) {
  EXPECT_EQ(PercentFromRaw(16, 0, 31), 52);
  EXPECT_EQ(RawFromPercent(52, 0, 31), 16);
  EXPECT_EQ(PercentFromRaw(1, 0, 1), 100);
  EXPECT_EQ(RawFromPercent(49, 0, 1), 0);
  EXPECT_EQ(RawFromPercent(50, 0, 1), 1);
  // An empty or inverted range reads 0 and writes its minimum.
  EXPECT_EQ(PercentFromRaw(3, 3, 3), 0);
  EXPECT_EQ(RawFromPercent(80, 3, 3), 3);
  EXPECT_EQ(PercentFromRaw(3, 5, 1), 0);
}

// The volume commands over a controller that finds no mixer.
class VolumeWithoutMixer : public SoundFixture {
 protected:
  void SetUp() override {
    SoundFixture::SetUp();
    state.volumeCtrl = &volume;
  }
  org_trellik::CVolumeCtrl volume{"qw-no-such-mixer"};
};

TEST_F(VolumeWithoutMixer, ReadsZeroAndEveryChangeFails) {
  EXPECT_EQ(volume.mode(), org_trellik::CVolumeCtrl::kNoAccess);
  EXPECT_FALSE(volume.SetSpeakerMute(true));
  EXPECT_FALSE(volume.IsMicMuted());
  const char* failed = R"({"data":"","flag":0,"flagMsg":"音量设置失败"})";
  EXPECT_EQ(Dispatch("getvolume", R"({"type":0})"), R"({"data":"0","flag":1,"flagMsg":""})");
  EXPECT_EQ(Dispatch("getvolume", R"({"type":1})"), R"({"data":"0","flag":1,"flagMsg":""})");
  EXPECT_EQ(Dispatch("setvolume", R"({"type":0,"volume":50})"), failed);
  EXPECT_EQ(Dispatch("setvolume", R"({"type":1,"volume":50})"), failed);
}

TEST_F(VolumeWithoutMixer, ParamsAreIntegersOfAKnownDevice) {
  const char* unsupported = R"({"data":"","flag":0,"flagMsg":"不支持的参数设置"})";
  EXPECT_EQ(Dispatch("getvolume", R"({"type":"1"})"),
            R"({"data":"","flag":0,"flagMsg":"Value is not convertible to Int."})");
  EXPECT_EQ(Dispatch("getvolume", R"({"type":2})"), unsupported);
  EXPECT_EQ(Dispatch("getvolume", ""), unsupported);
  EXPECT_EQ(Dispatch("getvolume", "{bad"),
            R"({"data":"","flag":0,"flagMsg":"解析json串参数失败"})");
  EXPECT_EQ(Dispatch("setvolume", R"({"type":5,"volume":10})"),
            R"({"data":"","flag":0,"flagMsg":"音量设置失败"})");
  EXPECT_EQ(Dispatch("setvolume", R"({"type":0,"volume":"10"})"),
            R"({"data":"","flag":0,"flagMsg":"Value is not convertible to Int."})");
}

}  // namespace

// The volume control over a private sound server's mixer, as pactl sees it.
#include <gtest/gtest.h>

#include "audio/volume_ctrl.h"
#include "tests/support/sound_test_support.h"

namespace {

class VolumeMixer : public ::testing::Test {
 protected:
  soundtest::SoundServer server;  // before the mixer is opened: it sets the environment
  bool Has(const std::vector<std::string>& args, const std::string& text) {
    return server.Pactl(args).find(text) != std::string::npos;
  }
};

TEST_F(VolumeMixer, SpeakersTakeClampedRoundedPercentagesThatPactlSees) {
  org_trellik::CVolumeCtrl volume;
  ASSERT_EQ(volume.mode(), org_trellik::CVolumeCtrl::kEndpoint);
  EXPECT_EQ(volume.GetSpeakerVolume(), 100);
  EXPECT_TRUE(volume.SetSpeakerVolume(65));
  EXPECT_EQ(volume.GetSpeakerVolume(), 65);
  EXPECT_TRUE(Has({"get-sink-volume", "speaker"}, " 65% ")) << server.Pactl({"get-sink-volume", "speaker"});
  EXPECT_TRUE(volume.SetSpeakerVolume(150));
  EXPECT_EQ(volume.GetSpeakerVolume(), 100);
  EXPECT_TRUE(volume.SetSpeakerVolume(-5));
  EXPECT_EQ(volume.GetSpeakerVolume(), 0);
}

TEST_F(VolumeMixer, MuteIsReadAndSwitchedOnBothDevices) {
  org_trellik::CVolumeCtrl volume;
  EXPECT_FALSE(volume.IsSpeakerMuted());
  EXPECT_TRUE(volume.SetSpeakerMute(true));
  EXPECT_TRUE(volume.IsSpeakerMuted());
  EXPECT_TRUE(Has({"get-sink-mute", "speaker"}, "Mute: yes"));
  EXPECT_TRUE(volume.SetSpeakerMute(false));
  EXPECT_TRUE(Has({"get-sink-mute", "speaker"}, "Mute: no"));

  server.Pactl({"set-source-mute", "mic", "1"});
  EXPECT_TRUE(volume.IsMicMuted());
  EXPECT_TRUE(volume.SetMicMute(false));
  EXPECT_TRUE(Has({"get-source-mute", "mic"}, "Mute: no"));
  EXPECT_TRUE(volume.SetMicVolume(30));
  EXPECT_EQ(volume.GetMicVolume(), 30);
  EXPECT_TRUE(Has({"get-source-volume", "mic"}, " 30% "));
}

// A change of the default device made during the run is followed: the mixer is opened anew
// for every call.
TEST_F(VolumeMixer, FollowsTheDefaultDevice) {
  org_trellik::CVolumeCtrl volume;
  server.Pactl({"set-sink-volume", "micfeed", "40%"});
  server.Pactl({"set-default-sink", "micfeed"});
  EXPECT_EQ(volume.GetSpeakerVolume(), 40);
}

// The sound server may come up after the client: while it is away the volumes read 0 and
// cannot be set, and once it is there they work, whatever the first call found.
TEST_F(VolumeMixer, AServerThatComesAfterTheFirstCallIsUsed) {
  server.Stop();
  org_trellik::CVolumeCtrl volume;
  EXPECT_EQ(volume.GetSpeakerVolume(), 0);
  EXPECT_FALSE(volume.SetMicVolume(30));
  EXPECT_EQ(volume.mode(), org_trellik::CVolumeCtrl::kNoAccess);
  server.Start();
  EXPECT_TRUE(volume.SetMicVolume(30));
  EXPECT_EQ(volume.GetMicVolume(), 30);
  EXPECT_EQ(volume.GetSpeakerVolume(), 100);
}

}  // namespace

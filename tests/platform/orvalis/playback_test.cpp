// Playing through a private sound server: what the speaker's monitor hears is the file.
#include <cmath>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "tests/platform/orvalis/orvalis_fixture.h"

namespace {

using namespace std::chrono;
using soundtest::Sound;

class PlaybackTest : public OrvalisTest {
 protected:
  // Speech at the speaker's own format, the right channel inverted so a swap would show.
  Sound SpeechAt48k(const std::string& name, double padSeconds = 0.5) {
    soundtest::MakeSpeech(Path(name + "16.wav"), "The quick brown fox jumps over the lazy dog.",
                          padSeconds);
    soundtest::Run({"sox", Path(name + "16.wav"), "-r", "48000", "-c", "2", Path(name + "48.wav")});
    Sound sound = soundtest::ReadSound(Path(name + "48.wav"));
    for (size_t i = 1; i < sound.samples.size(); i += 2) sound.samples[i] *= -0.5f;
    return sound;
  }

  // Plays |path| while recording the speaker's monitor; returns what was heard.
  Sound PlayAndCapture(const std::string& path, int* playValue) {
    soundtest::Capture capture(48000, 2);
    EXPECT_TRUE(capture.WaitRunning());
    EXPECT_EQ(api.play(Wide(path).c_str(), playValue, request), 0);
    Notice end = WaitFor(SND_NOTIFY_PLAY_END, seconds(15));
    EXPECT_EQ(end.text, "{\"err_code\":0}");
    EXPECT_EQ(end.request, request);
    std::this_thread::sleep_for(milliseconds(200));
    return capture.Stop();
  }

  static void ExpectHeard(const Sound& file, const Sound& heard) {
    ASSERT_EQ(file.rate, 48000);
    for (int channel : {0, 1}) {
      auto alignment = soundtest::Align(soundtest::Channel(file, channel),
                                        soundtest::Channel(heard, channel), 48000 * 2);
      EXPECT_GE(alignment.correlation, 0.95) << "channel " << channel;
      EXPECT_GE(alignment.shift, 0);
    }
  }

  // Notices of |message| come at a steady 10 to 20 a second over the playback.
  void ExpectSteady(int message, double seconds) {
    auto notices = Notices(message);
    ASSERT_GE(notices.size(), 2u) << message;
    double rate = notices.size() / seconds;
    EXPECT_GE(rate, 9.0) << message;
    EXPECT_LE(rate, 21.0) << message;
    for (size_t i = 1; i < notices.size(); ++i)
      EXPECT_LT(notices[i].time - notices[i - 1].time, milliseconds(250)) << message << " #" << i;
    for (const auto& n : notices) {
      EXPECT_EQ(n.request, request);
      EXPECT_EQ(n.text.find_first_of("\"\\"), std::string::npos) << n.text;
    }
  }
};

TEST_F(PlaybackTest, WavIsHeardAsItIsWithSteadyNotices) {
  Sound file = SpeechAt48k("speech");
  soundtest::WriteWav16(Path("speech.wav"), file);
  int playValue = -1;
  Sound heard = PlayAndCapture(Path("speech.wav"), &playValue);
  EXPECT_EQ(playValue, int(file.frames() * 10 / 48000));
  ExpectHeard(soundtest::ReadSound(Path("speech.wav")), heard);

  ExpectSteady(SND_NOTIFY_PLAYPOS, file.seconds());
  ExpectSteady(SND_NOTIFY_ENERGY, file.seconds());
  ExpectSteady(SND_NOTIFY_WAVEFORM, file.seconds());
  // Positions in tenths rise to the file's length; levels are 0..100; waveforms numbers.
  auto positions = Notices(SND_NOTIFY_PLAYPOS);
  for (size_t i = 1; i < positions.size(); ++i)
    EXPECT_LE(std::stoi(positions[i - 1].text), std::stoi(positions[i].text));
  EXPECT_EQ(std::stoi(positions.back().text), playValue);
  int loudest = 0;
  for (const auto& n : Notices(SND_NOTIFY_ENERGY)) {
    int energy = std::stoi(n.text);
    EXPECT_TRUE(energy >= 0 && energy <= 100) << n.text;
    loudest = std::max(loudest, energy);
  }
  EXPECT_GE(loudest, 50);
  EXPECT_LE(std::stoi(Notices(SND_NOTIFY_ENERGY).front().text), 10);  // the silence in front
  for (const auto& n : Notices(SND_NOTIFY_WAVEFORM))
    EXPECT_EQ(n.text.find_first_not_of("-0123456789,"), std::string::npos) << n.text;
}

TEST_F(PlaybackTest, Mp3IsHeardAsLibsndfileDecodesIt) {
  soundtest::WriteMp3(Path("speech.mp3"), SpeechAt48k("speech"));
  Sound decoded = soundtest::ReadSound(Path("speech.mp3"));
  int playValue = -1;
  Sound heard = PlayAndCapture(Path("speech.mp3"), &playValue);
  EXPECT_NEAR(playValue, int(decoded.frames() * 10 / 48000), 1);
  ExpectHeard(decoded, heard);
}

TEST_F(PlaybackTest, StopSilencesAtOnceAndEndsWithTheFailureCode) {
  Sound tone{48000, 2, {}};
  for (int i = 0; i < 48000 * 5; ++i) {
    float s = 0.5f * std::sin(2 * M_PI * 440 * i / 48000.0);
    tone.samples.push_back(s), tone.samples.push_back(s);
  }
  soundtest::WriteWav16(Path("tone.wav"), tone);
  soundtest::Capture capture(48000, 2);
  ASSERT_TRUE(capture.WaitRunning());
  int playValue = 0;
  ASSERT_EQ(api.play(Wide(Path("tone.wav")).c_str(), &playValue, request), 0);
  EXPECT_EQ(playValue, 50);
  ASSERT_TRUE(capture.WaitSound(0.1f, seconds(3)));
  std::this_thread::sleep_for(milliseconds(700));
  auto stopCalled = steady_clock::now();
  ASSERT_EQ(api.stop(), 0);
  // The stopped play's end notice has been delivered by the time sndStop returns.
  auto ends = Notices(SND_NOTIFY_PLAY_END);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].text, "{\"err_code\":39169}");
  std::this_thread::sleep_for(milliseconds(600));
  auto lastSound = capture.LastSoundTime(0.1f);
  ASSERT_TRUE(lastSound);
  EXPECT_LT(*lastSound - stopCalled, milliseconds(300));
  EXPECT_EQ(Notices(SND_NOTIFY_PLAY_END).size(), 1u);
}

void Throw(int, const wchar_t*, const char*) { throw std::runtime_error("handler failed"); }

TEST_F(PlaybackTest, UnreadableFilesEndWithTheFailureCode) {
  std::ofstream(Path("text.wav")) << "RIFF but not really a sound file";
  // A handler that throws ends its notification only.
  std::wstring address = Wide(std::to_string(reinterpret_cast<uintptr_t>(&Throw)));
  ASSERT_EQ(api.setParam(L"notify", address.c_str()), 0);
  int playValue = -1;
  EXPECT_EQ(api.play(Wide(Path("missing.wav")).c_str(), &playValue, request), -1);
  EXPECT_EQ(api.stop(), 0);
  Listen();

  for (const std::string name : {"missing.wav", "text.wav"}) {
    int playValue = -1;
    EXPECT_EQ(api.play(Wide(Path(name)).c_str(), &playValue, request), -1) << name;
    EXPECT_EQ(playValue, 0);
    EXPECT_EQ(WaitFor(SND_NOTIFY_PLAY_END).text, "{\"err_code\":39169}") << name;
    api.stop();
    EXPECT_EQ(Notices(SND_NOTIFY_PLAY_END).size(), 1u);
    EXPECT_TRUE(Notices(SND_NOTIFY_PLAYPOS).empty());
    ClearNotices();
  }
}

TEST_F(PlaybackTest, SwitchesTurnNoticesOff) {
  soundtest::WriteWav16(Path("speech.wav"), SpeechAt48k("speech", 0.0));
  EXPECT_EQ(api.setParam(L"notify_waveform", L"0"), 0);
  EXPECT_EQ(api.setParam(L"notify_curplaypos", L"0"), 0);
  EXPECT_NE(api.setParam(L"notify_waveform", L"yes"), 0);
  EXPECT_NE(api.setParam(L"notify_volume", L"1"), 0);
  int playValue = 0;
  ASSERT_EQ(api.play(Wide(Path("speech.wav")).c_str(), &playValue, request), 0);
  std::this_thread::sleep_for(milliseconds(600));
  EXPECT_EQ(api.setParam(L"notify_energy", L"0"), 0);
  size_t energies = Notices(SND_NOTIFY_ENERGY).size();
  EXPECT_GE(energies, 3u);
  WaitFor(SND_NOTIFY_PLAY_END, seconds(15));
  EXPECT_LE(Notices(SND_NOTIFY_ENERGY).size(), energies + 1);
  EXPECT_TRUE(Notices(SND_NOTIFY_WAVEFORM).empty());
  EXPECT_TRUE(Notices(SND_NOTIFY_PLAYPOS).empty());
}

}  // namespace

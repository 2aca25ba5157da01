// Recording through a private sound server whose microphone is fed with speech.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <thread>

extern char** environ;

#include "tests/platform/orvalis/orvalis_fixture.h"

namespace {

using namespace std::chrono;
using soundtest::Sound;

constexpr int kNoticeFrames = 16000 * 80 / 1000;  // the samples one level notice covers

class RecordTest : public OrvalisTest {};

TEST_F(RecordTest, RecordingIsWhatTheMicrophoneHeardWithLevels) {
  std::string speech = Path("speech.wav");
  soundtest::MakeSpeech(speech, "Please describe the picture in a few words.");
  std::string recording = Path("answer.wav");
  ASSERT_EQ(api.record(Wide(recording).c_str(), 50, request), 0);
  {
    soundtest::MicFeed feed(speech);
    std::this_thread::sleep_for(seconds(2));
    // Cut off now, the file is already a valid WAV of what came so far.
    Sound partial = soundtest::ReadSound(recording);
    EXPECT_EQ(partial.rate, 16000);
    EXPECT_GT(partial.seconds(), 1.0);
    EXPECT_TRUE(feed.Wait());
  }
  Notice end = WaitFor(SND_NOTIFY_RECORD_END, seconds(10));
  EXPECT_EQ(end.text, "{\"err_code\":0}");
  EXPECT_EQ(end.request, request);
  EXPECT_LT(end.time - Notices().front().time, seconds(6));

  Sound recorded = soundtest::ReadSound(recording);
  ASSERT_EQ(recorded.rate, 16000);
  ASSERT_EQ(recorded.channels, 1);
  EXPECT_EQ(recorded.frames(), 80000u);
  auto fed = soundtest::Channel(soundtest::ReadSound(speech), 0);
  auto samples = soundtest::Channel(recorded, 0);
  auto alignment = soundtest::Align(fed, samples, 16000 * 2);
  EXPECT_GE(alignment.correlation, 0.95);

  // Each level notice covers the next 80 ms of the recording: high in speech, low in silence.
  auto energies = Notices(SND_NOTIFY_ENERGY);
  EXPECT_NEAR(double(energies.size()), 5000.0 / 80, 2);
  EXPECT_EQ(Notices(SND_NOTIFY_WAVEFORM).size(), energies.size());
  EXPECT_TRUE(Notices(SND_NOTIFY_PLAYPOS).empty());
  int loud = 0, quiet = 0;
  for (size_t i = 0; i < energies.size() && (i + 1) * kNoticeFrames <= samples.size(); ++i) {
    double db = soundtest::RmsDb(&samples[i * kNoticeFrames], kNoticeFrames);
    int energy = std::stoi(energies[i].text);
    if (db > -30) {
      EXPECT_GE(energy, 50) << i;
      ++loud;
    }
    if (db < -70) {
      EXPECT_LE(energy, 5) << i;
      ++quiet;
    }
  }
  EXPECT_GT(loud, 5);
  EXPECT_GT(quiet, 5);
}

TEST_F(RecordTest, StopKeepsWhatWasRecordedAndFailuresStartNothing) {
  std::string recording = Path("answer.wav");
  ASSERT_EQ(api.record(Wide(recording).c_str(), 50, request), 0);
  std::this_thread::sleep_for(milliseconds(1000));
  ASSERT_EQ(api.stop(), 0);
  auto ends = Notices(SND_NOTIFY_RECORD_END);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].text, "{\"err_code\":39169}");
  Sound recorded = soundtest::ReadSound(recording);
  EXPECT_NEAR(recorded.seconds(), 1.0, 0.3);

  ClearNotices();
  EXPECT_EQ(api.record(Wide(Path("no/such/folder/a.wav")).c_str(), 50, request), -1);
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_TRUE(Notices().empty());
}

TEST_F(RecordTest, WithoutALengthRecordingRunsUntilStopped) {
  for (int length : {0, -30}) {
    ClearNotices();
    std::string recording = Path("open" + std::to_string(-length) + ".wav");
    ASSERT_EQ(api.record(Wide(recording).c_str(), length, request), 0) << length;
    std::this_thread::sleep_for(milliseconds(1500));
    EXPECT_TRUE(Notices(SND_NOTIFY_RECORD_END).empty()) << length;
    EXPECT_FALSE(Notices(SND_NOTIFY_ENERGY).empty()) << length;
    ASSERT_EQ(api.stop(), 0);
    auto ends = Notices(SND_NOTIFY_RECORD_END);
    ASSERT_EQ(ends.size(), 1u) << length;
    EXPECT_EQ(ends[0].text, "{\"err_code\":39169}");
    EXPECT_NEAR(soundtest::ReadSound(recording).seconds(), 1.5, 0.3) << length;
  }
}

TEST_F(RecordTest, RecordingCutOffByACrashIsAPlayableWav) {
  std::string recording = Path("answer.wav");
  char* argv[] = {const_cast<char*>(RECORD_PROBE), const_cast<char*>(ORVALIS_PATH),
                  recording.data(), nullptr};
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, RECORD_PROBE, nullptr, nullptr, argv, environ), 0);
  std::this_thread::sleep_for(milliseconds(1500));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  Sound recorded = soundtest::ReadSound(recording);
  EXPECT_EQ(recorded.rate, 16000);
  EXPECT_GT(recorded.seconds(), 0.8);
  struct stat info {};
  ASSERT_EQ(stat(recording.c_str(), &info), 0);
  EXPECT_EQ(size_t(info.st_size), 44 + 2 * recorded.frames());
}

TEST_F(RecordTest, ServerGoingAwayEndsPlayingAndRecordingWithTheFailureCode) {
  soundtest::WriteWav16(Path("long.wav"), Sound{16000, 1, std::vector<float>(16000 * 10, 0.1f)});
  int playValue = 0;
  ASSERT_EQ(api.play(Wide(Path("long.wav")).c_str(), &playValue, request), 0);
  std::this_thread::sleep_for(milliseconds(500));
  soundtest::Run({"bash", "-c", "kill -9 $(cat \"$XDG_RUNTIME_DIR/pulse/pid\")"});
  EXPECT_EQ(WaitFor(SND_NOTIFY_PLAY_END, seconds(4)).text, "{\"err_code\":39169}");

  server.reset();  // one server at a time: each restores the environment it found
  server = std::make_unique<soundtest::SoundServer>();
  ClearNotices();
  ASSERT_EQ(api.record(Wide(Path("answer.wav")).c_str(), 100, request), 0);
  std::this_thread::sleep_for(milliseconds(500));
  soundtest::Run({"bash", "-c", "kill -9 $(cat \"$XDG_RUNTIME_DIR/pulse/pid\")"});
  EXPECT_EQ(WaitFor(SND_NOTIFY_RECORD_END, seconds(4)).text, "{\"err_code\":39169}");
}

TEST_F(RecordTest, NoDeviceMeansNoRecording) {
  server.reset();  // the server goes: ALSA's default device refuses at once
  EXPECT_EQ(api.record(Wide(Path("answer.wav")).c_str(), 50, request), -1);
  int playValue = 0;
  soundtest::WriteWav16(Path("beep.wav"), Sound{16000, 1, std::vector<float>(16000, 0.1f)});
  EXPECT_EQ(api.play(Wide(Path("beep.wav")).c_str(), &playValue, request), -1);
  EXPECT_EQ(playValue, 10);
  EXPECT_EQ(WaitFor(SND_NOTIFY_PLAY_END).text, "{\"err_code\":39169}");
  EXPECT_TRUE(Notices(SND_NOTIFY_RECORD_END).empty());
}

}  // namespace

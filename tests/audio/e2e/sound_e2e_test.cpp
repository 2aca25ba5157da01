// Sound through the real client: a page plays, records, checks and sets volumes through the
// bridge, against a private sound server per test; what was played is recorded back from the
// server's speaker and the microphone is fed with speech.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "tests/shell/e2e/client_harness.h"
#include "tests/support/sound_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using soundtest::Sound;

const char kOk[] = R"({"data":"操作成功","flag":1,"flagMsg":""})";
const char kRecordFailed[] = R"({"data":"","flag":0,"flagMsg":"录音失败"})";
const char kNoSoundFile[] = R"({"data":"","flag":0,"flagMsg":"放音失败，指定音频文件不存在"})";
constexpr int kStartSeconds = 90;

// The page functions that sound notices call: each reports its kind, its argument and the
// page's clock to the test server.
const char kReporters[] = R"(<script>
function report(kind, value) {
  new Image().src = base + "/reply?w=" + kind + "&r=" + encodeURIComponent(value) + "&t=" +
      Date.now() + "&n=" + Math.random();
}
function onDone(v) { report("done", v); }
function onErr(v) { report("error", v); }
function onCursor(v) { report("cursor", v); }
function onEnergy(v) { report("energy", v); }
function onWave(v) { report("waveform", JSON.parse(v).waveform); }
function onStopped(v) { report("stopped", v); }
function onCheck(v) { report("check", v); }
</script></body>)";

// A frequency sweep: one place only where it matches itself, so alignment is unambiguous.
Sound Sweep(double seconds, int rate, int channels) {
  Sound s;
  s.rate = rate;
  s.channels = channels;
  size_t frames = size_t(seconds * rate);
  s.samples.resize(frames * size_t(channels));
  double phase = 0;
  for (size_t f = 0; f < frames; ++f) {
    double t = double(f) / rate;
    phase += 2 * M_PI * (200.0 + 3800.0 * t / seconds) / rate;
    double fade = std::min({1.0, t / 0.05, (seconds - t) / 0.05});
    for (int c = 0; c < channels; ++c)
      s.samples[f * size_t(channels) + size_t(c)] = float(0.5 * fade * std::sin(phase + c));
  }
  return s;
}

struct Notice {
  std::string value;
  long long pageTime = 0;  // the page's clock, milliseconds since the epoch
};

std::string Param(const std::string& target, const std::string& key) {
  std::size_t at = target.find("&" + key + "=");
  if (at == std::string::npos) at = target.find("?" + key + "=");
  if (at == std::string::npos) return "";
  std::size_t from = at + key.size() + 2, to = target.find('&', from);
  return target.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

long long EpochMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

class SoundClient : public ::testing::Test {
 protected:
  void SetUp() override {
    install = std::make_unique<ClientInstall>(
        "[HomePage]\nhome=pages/sound.html\n[Config]\nMutex=0\n"
        "ServiceUrl=http://127.0.0.1:9/\nNavigationBar=0\n");
    std::string page = DriverPage(web.base());
    page.replace(page.rfind("</body>"), 7, kReporters);
    install->WriteFile("bin/pages/sound.html", page);
    pid = install->Start();
    ASSERT_NE(web.WaitLoaded([](const std::string& u) { return !u.empty(); }, kStartSeconds), "")
        << "the page did not load";
    cache = install->dataDir() + "cache/";
    answers = cache + "answer/";
  }

  std::string Command(const std::string& word, const std::string& params,
                      const std::string& type = "0") {
    // The queue carries the params inside a JSON text of its own, which takes no line feed.
    std::string oneLine = params;
    oneLine.erase(std::remove(oneLine.begin(), oneLine.end(), '\n'), oneLine.end());
    web.Queue(word, oneLine, type);
    return web.WaitReply(word, 30);
  }
  // Every notice of |kind| the page has reported so far, in order of arrival.
  std::vector<Notice> Notices(const std::string& kind) const {
    std::vector<Notice> out;
    for (const std::string& target : web.Requests()) {
      if (target.rfind("/reply?", 0) != 0 || Param(target, "w") != kind) continue;
      out.push_back({Param(target, "r"), std::atoll(Param(target, "t").c_str())});
    }
    return out;
  }
  static void Write(const std::string& path, const Sound& sound, bool mp3 = false) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (mp3)
      soundtest::WriteMp3(path, sound);
    else
      soundtest::WriteWav16(path, sound);
  }
  // Every waveform notice holds 32 sample values, the greatest of each slice, and some are not 0.
  void ExpectWaveforms() const {
    std::vector<Notice> waveforms = Notices("waveform");
    ASSERT_FALSE(waveforms.empty());
    bool heard = false;
    for (const Notice& n : waveforms) {
      std::string values = n.value;
      for (std::size_t at; (at = values.find("%2C")) != std::string::npos;)
        values.replace(at, 3, " ");
      std::istringstream in(values);
      int count = 0;
      for (long v; in >> v; ++count) {
        EXPECT_GE(v, -32768) << n.value;
        EXPECT_LE(v, 32767) << n.value;
        heard = heard || v != 0;
      }
      EXPECT_TRUE(in.eof()) << n.value;
      EXPECT_EQ(count, 32) << n.value;
    }
    EXPECT_TRUE(heard);
  }
  // Plays |name| from the cache folder while the speaker is recorded; what the speaker played.
  Sound PlayAndCapture(const std::string& name, const std::string& expectedData) {
    soundtest::Capture capture(48000, 2);
    EXPECT_TRUE(capture.WaitRunning());
    EXPECT_EQ(Command("play", R"({"name":")" + name + R"(","callback_func":"onDone",
        "callback_func_err":"onErr","notify_energy":"onEnergy","notify_cursor":"onCursor",
        "notify_waveform":"onWave","callback":")" + name + "\"}"),
              R"({"data":")" + expectedData + R"(","flag":1,"flagMsg":""})");
    EXPECT_EQ(web.WaitReply("done", 30), name);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return capture.Stop();
  }

  soundtest::SoundServer sound;  // first: the client inherits its environment
  TestServer web;
  std::unique_ptr<ClientInstall> install;
  pid_t pid = 0;
  std::string cache, answers;
};

double Correlation(const Sound& reference, const Sound& captured) {
  std::vector<float> ref = soundtest::Channel(reference, 0);
  std::vector<float> got = soundtest::Channel(captured, 0);
  return soundtest::Align(ref, got, long(got.size())).correlation;
}

TEST_F(SoundClient, PlaysWavAndMp3WithNoticesAndTheirEnd) {
  Sound sweep = Sweep(2.0, 48000, 2);
  Write(cache + "sweep.wav", sweep);
  Sound played = PlayAndCapture("sweep.wav", "2");
  EXPECT_GE(Correlation(sweep, played), 0.95);
  EXPECT_FALSE(Notices("cursor").empty());
  EXPECT_FALSE(Notices("energy").empty());
  ExpectWaveforms();
  EXPECT_TRUE(Notices("error").empty());

  // An MP3 is heard as libsndfile decodes it.
  Write(cache + "sweep.mp3", Sweep(3.0, 48000, 2), true);
  Sound decoded = soundtest::ReadSound(cache + "sweep.mp3");
  std::size_t cursors = Notices("cursor").size();
  played = PlayAndCapture("sweep.mp3", "3");
  EXPECT_GE(Correlation(decoded, played), 0.95);
  EXPECT_GT(Notices("cursor").size(), cursors);
  // The position grows to the end of the file, in tenths of a second.
  EXPECT_GE(std::atoi(Notices("cursor").back().value.c_str()), 25);
}

TEST_F(SoundClient, RecordsTheMicrophoneAndChecksWhatItRecorded) {
  std::string speechPath = install->root() + "speech.wav";
  soundtest::MakeSpeech(speechPath, "Please record your answer after the tone.", 0.5);
  Sound speech = soundtest::ReadSound(speechPath);
  std::vector<float> spoken = soundtest::Channel(speech, 0);
  ASSERT_LT(speech.seconds(), 4.5);

  EXPECT_EQ(Command("record", R"({"name":"ans/r1.wav","len":5,"callback_func":"onDone",
      "notify_energy":"onEnergy","notify_waveform":"onWave","callback":"r1"})"),
            kOk);
  long long fed = EpochMs();
  {
    soundtest::MicFeed feed(speechPath);
    EXPECT_TRUE(feed.Wait());
  }
  EXPECT_EQ(web.WaitReply("done", 30), "r1");
  Sound recorded = soundtest::ReadSound(answers + "ans/r1.wav");
  EXPECT_EQ(recorded.rate, 16000);
  EXPECT_NEAR(recorded.seconds(), 5.0, 0.05);
  EXPECT_GE(soundtest::Align(spoken, soundtest::Channel(recorded, 0), 5 * 16000).correlation,
            0.95);
  ExpectWaveforms();

  // Loud while the speech is heard, quiet once it is over.
  std::size_t first = soundtest::FirstAbove(spoken, 0.02);
  std::size_t last = spoken.size();
  while (last > first && std::fabs(spoken[last - 1]) < 0.02) --last;
  long long speechFrom = fed + static_cast<long long>(first * 1000 / 16000) + 200;
  long long speechTo = fed + static_cast<long long>(last * 1000 / 16000) - 200;
  int loudest = 0, afterwards = 0, quietNotices = 0;
  for (const Notice& n : Notices("energy")) {
    int level = std::atoi(n.value.c_str());
    if (n.pageTime >= speechFrom && n.pageTime <= speechTo) loudest = std::max(loudest, level);
    if (n.pageTime > speechTo + 800) {
      afterwards = std::max(afterwards, level);
      ++quietNotices;
    }
  }
  EXPECT_GE(loudest, 40);
  EXPECT_GT(quietNotices, 2);
  EXPECT_LE(afterwards, 10);

  // The check tells that recording from a silent one and from an overloaded one.
  EXPECT_EQ(Command("checkaudio", R"({"name":"ans/r1.wav","callback_func":"onCheck"})"), kOk);
  EXPECT_EQ(web.WaitReply("check", 30), "0");
  EXPECT_EQ(Command("record", R"({"name":"ans/silent.wav","len":2,"callback_func":"onDone",
      "callback":"silent"})"),
            kOk);
  EXPECT_EQ(web.WaitReply("done", 30), "silent");
  EXPECT_EQ(Command("checkaudio", R"({"name":"ans/silent.wav","callback_func":"onCheck"})"),
            kOk);
  EXPECT_EQ(web.WaitReply("check", 30), "2");
  Sound clipped = speech;
  for (float& s : clipped.samples) s = std::clamp(s * 20.0f, -1.0f, 1.0f);
  Write(answers + "ans/clipped.wav", clipped);
  EXPECT_EQ(Command("checkaudio", R"({"name":"ans/clipped.wav","callback_func":"onCheck"})"),
            kOk);
  EXPECT_EQ(web.WaitReply("check", 30), "3");
}

TEST_F(SoundClient, ExclusiveStopPlayReplacesThePlay) {
  Write(cache + "long.wav", Sweep(6.0, 48000, 2));
  soundtest::Capture capture(48000, 2);
  ASSERT_TRUE(capture.WaitRunning());
  EXPECT_EQ(Command("play", R"({"name":"long.wav","callback_func":"onDone",
      "callback_func_err":"onErr","callback":"long"})", "1"),
            R"({"data":"6","flag":1,"flagMsg":""})");
  ASSERT_TRUE(capture.WaitSound(0.05f, std::chrono::seconds(5)));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  Clock::time_point requested = Clock::now();
  EXPECT_EQ(Command("stopplay", R"({"callback_func":"onStopped","callback":"s"})", "1"), kOk);
  EXPECT_EQ(web.WaitReply("stopped", 30), "s");
  std::this_thread::sleep_for(std::chrono::seconds(1));
  auto lastSound = capture.LastSoundTime(0.05f);
  ASSERT_TRUE(lastSound.has_value());
  auto silentAfter = std::chrono::duration_cast<std::chrono::milliseconds>(*lastSound - requested);
  RecordProperty("silent_after_ms", int(silentAfter.count()));
  EXPECT_LE(silentAfter.count(), 300);
  EXPECT_TRUE(Notices("done").empty());
  EXPECT_TRUE(Notices("error").empty());
  EXPECT_EQ(Notices("stopped").size(), 1u);
}

// Without a length the recording runs until the next exclusive command, as a rule stoprecord.
TEST_F(SoundClient, RecordWithoutALengthRunsUntilStoprecord) {
  EXPECT_EQ(Command("record", R"({"name":"open.wav","callback_func":"onDone",
      "callback_func_err":"onErr","notify_waveform":"onWave","callback":"open"})", "1"),
            kOk);
  ASSERT_TRUE(Eventually([&] { return Notices("waveform").size() > 25; }, 10));
  EXPECT_EQ(Command("stoprecord", R"({"callback_func":"onStopped","callback":"s"})", "1"), kOk);
  EXPECT_EQ(web.WaitReply("stopped", 30), "s");
  EXPECT_GT(soundtest::ReadSound(answers + "open.wav").seconds(), 1.9);
  std::size_t waveforms = Notices("waveform").size();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(Notices("waveform").size(), waveforms);
  EXPECT_TRUE(Notices("done").empty());
  EXPECT_TRUE(Notices("error").empty());
}

// The answer document's names and files that are not regular files are no sound files: the
// answers stay whole and the sound library is never left waiting on a FIFO.
TEST_F(SoundClient, AnswerDocumentAndSpecialFilesAreRefused) {
  EXPECT_EQ(Command("startexam", R"({"examineeId":"E","paperId":"P"})"), kOk);
  EXPECT_EQ(Command("saveanswer", R"([{"key":"/test/q1/response[id=1]/answer","value":"A"}])"),
            kOk);
  std::string folder = answers + "E/P/";
  auto document = [&] {
    std::ifstream in(folder + "answer.xml", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  std::string saved = document();
  ASSERT_NE(saved.find("<answer>A</answer>"), std::string::npos);
  for (std::string name : {"answer.xml", ".answer.xml.tmp", "a/answer.xml"})
    EXPECT_EQ(Command("record", R"({"name":")" + name + R"(","len":1})", "1"), kRecordFailed)
        << name;
  EXPECT_EQ(Command("record", R"({"name":"q.wav","len":1,"eval_info":{"dist":"answer.xml"}})",
                    "1"),
            kRecordFailed);
  EXPECT_EQ(Command("play", R"({"name":"answer/E/P/answer.xml"})", "1"), kNoSoundFile);
  EXPECT_EQ(Command("checkaudio", R"({"name":"answer.xml"})"),
            R"({"data":"answer.xml","flag":0,"flagMsg":"放音失败，指定音频文件不存在"})");
  EXPECT_EQ(document(), saved);

  ASSERT_EQ(mkfifo((cache + "pipe.wav").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((folder + "pipe.wav").c_str(), 0600), 0);
  EXPECT_EQ(Command("play", R"({"name":"pipe.wav"})", "1"), kNoSoundFile);
  EXPECT_EQ(Command("checkaudio", R"({"name":"pipe.wav"})"),
            R"({"data":"pipe.wav","flag":0,"flagMsg":"放音失败，指定音频文件不存在"})");
  EXPECT_EQ(Command("record", R"({"name":"pipe.wav","len":1})", "1"), kRecordFailed);
  Write(cache + "sweep.wav", Sweep(1.0, 48000, 2));
  EXPECT_EQ(Command("play", R"({"name":"sweep.wav","callback_func":"onDone","callback":"p"})",
                    "1"),
            R"({"data":"1","flag":1,"flagMsg":""})");
  EXPECT_EQ(web.WaitReply("done", 30), "p");
}

TEST_F(SoundClient, SetVolumeScalesTheSpeakersAndGetVolumeUnmutes) {
  Sound sweep = Sweep(2.0, 48000, 2);
  Write(cache + "sweep.wav", sweep);
  auto level = [](const Sound& played) {
    std::vector<float> left = soundtest::Channel(played, 0);
    std::size_t from = soundtest::FirstAbove(left, 0.01f);
    std::size_t n = std::min<std::size_t>(left.size() - from, 48000);
    return soundtest::RmsDb(left.data() + from + 4800, n - 9600);
  };
  double full = level(PlayAndCapture("sweep.wav", "2"));
  EXPECT_EQ(Command("setvolume", R"({"volume":50,"type":0})"), kOk);
  EXPECT_NE(sound.Pactl({"get-sink-volume", "speaker"}).find(" 50% "), std::string::npos)
      << sound.Pactl({"get-sink-volume", "speaker"});
  double half = level(PlayAndCapture("sweep.wav", "2"));
  EXPECT_NEAR(half - full, -18.06, 1.0);
  EXPECT_EQ(Command("getvolume", R"({"type":0})"), R"({"data":"50","flag":1,"flagMsg":""})");

  sound.Pactl({"set-source-mute", "mic", "1"});
  EXPECT_EQ(Command("getvolume", R"({"type":1})"), R"({"data":"100","flag":1,"flagMsg":""})");
  EXPECT_NE(sound.Pactl({"get-source-mute", "mic"}).find("Mute: no"), std::string::npos);
}

// A sound server that stalls (stopped, not gone) holds no command: while a record that replaces
// the running one waits for the device, the answer commands answer at once, and that record
// answers within a bound; a recording under way when the server stalls tells the page.
TEST_F(SoundClient, AStalledSoundServerHoldsNoCommand) {
  auto record = [](const std::string& name) {
    return R"({"name":")" + name + R"(.wav","len":30,"callback_func":"onDone",)" +
           R"("callback_func_err":"onErr","notify_energy":"onEnergy","callback":")" + name + "\"}";
  };
  auto recording = [&](std::size_t energiesBefore) {
    return Eventually([&] { return Notices("energy").size() > energiesBefore + 3; }, 10);
  };
  ASSERT_EQ(Command("startexam", R"({"examineeId":"E1","paperId":"P1"})"), kOk);
  EXPECT_EQ(Command("record", record("r1"), "1"), kOk);
  ASSERT_TRUE(recording(0));
  sound.Pause();
  Clock::time_point paused = Clock::now();
  web.Queue("record", record("r2"), "1");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Command("saveanswer", R"([{"key":"/test/q1/response[id=1]/answer","value":"A"}])"),
            kOk);
  EXPECT_EQ(Command("getanswer", R"(["q1"])"),
            R"({"data":"{\"q1\":[{\"answer\":\"A\",\"id\":\"1\"}]}\n","flag":1,"flagMsg":""})");
  EXPECT_LT(Clock::now() - paused, std::chrono::seconds(3));
  EXPECT_NE(web.WaitReply("record", 30), "");
  EXPECT_LT(Clock::now() - paused, std::chrono::seconds(8));

  sound.Resume();
  std::size_t energies = Notices("energy").size();
  EXPECT_EQ(Command("record", record("r3"), "1"), kOk);
  ASSERT_TRUE(recording(energies));
  sound.Pause();
  EXPECT_EQ(web.WaitReply("error", 10), "r3");
  EXPECT_TRUE(Notices("done").empty());
  sound.Resume();
}

// Without a sound device the commands say so, and the play's error function hears of it too.
TEST_F(SoundClient, WithoutASoundDeviceRecordAndPlayFail) {
  soundtest::Run({SOUND_SERVER_SCRIPT, "stop", sound.dir()});
  EXPECT_EQ(Command("record", R"({"name":"r.wav","len":3,"callback_func":"onDone",
      "callback_func_err":"onErr","callback":"r"})", "1"),
            R"({"data":"","flag":0,"flagMsg":"录音失败"})");
  Write(cache + "sweep.wav", Sweep(1.0, 48000, 2));
  EXPECT_EQ(Command("play", R"({"name":"sweep.wav","callback_func":"onDone",
      "callback_func_err":"onErr","callback":"p"})", "1"),
            R"({"data":"","flag":0,"flagMsg":"放音失败"})");
  EXPECT_EQ(web.WaitReply("error", 30), "p");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(Notices("done").empty());
  EXPECT_EQ(Notices("error").size(), 1u);
  EXPECT_NE(install->ProgramLog().find("放音操作出现错误：39169"), std::string::npos);
}

// Closing while a recording runs: the teardown stops the library before the dialog goes, the
// recording ends as a playable file and the client ends with the close code.
TEST_F(SoundClient, ClosingWhileRecordingEndsCleanly) {
  EXPECT_EQ(Command("record", R"({"name":"long.wav","len":30,"callback_func":"onDone",
      "notify_energy":"onEnergy","callback":"long"})", "1"),
            kOk);
  ASSERT_TRUE(Eventually([&] { return Notices("energy").size() > 5; }, 10));
  EXPECT_EQ(Command("close", ""), kOk);
  unsigned long question = WaitWindow("^提示$", 30, pid);
  ASSERT_NE(question, 0u);
  SendKeys(question, "Return");
  EXPECT_EQ(install->WaitExit(pid, 60), 2);
  Sound recorded = soundtest::ReadSound(answers + "long.wav");
  EXPECT_GT(recorded.seconds(), 0.3);
  EXPECT_LT(recorded.seconds(), 25.0);
  EXPECT_TRUE(Notices("done").empty());
}

}  // namespace

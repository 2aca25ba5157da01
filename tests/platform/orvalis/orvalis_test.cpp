// The fixture, and the audio check, which needs no sound device.
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/platform/orvalis/orvalis_fixture.h"

namespace {

std::mutex g_noticeLock;  // guards g_notices
std::condition_variable g_noticeArrived;
std::vector<Notice> g_notices;

void Collect(int message, const wchar_t* text, const char* request) {
  std::string narrow;
  for (const wchar_t* c = text; *c; ++c) narrow += char(*c < 128 ? *c : '?');
  {
    std::lock_guard<std::mutex> lock(g_noticeLock);
    g_notices.push_back({message, narrow, request, std::chrono::steady_clock::now()});
  }
  g_noticeArrived.notify_all();
}

void* g_library = nullptr;

}  // namespace

void OrvalisTest::SetUp() {
  if (withServer) server = std::make_unique<soundtest::SoundServer>();
  char pattern[] = "/tmp/qworvalis-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  folder = pattern;
  if (!g_library) g_library = dlopen(ORVALIS_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(g_library, nullptr) << dlerror();
  api.setParam = reinterpret_cast<decltype(api.setParam)>(dlsym(g_library, "sndSetParam"));
  api.play = reinterpret_cast<decltype(api.play)>(dlsym(g_library, "sndPlay"));
  api.record = reinterpret_cast<decltype(api.record)>(dlsym(g_library, "sndRecord"));
  api.audioCheck = reinterpret_cast<decltype(api.audioCheck)>(dlsym(g_library, "sndAudiocheck"));
  api.stop = reinterpret_cast<decltype(api.stop)>(dlsym(g_library, "sndStop"));
  ASSERT_TRUE(api.setParam && api.play && api.record && api.audioCheck && api.stop);
  Listen();
}

void OrvalisTest::Listen() {
  // The address as the client writes it: decimal text of all 64 bits.
  std::wstring address = Wide(std::to_string(reinterpret_cast<uintptr_t>(&Collect)));
  ASSERT_EQ(api.setParam(L"notify", address.c_str()), 0);
  for (const wchar_t* name : {L"notify_energy", L"notify_waveform", L"notify_curplaypos"})
    ASSERT_EQ(api.setParam(name, L"1"), 0);
  ClearNotices();
}

void OrvalisTest::ClearNotices() {
  std::lock_guard<std::mutex> lock(g_noticeLock);
  g_notices.clear();
}

void OrvalisTest::TearDown() {
  if (api.stop) api.stop();
  server.reset();
  std::error_code ec;
  if (!folder.empty()) std::filesystem::remove_all(folder, ec);
}

std::vector<Notice> OrvalisTest::Notices(int message) const {
  std::lock_guard<std::mutex> lock(g_noticeLock);
  std::vector<Notice> out;
  for (const auto& n : g_notices)
    if (!message || n.message == message) out.push_back(n);
  return out;
}

Notice OrvalisTest::WaitFor(int message, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(g_noticeLock);
  const Notice* found = nullptr;
  g_noticeArrived.wait_for(lock, limit, [&] {
    for (const auto& n : g_notices)
      if (n.message == message) return (found = &n) != nullptr;
    return false;
  });
  if (!found) {
    ADD_FAILURE() << "no notice " << message;
    return Notice{0, "", nullptr, {}};
  }
  return *found;
}

namespace {

class AudioCheckTest : public OrvalisTest {
 protected:
  void SetUp() override {
    withServer = false;
    OrvalisTest::SetUp();
  }
  int Check(const std::string& path) {
    ClearNotices();
    int out = -1;
    EXPECT_EQ(api.audioCheck(Wide(path).c_str(), &out, request), 0);
    EXPECT_EQ(out, 0);
    Notice result = WaitFor(SND_NOTIFY_AUDIOCHECK);
    EXPECT_EQ(result.request, request);
    int code = -1;
    EXPECT_EQ(sscanf(result.text.c_str(), "{\"err_code\":%d}", &code), 1) << result.text;
    return code;
  }
};

TEST_F(AudioCheckTest, TellsGoodRecordingsFromFaultyOnes) {
  using soundtest::Run;
  std::string speech = Path("speech.wav");
  soundtest::MakeSpeech(speech, "Please describe the picture in a few words.");
  // A recording as the microphone gives it: the speech within five seconds.
  Run({"sox", speech, Path("good.wav"), "pad", "0", "1"});
  Run({"sox", "-n", "-r", "16000", "-c", "1", "-b", "16", Path("silent.wav"), "trim", "0", "5"});
  Run({"sox", Path("good.wav"), Path("quiet.wav"), "gain", "-35"});
  Run({"sox", Path("good.wav"), Path("clipped.wav"), "gain", "25"});
  Run({"sox", Path("good.wav"), Path("short.wav"), "trim", "0.5", "0.6"});
  Run({"sox", "-n", "-r", "16000", "-c", "1", "-b", "16", Path("hiss.wav"), "synth", "5", "whitenoise",
       "vol", "0.3"});
  Run({"sox", "-m", Path("good.wav"), Path("hiss.wav"), Path("noisy.wav")});
  std::ofstream(Path("text.wav")) << "not a sound file";

  EXPECT_EQ(Check(Path("good.wav")), SND_CHECK_GOOD);
  EXPECT_EQ(Check(Path("silent.wav")), SND_CHECK_SILENT);
  EXPECT_EQ(Check(Path("quiet.wav")), SND_CHECK_TOO_QUIET);
  EXPECT_EQ(Check(Path("clipped.wav")), SND_CHECK_CLIPPED);
  EXPECT_EQ(Check(Path("short.wav")), SND_CHECK_TOO_SHORT);
  EXPECT_EQ(Check(Path("noisy.wav")), SND_CHECK_NOISY);
  EXPECT_EQ(Check(Path("text.wav")), SND_ERR_FAILED);
  EXPECT_EQ(Check(Path("missing.wav")), SND_ERR_FAILED);
}

}  // namespace

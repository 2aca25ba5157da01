// From a page's type "0" play to the first sound on the speaker's monitor, through the real
// client (bridge, dispatcher, command, sound library), beside the same file played by calling
// the sound library directly from this process, in one run with the rounds interleaved.
// Reports min/median/max of each and the ratio of the medians.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <thread>

#include "platform/orvalis/orvalis.h"
#include "tests/shell/e2e/client_harness.h"
#include "tests/support/sound_test_support.h"

namespace {

using namespace std::chrono;
using Clock = steady_clock;

constexpr int kRounds = 15;
constexpr float kThreshold = 0.05f;
std::atomic<int> g_ends{0};

void OnNotice(int message, const wchar_t*, const char*) {
  if (message == SND_NOTIFY_PLAY_END) ++g_ends;
}

// The driver page, which also reports the moment each command leaves for the client.
const char kTimedSend[] = R"(<script>
var realSend = cef.message.sendMessage;
cef.message.sendMessage = function (name, args) {
  new Image().src = base + "/reply?w=sent&r=" + (performance.timeOrigin + performance.now());
  return realSend(name, args);
};
</script></body>)";

soundtest::Sound Tone() {
  soundtest::Sound s;
  s.rate = 48000;
  s.channels = 2;
  s.samples.resize(48000 / 2 * 2);
  for (size_t f = 0; f < s.samples.size() / 2; ++f)
    s.samples[2 * f] = s.samples[2 * f + 1] = float(0.5 * std::sin(2 * M_PI * 1000.0 * f / 48000));
  return s;
}

// A moment of the page's clock (milliseconds since the epoch) on this process's steady clock.
Clock::time_point FromEpochMs(double ms) {
  auto wall = system_clock::now();
  auto steady = Clock::now();
  double back = duration<double, std::milli>(wall.time_since_epoch()).count() - ms;
  return steady - duration_cast<Clock::duration>(duration<double, std::milli>(back));
}

struct Figures {
  std::vector<double> ms;
  void Report(benchmark::State& state, const std::string& name) {
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) return;
    state.counters[name + "_min_ms"] = ms.front();
    state.counters[name + "_median_ms"] = ms[ms.size() / 2];
    state.counters[name + "_max_ms"] = ms.back();
  }
  double Median() const { return ms.empty() ? 0 : ms[ms.size() / 2]; }
};

void BM_PlayThroughThePage(benchmark::State& state) {
  soundtest::SoundServer server;  // first: the client inherits its environment
  TestServer web;
  ClientInstall install("[HomePage]\nhome=pages/bench.html\n[Config]\nMutex=0\n"
                        "ServiceUrl=http://127.0.0.1:9/\nNavigationBar=0\n");
  std::string page = DriverPage(web.base());
  page.replace(page.rfind("</body>"), 7, kTimedSend);
  install.WriteFile("bin/pages/bench.html", page);
  std::string cache = install.dataDir() + "cache/";
  std::filesystem::create_directories(cache);
  soundtest::WriteWav16(cache + "tone.wav", Tone());

  void* handle = dlopen(ORVALIS_PATH, RTLD_NOW | RTLD_LOCAL);
  auto setParam = reinterpret_cast<decltype(&sndSetParam)>(dlsym(handle, "sndSetParam"));
  auto play = reinterpret_cast<decltype(&sndPlay)>(dlsym(handle, "sndPlay"));
  auto stop = reinterpret_cast<decltype(&sndStop)>(dlsym(handle, "sndStop"));
  if (!setParam || !play || !stop) {
    state.SkipWithError("no sound library");
    return;
  }
  setParam(L"notify", std::to_wstring(reinterpret_cast<intptr_t>(&OnNotice)).c_str());
  std::wstring tone = std::wstring(cache.begin(), cache.end()) + L"tone.wav";

  install.Start();
  if (web.WaitLoaded([](const std::string& u) { return !u.empty(); }, 90).empty()) {
    state.SkipWithError("the page did not load");
    return;
  }
  Figures library, client;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      {
        soundtest::Capture capture(48000, 2);
        capture.WaitRunning();
        int ends = g_ends;
        int value = 0;
        Clock::time_point called = Clock::now();
        play(tone.c_str(), &value, "{}");
        capture.WaitSound(kThreshold, seconds(5));
        if (auto heard = capture.FirstSoundTime(kThreshold))
          library.ms.push_back(duration<double, std::milli>(*heard - called).count());
        while (g_ends == ends) std::this_thread::sleep_for(milliseconds(10));
      }
      {
        soundtest::Capture capture(48000, 2);
        capture.WaitRunning();
        web.Queue("play", R"({"name":"tone.wav","callback_func":"x"})", "0");
        std::string sent = web.WaitReply("sent", 10);
        std::string reply = web.WaitReply("play", 10);
        capture.WaitSound(kThreshold, seconds(5));
        auto heard = capture.FirstSoundTime(kThreshold);
        if (heard && !sent.empty())
          client.ms.push_back(
              duration<double, std::milli>(*heard - FromEpochMs(std::stod(sent))).count());
        std::this_thread::sleep_for(milliseconds(700));  // the tone's own length and more
      }
    }
  }
  stop();
  library.Report(state, "library");
  client.Report(state, "page");
  if (library.Median() > 0) state.counters["page_to_library"] = client.Median() / library.Median();
}

BENCHMARK(BM_PlayThroughThePage)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

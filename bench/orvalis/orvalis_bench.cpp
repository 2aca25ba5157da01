// How long the sound library takes from the call to the first sound heard on the speaker's
// monitor, and to the first recorded frame in the file, against a small program of ours that
// uses ALSA directly on the same file (the floor), in one run with the rounds interleaved; and
// the CPU the library uses while recording with notifications on. Reports min/median/max.
#include <alsa/asoundlib.h>
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "platform/orvalis/orvalis.h"
#include "tests/support/sound_test_support.h"

namespace {

using namespace std::chrono;
using Clock = steady_clock;

constexpr int kRounds = 7;
std::atomic<int> g_ends{0};
std::atomic<int> g_notices{0};

void OnNotice(int message, const wchar_t*, const char*) {
  ++g_notices;
  if (message == SND_NOTIFY_PLAY_END || message == SND_NOTIFY_RECORD_END) ++g_ends;
}

struct Library {
  decltype(&sndSetParam) setParam;
  decltype(&sndPlay) play;
  decltype(&sndRecord) record;
};

// What every benchmark shares: the server, the file played, the library.
struct Setup {
  soundtest::SoundServer server;
  std::string dir = server.dir() + "/bench";
  std::string wav = dir + "/tone.wav";
  Library lib{};
};
Setup* g_setup = nullptr;

// ALSA used directly: the same file, the same device, the same buffer sizes as the library.
void PeerPlay(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  snd_pcm_t* pcm = nullptr;
  if (!file || snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) return;
  snd_pcm_set_params(pcm, SND_PCM_FORMAT_FLOAT_LE, SND_PCM_ACCESS_RW_INTERLEAVED, info.channels,
                     info.samplerate, 1, 100000);
  std::vector<float> buffer(size_t(info.samplerate / 50 * info.channels));
  for (sf_count_t n; (n = sf_readf_float(file, buffer.data(), info.samplerate / 50)) > 0;)
    if (snd_pcm_writei(pcm, buffer.data(), snd_pcm_uframes_t(n)) < 0) break;
  snd_pcm_drain(pcm);
  snd_pcm_close(pcm);
  sf_close(file);
}

// Returns the time to the first frame read, in milliseconds.
double PeerRecordFirstFrame(int seconds) {
  auto start = Clock::now();
  double first = -1;
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_CAPTURE, 0) < 0) return first;
  snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, 16000, 1,
                     4 * 80000);
  std::vector<int16_t> block(16000 * 80 / 1000);
  for (long got = 0; got < 16000L * seconds;) {
    snd_pcm_sframes_t n = snd_pcm_readi(pcm, block.data(), block.size());
    if (n < 0) break;
    if (first < 0) first = duration<double, std::milli>(Clock::now() - start).count();
    got += n;
  }
  snd_pcm_close(pcm);
  return first;
}

void WaitEnds(int before) {
  while (g_ends == before) std::this_thread::sleep_for(milliseconds(5));
}

// Milliseconds from |start| to the first sound on the speaker's monitor; |finish| then waits
// for the end of the playback.
double UntilFirstSound(const std::function<void()>& start, const std::function<void()>& finish) {
  soundtest::Capture capture(48000, 2);
  capture.WaitRunning();
  std::this_thread::sleep_for(milliseconds(100));
  auto t0 = Clock::now();
  start();
  double ms = -1;
  if (capture.WaitSound(0.05f, seconds(3)))
    ms = duration<double, std::milli>(*capture.FirstSoundTime(0.05f) - t0).count();
  finish();
  return ms;
}

double LibraryPlay() {
  int before = g_ends, playValue = 0;
  std::wstring path(g_setup->wav.begin(), g_setup->wav.end());
  return UntilFirstSound([&] { g_setup->lib.play(path.c_str(), &playValue, nullptr); },
                         [&] { WaitEnds(before); });
}

double AlsaPlay() {
  std::thread peer;
  return UntilFirstSound([&] { peer = std::thread(PeerPlay, g_setup->wav); }, [&] { peer.join(); });
}

// Milliseconds until the recording's header counts its first block.
double LibraryRecord() {
  std::string path = g_setup->dir + "/answer.wav";
  int before = g_ends;
  auto t0 = Clock::now();
  if (g_setup->lib.record(std::wstring(path.begin(), path.end()).c_str(), 5, nullptr) != 0)
    return -1;
  double ms = -1;
  int fd = -1;
  while (ms < 0 && Clock::now() - t0 < seconds(3)) {
    if (fd < 0) fd = open(path.c_str(), O_RDONLY);
    uint32_t size = 0;
    if (fd >= 0 && pread(fd, &size, 4, 40) == 4 && size > 0)
      ms = duration<double, std::milli>(Clock::now() - t0).count();
    else
      std::this_thread::sleep_for(microseconds(200));
  }
  if (fd >= 0) close(fd);
  WaitEnds(before);
  return ms;
}

double AlsaRecord() { return PeerRecordFirstFrame(1); }

void Measure(benchmark::State& state, double (*once)()) {
  for (auto _ : state) {
    double ms = once();
    if (ms < 0) state.SkipWithError("no sound came");
    state.SetIterationTime(std::max(ms, 0.0) / 1000);
  }
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The process's CPU while the library records 6 s with every notification on, in percent of
// one core (the time reported is the wall time of the recording).
void BM_RecordCpu(benchmark::State& state) {
  for (const wchar_t* name : {L"notify_energy", L"notify_waveform"}) g_setup->lib.setParam(name, L"1");
  std::string path = g_setup->dir + "/long.wav";
  for (auto _ : state) {
    int before = g_ends, notices = g_notices;
    double cpu0 = CpuSeconds();
    auto t0 = Clock::now();
    g_setup->lib.record(std::wstring(path.begin(), path.end()).c_str(), 60, nullptr);
    WaitEnds(before);
    double wall = duration<double>(Clock::now() - t0).count();
    state.SetIterationTime(wall);
    state.counters["cpu_percent"] = 100 * (CpuSeconds() - cpu0) / wall;
    state.counters["notices"] = g_notices - notices;
  }
}

// Keeps every repetition's time, for the ratios of the medians.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(1) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred)
        times[run.run_name.function_name].push_back(run.real_accumulated_time / run.iterations);
    ConsoleReporter::ReportRuns(runs);
  }
  double Median(const std::string& name) {
    auto& v = times[name];
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }

 private:
  std::map<std::string, std::vector<double>> times;
};

double Min(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }
double Max(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

}  // namespace

int main(int argc, char** argv) {
  // The machine's load drifts: the rounds of the four are interleaved so each pair sees the
  // same conditions.
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());

  Setup setup;
  g_setup = &setup;
  std::filesystem::create_directories(setup.dir);
  soundtest::Sound tone{48000, 2, {}};
  for (int i = 0; i < 48000; ++i)
    for (int c = 0; c < 2; ++c) tone.samples.push_back(0.5f * std::sin(2 * M_PI * 440 * i / 48000.0));
  soundtest::WriteWav16(setup.wav, tone);
  void* handle = dlopen(ORVALIS_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return std::fprintf(stderr, "%s\n", dlerror()), 1;
  setup.lib = {reinterpret_cast<decltype(&sndSetParam)>(dlsym(handle, "sndSetParam")),
               reinterpret_cast<decltype(&sndPlay)>(dlsym(handle, "sndPlay")),
               reinterpret_cast<decltype(&sndRecord)>(dlsym(handle, "sndRecord"))};
  std::wstring address = std::to_wstring(reinterpret_cast<uintptr_t>(&OnNotice));
  setup.lib.setParam(L"notify", address.c_str());
  // Both ways load ALSA's plug-ins once before anything is timed.
  LibraryPlay(), AlsaPlay(), LibraryRecord(), AlsaRecord();

  for (auto [name, once] : std::vector<std::pair<const char*, double (*)()>>{
           {"sndPlay_to_first_sound", LibraryPlay},
           {"alsa_writei_to_first_sound", AlsaPlay},
           {"sndRecord_to_first_frame", LibraryRecord},
           {"alsa_readi_to_first_frame", AlsaRecord}}) {
    benchmark::RegisterBenchmark(name, Measure, once)
        ->Iterations(1)
        ->Repetitions(kRounds)
        ->UseManualTime()
        ->ComputeStatistics("min", Min)
        ->ComputeStatistics("max", Max)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("record_6s_cpu", BM_RecordCpu)
      ->Iterations(1)
      ->Repetitions(3)
      ->UseManualTime()
      ->ComputeStatistics("min", Min)
      ->ComputeStatistics("max", Max)
      ->Unit(benchmark::kMillisecond);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  auto ratio = [&](const char* ours, const char* theirs, double target) {
    double a = reporter.Median(ours), b = reporter.Median(theirs);
    if (a <= 0 || b <= 0) return;
    std::printf("%s %.1f ms / %s %.1f ms = %.2f (target at most %.2f)%s\n", ours, a * 1000,
                theirs, b * 1000, a / b, target, a / b <= target ? "" : "  MISSED");
  };
  ratio("sndPlay_to_first_sound", "alsa_writei_to_first_sound", 1.2);
  ratio("sndRecord_to_first_frame", "alsa_readi_to_first_frame", 1.2);
  benchmark::Shutdown();
  return 0;
}

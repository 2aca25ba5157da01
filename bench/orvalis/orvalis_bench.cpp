// How long the sound library takes from the call to the first sound heard on the speaker's
// monitor, and to the first recorded frame in the file, against a small program of ours that
// uses ALSA directly on the same file (the floor), in one run; and the CPU the library uses
// while recording with notifications on. Prints min/median/max of several rounds.
#include <alsa/asoundlib.h>
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

// Returns the time to the first frame read.
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

// The recording's data size in its header, once the first block is in.
double UntilFirstRecorded(Library& lib, const std::string& path) {
  int before = g_ends;
  auto t0 = Clock::now();
  if (lib.record(std::wstring(path.begin(), path.end()).c_str(), 5, nullptr) != 0) return -1;
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
  while (g_ends == before) std::this_thread::sleep_for(milliseconds(5));
  return ms;
}

void Report(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-44s min %7.1f  median %7.1f  max %7.1f ms\n", what, ms.front(), ms[ms.size() / 2],
              ms.back());
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main() {
  soundtest::SoundServer server;
  std::string dir = server.dir() + "/bench";
  std::filesystem::create_directories(dir);
  soundtest::Sound tone{48000, 2, {}};
  for (int i = 0; i < 48000; ++i)
    for (int c = 0; c < 2; ++c) tone.samples.push_back(0.5f * std::sin(2 * M_PI * 440 * i / 48000.0));
  std::string wav = dir + "/tone.wav";
  soundtest::WriteWav16(wav, tone);
  std::wstring wideWav(wav.begin(), wav.end());

  void* handle = dlopen(ORVALIS_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return std::fprintf(stderr, "%s\n", dlerror()), 1;
  Library lib{reinterpret_cast<decltype(&sndSetParam)>(dlsym(handle, "sndSetParam")),
              reinterpret_cast<decltype(&sndPlay)>(dlsym(handle, "sndPlay")),
              reinterpret_cast<decltype(&sndRecord)>(dlsym(handle, "sndRecord"))};
  std::wstring address = std::to_wstring(reinterpret_cast<uintptr_t>(&OnNotice));
  lib.setParam(L"notify", address.c_str());

  std::vector<double> libPlay, peerPlay, libRecord, peerRecord;
  for (int round = 0; round <= kRounds; ++round) {  // round 0 warms both up and is not counted
    int playValue = 0;
    int before = g_ends;
    double a = UntilFirstSound([&] { lib.play(wideWav.c_str(), &playValue, nullptr); },
                               [&] { while (g_ends == before) std::this_thread::sleep_for(milliseconds(5)); });
    std::thread peer;
    double b = UntilFirstSound([&] { peer = std::thread(PeerPlay, wav); }, [&] { peer.join(); });
    double c = UntilFirstRecorded(lib, dir + "/answer.wav");
    double d = PeerRecordFirstFrame(1);
    if (round == 0) continue;
    libPlay.push_back(a), peerPlay.push_back(b), libRecord.push_back(c), peerRecord.push_back(d);
  }
  Report("sndPlay to first sound heard", libPlay);
  Report("ALSA writei to first sound heard (floor)", peerPlay);
  std::printf("  ratio of medians %.2f (target at most 1.2)\n", Median(libPlay) / Median(peerPlay));
  Report("sndRecord to first frame in the file", libRecord);
  Report("ALSA readi to first frame read (floor)", peerRecord);
  std::printf("  ratio of medians %.2f (target at most 1.2)\n", Median(libRecord) / Median(peerRecord));

  for (const wchar_t* name : {L"notify_energy", L"notify_waveform"}) lib.setParam(name, L"1");
  std::vector<double> cpu;
  for (int round = 0; round < 3; ++round) {
    int before = g_ends, notices = g_notices;
    double cpu0 = CpuSeconds();
    auto t0 = Clock::now();
    std::string path = dir + "/long.wav";
    lib.record(std::wstring(path.begin(), path.end()).c_str(), 60, nullptr);
    while (g_ends == before) std::this_thread::sleep_for(milliseconds(50));
    double wall = duration<double>(Clock::now() - t0).count();
    cpu.push_back(100 * (CpuSeconds() - cpu0) / wall);
    std::printf("recording 6 s: %d notices, wall %.2f s\n", g_notices - notices, wall);
  }
  std::sort(cpu.begin(), cpu.end());
  std::printf("%-44s min %7.2f  median %7.2f  max %7.2f %% of one core (target < 2)\n",
              "CPU while recording with notifications", cpu.front(), cpu[1], cpu.back());
  return 0;
}

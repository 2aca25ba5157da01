#include "tests/support/sound_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace soundtest {
namespace {

using Clock = std::chrono::steady_clock;

// Starts |argv| with its standard output on |outFd| (-1: inherited); returns its pid.
pid_t Spawn(const std::vector<std::string>& argv, int outFd) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (outFd >= 0) posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot run " + argv[0] + ": " + std::strerror(rc));
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string MakeTempDir(const char* prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  return buffer.data();
}

void Fft(std::vector<std::complex<double>>& a, bool inverse) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    double angle = 2 * M_PI / double(len) * (inverse ? 1 : -1);
    std::complex<double> step(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1);
      for (size_t k = 0; k < len / 2; ++k, w *= step) {
        auto u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
  if (inverse)
    for (auto& x : a) x /= double(n);
}

double Pearson(const float* a, const float* b, size_t n) {
  if (n == 0) return 0.0;
  double ma = 0, mb = 0;
  for (size_t i = 0; i < n; ++i) ma += a[i], mb += b[i];
  ma /= double(n), mb /= double(n);
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < n; ++i) {
    double x = a[i] - ma, y = b[i] - mb;
    sab += x * y, saa += x * x, sbb += y * y;
  }
  return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0.0;
}

}  // namespace

std::string Run(const std::vector<std::string>& argv) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_t pid;
  try {
    pid = Spawn(argv, fds[1]);
  } catch (...) {
    close(fds[0]), close(fds[1]);
    throw;
  }
  close(fds[1]);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    out.append(buffer, size_t(n));
  }
  close(fds[0]);
  int code = WaitExit(pid);
  if (code != 0) throw std::runtime_error(argv[0] + " failed (" + std::to_string(code) + "): " + out);
  return out;
}

SoundServer::SoundServer() : dir_(MakeTempDir("qwsound-")) {
  std::string out;
  try {
    out = Run(StartCommand());
  } catch (...) {
    std::filesystem::remove_all(dir_);
    throw;
  }
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = line.substr(0, eq);
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    env_.emplace_back(name, line.substr(eq + 1));
    setenv(name.c_str(), env_.back().second.c_str(), 1);
  }
}

SoundServer::~SoundServer() {
  try {
    Run({"bash", SOUND_SERVER_SCRIPT, "stop", dir_});
  } catch (...) {
  }
  for (const auto& [name, value] : saved_) {
    if (value)
      setenv(name.c_str(), value->c_str(), 1);
    else
      unsetenv(name.c_str());
  }
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::vector<std::string> SoundServer::StartCommand() const {
  return {"bash", SOUND_SERVER_SCRIPT, "start", dir_, std::to_string(getpid())};
}

void SoundServer::Stop() { Run({"bash", SOUND_SERVER_SCRIPT, "stop", dir_}); }

void SoundServer::Start() { Run(StartCommand()); }

void SoundServer::Pause() { Signal(SIGSTOP); }

void SoundServer::Resume() { Signal(SIGCONT); }

void SoundServer::Signal(int signal) const {
  std::ifstream file(dir_ + "/runtime/pulse/pid");
  pid_t pid = 0;
  if (!(file >> pid) || pid <= 0 || kill(pid, signal) != 0)
    throw std::runtime_error("the sound server in " + dir_ + " is not running");
}

std::string SoundServer::Pactl(const std::vector<std::string>& args) const {
  std::vector<std::string> argv{"pactl"};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv);
}

Capture::Capture(int rate, int channels, const std::string& source)
    : channels_(channels) {
  sound_.rate = rate;
  sound_.channels = channels;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  try {
    pid_ = Spawn({"parecord", "--raw", "--format=s16le", "--rate=" + std::to_string(rate),
                  "--channels=" + std::to_string(channels), "--latency-msec=10", "-d", source},
                 fds[1]);
  } catch (...) {
    close(fds[0]), close(fds[1]);
    throw;
  }
  close(fds[1]);
  fd_ = fds[0];
  reader_ = std::thread(&Capture::Read, this);
}

Capture::~Capture() { Stop(); }

void Capture::Read() {
  std::vector<char> pending;
  char buffer[8192];
  const size_t frameBytes = 2 * size_t(channels_);
  for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    auto arrival = Clock::now();
    pending.insert(pending.end(), buffer, buffer + n);
    size_t whole = pending.size() / frameBytes * frameBytes;
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < whole; i += 2) {
      int16_t s;
      std::memcpy(&s, &pending[i], 2);
      sound_.samples.push_back(float(s) / 32768.0f);
    }
    pending.erase(pending.begin(), pending.begin() + long(whole));
    if (whole) pieces_.push_back({sound_.frames(), arrival});
  }
}

bool Capture::WaitRunning(std::chrono::milliseconds limit) {
  auto end = Clock::now() + limit;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!pieces_.empty()) return true;
    }
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool Capture::WaitSound(float threshold, std::chrono::milliseconds limit) {
  auto end = Clock::now() + limit;
  while (!FirstSoundTime(threshold)) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::optional<Clock::time_point> Capture::TimeOfFrame(size_t frame) const {
  for (const auto& piece : pieces_)
    if (piece.endFrame > frame) return piece.arrival;
  return std::nullopt;
}

std::optional<Clock::time_point> Capture::FirstSoundTime(float threshold) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < sound_.samples.size(); ++i)
    if (std::fabs(sound_.samples[i]) > threshold) return TimeOfFrame(i / size_t(channels_));
  return std::nullopt;
}

std::optional<Clock::time_point> Capture::LastSoundTime(float threshold) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = sound_.samples.size(); i-- > 0;)
    if (std::fabs(sound_.samples[i]) > threshold) return TimeOfFrame(i / size_t(channels_));
  return std::nullopt;
}

Sound Capture::Recorded() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sound_;
}

Sound Capture::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    WaitExit(pid_);
    pid_ = -1;
  }
  if (reader_.joinable()) reader_.join();
  if (fd_ >= 0) close(fd_), fd_ = -1;
  return Recorded();
}

MicFeed::MicFeed(const std::string& path, const std::string& sink)
    : pid_(Spawn({"paplay", "-d", sink, path}, -1)) {}

MicFeed::~MicFeed() { Wait(); }

bool MicFeed::Wait() {
  if (pid_ <= 0) return false;
  int code = WaitExit(pid_);
  pid_ = -1;
  return code == 0;
}

Sound ReadSound(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
  Sound sound;
  sound.rate = info.samplerate;
  sound.channels = info.channels;
  std::vector<float> block(4096 * size_t(info.channels));
  for (sf_count_t n; (n = sf_readf_float(file, block.data(), 4096)) > 0;)
    sound.samples.insert(sound.samples.end(), block.begin(), block.begin() + n * info.channels);
  sf_close(file);
  return sound;
}

static void WriteSound(const std::string& path, const Sound& sound, int format) {
  SF_INFO info{};
  info.samplerate = sound.rate;
  info.channels = sound.channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
  sf_count_t written = sf_writef_float(file, sound.samples.data(), sf_count_t(sound.frames()));
  sf_close(file);
  if (written != sf_count_t(sound.frames())) throw std::runtime_error("short write: " + path);
}

void WriteWav16(const std::string& path, const Sound& sound) {
  WriteSound(path, sound, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
}

void WriteMp3(const std::string& path, const Sound& sound) {
  WriteSound(path, sound, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
}

void MakeSpeech(const std::string& path, const std::string& text, double leadSilence) {
  std::string spoken = path + ".flite.wav";
  Run({"flite", "-voice", "slt", "-t", text, "-o", spoken});
  try {
    Run({"sox", spoken, "-r", "16000", "-c", "1", "-b", "16", path, "pad",
         std::to_string(leadSilence), "0"});
  } catch (...) {
    std::remove(spoken.c_str());
    throw;
  }
  std::remove(spoken.c_str());
}

std::vector<float> Channel(const Sound& sound, int channel) {
  std::vector<float> out(sound.frames());
  for (size_t f = 0; f < out.size(); ++f) {
    const float* frame = &sound.samples[f * size_t(sound.channels)];
    if (channel >= 0) {
      out[f] = frame[channel];
    } else {
      float sum = 0;
      for (int c = 0; c < sound.channels; ++c) sum += frame[c];
      out[f] = sum / float(sound.channels);
    }
  }
  return out;
}

double Rms(const float* samples, size_t n) {
  if (n == 0) return 0.0;
  double sum = 0;
  for (size_t i = 0; i < n; ++i) sum += double(samples[i]) * samples[i];
  return std::sqrt(sum / double(n));
}

double RmsDb(const float* samples, size_t n) {
  double rms = Rms(samples, n);
  return rms > 0 ? 20 * std::log10(rms) : -200.0;
}

size_t FirstAbove(const std::vector<float>& samples, float threshold) {
  for (size_t i = 0; i < samples.size(); ++i)
    if (std::fabs(samples[i]) > threshold) return i;
  return samples.size();
}

Alignment Align(const std::vector<float>& reference, const std::vector<float>& signal,
                long maxShift) {
  Alignment best;
  if (reference.empty() || signal.empty()) return best;
  size_t n = 1;
  while (n < reference.size() + signal.size() + size_t(maxShift)) n <<= 1;
  std::vector<std::complex<double>> r(n), s(n);
  std::copy(reference.begin(), reference.end(), r.begin());
  std::copy(signal.begin(), signal.end(), s.begin());
  Fft(r, false);
  Fft(s, false);
  for (size_t i = 0; i < n; ++i) s[i] *= std::conj(r[i]);
  Fft(s, true);
  // Energy of the signal under the reference at each shift, so loud passages do not win alone.
  std::vector<double> prefix(signal.size() + 1, 0.0);
  for (size_t i = 0; i < signal.size(); ++i) prefix[i + 1] = prefix[i] + double(signal[i]) * signal[i];
  double bestScore = -1e300;
  for (long shift = -maxShift; shift <= maxShift; ++shift) {
    long from = std::max(0L, shift);
    long to = std::min(long(signal.size()), shift + long(reference.size()));
    if (to <= from) continue;
    double energy = prefix[size_t(to)] - prefix[size_t(from)];
    if (energy <= 0) continue;
    double score = s[size_t((shift + long(n)) % long(n))].real() / std::sqrt(energy);
    if (score > bestScore) bestScore = score, best.shift = shift;
  }
  long from = std::max(0L, best.shift);
  long to = std::min(long(signal.size()), best.shift + long(reference.size()));
  if (to > from)
    best.correlation = Pearson(&reference[size_t(from - best.shift)], &signal[size_t(from)],
                               size_t(to - from));
  return best;
}

}  // namespace soundtest

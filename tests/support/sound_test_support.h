// What tests and benchmarks with real sound share: a private sound server per test, recording
// what was played from the server's speaker, feeding its microphone, making speech, and the
// measures that compare two signals.
//
// A SoundServer points this process's environment at its server, so create it before anything
// in the process opens a sound device, and before starting threads that read the environment.
// Each test that plays, records or sets a volume makes its own: tests run in parallel and a
// shared server would mix their sound and their volumes. One at a time in a process: each
// restores the environment it found when it goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace soundtest {

// Sound as float samples in -1..1, channels interleaved.
struct Sound {
  int rate = 0;
  int channels = 0;
  std::vector<float> samples;
  size_t frames() const { return channels ? samples.size() / channels : 0; }
  double seconds() const { return rate ? double(frames()) / rate : 0.0; }
};

// A private PulseAudio server (scripts/sound-server) in a fresh temporary folder: the default
// sink "speaker" (48 kHz stereo; recorded back from "speaker.monitor") and the default source
// "mic", which hears what is played into the sink "micfeed" (16 kHz mono). The constructor sets
// the client environment in this process (ALSA's "default" device then reaches the server); the
// destructor stops the server, restores the environment and removes the folder. Throws
// std::runtime_error, with the server's log, when the server does not start.
class SoundServer {
 public:
  SoundServer();
  ~SoundServer();
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  const std::string& dir() const { return dir_; }  // the server's folder, without trailing "/"
  // The client environment as (name, value) pairs; already set in this process.
  const std::vector<std::pair<std::string, std::string>>& environment() const { return env_; }
  // Runs pactl against this server and returns its standard output; throws when it fails.
  std::string Pactl(const std::vector<std::string>& args) const;
  // A server that has gone (Stop) and comes back (Start) in the same folder, so the environment
  // stays as it is; throw when the script fails.
  void Stop();
  void Start();
  // A server that has stalled: its process stopped (SIGSTOP), alive but answering nothing, and
  // let go on again (SIGCONT). The destructor ends a paused server too.
  void Pause();
  void Resume();

 private:
  std::vector<std::string> StartCommand() const;
  void Signal(int signal) const;

  std::string dir_;
  std::vector<std::pair<std::string, std::string>> env_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Records a source of the server (by default the speaker's monitor) with parecord from the
// moment it is made, as raw 16-bit samples at the rate and channel count asked for, keeping the
// time each piece arrived so that the arrival of the first sound can be timed.
class Capture {
 public:
  Capture(int rate, int channels, const std::string& source = "speaker.monitor");
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // Waits until the recorder delivers samples; false when none came within |limit|.
  bool WaitRunning(std::chrono::milliseconds limit = std::chrono::seconds(5));
  // Waits until a sample above |threshold| has arrived; false when none came within |limit|.
  bool WaitSound(float threshold, std::chrono::milliseconds limit);
  // When the first sample above |threshold| arrived from the source (the arrival of the piece
  // that held it: a sink renders ahead in pieces, so finer times would be guesses); empty when
  // none has.
  std::optional<std::chrono::steady_clock::time_point> FirstSoundTime(float threshold) const;
  // When the last sample above |threshold| arrived, the same way; empty when none did.
  std::optional<std::chrono::steady_clock::time_point> LastSoundTime(float threshold) const;
  // What has been recorded so far.
  Sound Recorded() const;
  // Stops the recorder and returns everything it recorded.
  Sound Stop();

 private:
  struct Piece {
    size_t endFrame;
    std::chrono::steady_clock::time_point arrival;
  };
  void Read();
  std::optional<std::chrono::steady_clock::time_point> TimeOfFrame(size_t frame) const;

  int channels_;
  pid_t pid_ = -1;
  int fd_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;  // guards sound_ and pieces_
  Sound sound_;
  std::vector<Piece> pieces_;
};

// Plays |path| into the server's "micfeed" sink (what the microphone hears) with paplay.
class MicFeed {
 public:
  explicit MicFeed(const std::string& path, const std::string& sink = "micfeed");
  ~MicFeed();  // waits for the end of the file
  MicFeed(const MicFeed&) = delete;
  MicFeed& operator=(const MicFeed&) = delete;
  // Waits for paplay to finish; true when it played the whole file.
  bool Wait();

 private:
  pid_t pid_ = -1;
};

// Runs |argv| (argv[0] looked up in PATH) with the current environment and waits; its standard
// output is returned; throws std::runtime_error when it cannot run or exits with failure.
std::string Run(const std::vector<std::string>& argv);

// Sound files through libsndfile; throw std::runtime_error when the file cannot be read/written.
Sound ReadSound(const std::string& path);
void WriteWav16(const std::string& path, const Sound& sound);  // 16-bit PCM WAV
void WriteMp3(const std::string& path, const Sound& sound);    // MPEG layer III

// Speech spoken by flite's "slt" voice, 16 kHz mono 16-bit, with |leadSilence| seconds of silence
// in front, written to |path|.
void MakeSpeech(const std::string& path, const std::string& text, double leadSilence = 0.5);

// One channel of |sound| (0 = the first) as its own signal; a mono mix when |channel| is -1.
std::vector<float> Channel(const Sound& sound, int channel);
// The root mean square of |n| samples, and the same in dB relative to full scale (-200 for 0).
double Rms(const float* samples, size_t n);
double RmsDb(const float* samples, size_t n);
// The index of the first sample whose magnitude exceeds |threshold|; the size when none does.
size_t FirstAbove(const std::vector<float>& samples, float threshold);

// Where |reference| lies in |signal|: the shift (signal index of the reference's first sample,
// searched from -|maxShift| to +|maxShift|) with the highest normalised cross-correlation, and
// the Pearson correlation of the reference with the part of the signal it overlaps there.
struct Alignment {
  long shift = 0;
  double correlation = 0.0;
};
Alignment Align(const std::vector<float>& reference, const std::vector<float>& signal,
                long maxShift);

}  // namespace soundtest

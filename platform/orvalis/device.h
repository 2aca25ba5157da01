// ALSA's "default" device as the operations use it: opened with the format they ask for, and
// waited on together with the operation's stop signal, so a stop never waits for the device.
// A sound server that has stopped answering (stopped, not gone) holds an open, a drain, a drop
// or a close for half a minute: those run on a thread of their own, waited for a bounded time,
// and one that comes too late is finished by that thread alone.
#pragma once

#include <alsa/asoundlib.h>

#include <memory>

namespace orvalis {

// Raised once, by whoever stops an operation; the operation's thread waits on it.
class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;
  void Raise();
  bool Raised() const;
  // Waits up to |ms| milliseconds; true when the signal is raised.
  bool Sleep(int ms) const;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Closes |pcm|, first letting it play what it holds when |drain| (else that is dropped), and
// waits at most about a second for that.
void ClosePcm(snd_pcm_t* pcm, bool drain) noexcept;

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const { ClosePcm(pcm, false); }
};
using Pcm = std::unique_ptr<snd_pcm_t, PcmCloser>;

// Opens the default device for |stream|, non-blocking, interleaved, with a buffer of about
// |bufferMs| milliseconds in four periods; null when it cannot be opened or set up within a
// few seconds.
Pcm OpenDefault(snd_pcm_stream_t stream, snd_pcm_format_t format, int channels, int rate,
                int bufferMs);

enum class WaitResult { kReady, kStopped, kTimeout, kFailed };
// Waits until the device can be written (playback) or read (capture), the stop signal is
// raised, or |timeoutMs| has passed.
WaitResult WaitDevice(snd_pcm_t* pcm, const StopSignal& stop, int timeoutMs);

}  // namespace orvalis

#include "platform/orvalis/device.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace orvalis {

StopSignal::StopSignal() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) throw std::runtime_error("eventfd failed");
}

StopSignal::~StopSignal() { close(fd_); }

void StopSignal::Raise() {
  uint64_t one = 1;
  // The counter cannot overflow from one write per stop; a full counter is raised anyway.
  ssize_t written = write(fd_, &one, sizeof one);
  (void)written;
}

bool StopSignal::Raised() const { return Sleep(0); }

bool StopSignal::Sleep(int ms) const {
  pollfd fd{fd_, POLLIN, 0};
  int rc;
  while ((rc = poll(&fd, 1, ms)) < 0 && errno == EINTR) {
  }
  return rc > 0;
}

Pcm OpenDefault(snd_pcm_stream_t stream, snd_pcm_format_t format, int channels, int rate,
                int bufferMs) {
  snd_pcm_t* raw = nullptr;
  if (snd_pcm_open(&raw, "default", stream, SND_PCM_NONBLOCK) < 0) return nullptr;
  Pcm pcm(raw);
  if (snd_pcm_set_params(raw, format, SND_PCM_ACCESS_RW_INTERLEAVED, unsigned(channels),
                         unsigned(rate), 1, unsigned(bufferMs) * 1000) < 0)
    return nullptr;
  return pcm;
}

WaitResult WaitDevice(snd_pcm_t* pcm, const StopSignal& stop, int timeoutMs) {
  int count = snd_pcm_poll_descriptors_count(pcm);
  if (count <= 0) return WaitResult::kFailed;
  std::vector<pollfd> fds(size_t(count) + 1);
  if (snd_pcm_poll_descriptors(pcm, fds.data(), unsigned(count)) != count)
    return WaitResult::kFailed;
  fds[size_t(count)] = {stop.fd(), POLLIN, 0};
  for (;;) {
    int rc = poll(fds.data(), fds.size(), timeoutMs);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return WaitResult::kFailed;
    if (rc == 0) return WaitResult::kTimeout;
    if (fds[size_t(count)].revents) return WaitResult::kStopped;
    unsigned short revents = 0;
    if (snd_pcm_poll_descriptors_revents(pcm, fds.data(), unsigned(count), &revents) < 0)
      return WaitResult::kFailed;
    // An underrun or overrun shows as an error; the next read or write reports it and recovers.
    if (revents & (POLLERR | POLLNVAL))
      return snd_pcm_state(pcm) == SND_PCM_STATE_XRUN ? WaitResult::kReady : WaitResult::kFailed;
    if (revents & (POLLIN | POLLOUT)) return WaitResult::kReady;
    // Woken for the plug-in's own bookkeeping: wait on.
  }
}

}  // namespace orvalis

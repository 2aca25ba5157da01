#include "platform/orvalis/device.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace orvalis {
namespace {

// A live server opens a device in tens of milliseconds and closes it in a few; these leave room
// for a busy machine.
constexpr int kOpenLimitMs = 3000;
constexpr int kCloseLimitMs = 1000;

// Runs |call| on a thread of its own and waits up to |limitMs| for it; true when it ended in
// time. A call that ends later runs |late| afterwards on that thread, with nobody waiting. Without
// a thread to spare the call runs here.
bool RunBounded(std::function<void()> call, std::function<void()> late, int limitMs) {
  struct Shared {
    std::function<void()> call, late;
    std::mutex lock;  // guards ended, abandoned
    std::condition_variable endedChanged;
    bool ended = false;
    bool abandoned = false;
  };
  auto shared = std::make_shared<Shared>();
  shared->call = std::move(call);
  shared->late = std::move(late);
  try {
    std::thread([shared] {
      shared->call();
      bool abandoned;
      {
        std::lock_guard<std::mutex> lock(shared->lock);
        shared->ended = true;
        abandoned = shared->abandoned;
      }
      shared->endedChanged.notify_all();
      if (abandoned && shared->late) shared->late();
    }).detach();
  } catch (...) {
    shared->call();
    return true;
  }
  std::unique_lock<std::mutex> lock(shared->lock);
  if (shared->endedChanged.wait_for(lock, std::chrono::milliseconds(limitMs),
                                    [&] { return shared->ended; }))
    return true;
  shared->abandoned = true;
  return false;
}

}  // namespace

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

void ClosePcm(snd_pcm_t* pcm, bool drain) noexcept {
  if (!pcm) return;
  auto finish = [pcm, drain] {
    if (drain && snd_pcm_nonblock(pcm, 0) == 0) snd_pcm_drain(pcm);
    snd_pcm_close(pcm);
  };
  try {
    RunBounded(finish, nullptr, kCloseLimitMs);
  } catch (...) {
    // Out of memory before anything ran: closed here, however long that takes.
    finish();
  }
}

Pcm OpenDefault(snd_pcm_stream_t stream, snd_pcm_format_t format, int channels, int rate,
                int bufferMs) {
  // Written by the opening thread before it reports its end; read only when that came in time.
  auto opened = std::make_shared<snd_pcm_t*>(nullptr);
  bool inTime = RunBounded(
      [=] {
        snd_pcm_t* raw = nullptr;
        if (snd_pcm_open(&raw, "default", stream, SND_PCM_NONBLOCK) < 0) return;
        if (snd_pcm_set_params(raw, format, SND_PCM_ACCESS_RW_INTERLEAVED, unsigned(channels),
                               unsigned(rate), 1, unsigned(bufferMs) * 1000) < 0) {
          snd_pcm_close(raw);
          return;
        }
        *opened = raw;
      },
      [opened] {
        if (*opened) snd_pcm_close(*opened);
      },
      kOpenLimitMs);
  return inTime ? Pcm(*opened) : nullptr;
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

#include "transfer/retry_stop.h"

#include <chrono>
#include <thread>

namespace org_trellik {

namespace {
thread_local const ScopedRetryStop* innermost = nullptr;
}  // namespace

void RetryStop::Request() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_ = true;
  }
  changed_.notify_all();
}

bool RetryStop::Requested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requested_;
}

bool RetryStop::Pause(long long ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return requested_; });
}

ScopedRetryStop::ScopedRetryStop(RetryStop& stop) : stop_(stop), outer_(innermost) {
  innermost = this;
}

ScopedRetryStop::~ScopedRetryStop() { innermost = outer_; }

bool RetryStopRequested() {
  for (const ScopedRetryStop* scope = innermost; scope; scope = scope->outer_) {
    if (scope->stop_.Requested()) return true;
  }
  return false;
}

bool PauseBeforeRetry(long long ms) {
  if (!innermost) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return true;
  }
  // The command's own flag, the innermost, is the one that a stop may set during the pause.
  return !RetryStopRequested() && innermost->stop_.Pause(ms);
}

}  // namespace org_trellik

#include "transfer/retry_stop.h"

#include <chrono>

namespace org_trellik {

namespace {
thread_local RetryStop* current = nullptr;
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

ScopedRetryStop::ScopedRetryStop(RetryStop& stop) : previous_(current) { current = &stop; }

ScopedRetryStop::~ScopedRetryStop() { current = previous_; }

RetryStop* CurrentRetryStop() { return current; }

}  // namespace org_trellik

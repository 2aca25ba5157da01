// How a page command ends the transfers it runs early: its stop ends the pause between two
// attempts at once, and no further attempt begins. An attempt already under way runs to its end.
// The provider's operations keep their signatures: a command hands its flag to the transfers of
// its own thread for as long as a ScopedRetryStop lives.
#pragma once

#include <condition_variable>
#include <mutex>

namespace org_trellik {

class RetryStop {
 public:
  // Ends a pause under way and every later one; any thread may call it.
  void Request();
  bool Requested() const;
  // Waits |ms| milliseconds; false at once, or as soon as a stop is requested.
  bool Pause(long long ms);

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool requested_ = false;
};

// Scopes nest: the transfers of the thread obey every flag handed to them.
class ScopedRetryStop {
 public:
  explicit ScopedRetryStop(RetryStop& stop);
  ~ScopedRetryStop();
  ScopedRetryStop(const ScopedRetryStop&) = delete;
  ScopedRetryStop& operator=(const ScopedRetryStop&) = delete;

 private:
  friend bool RetryStopRequested();
  friend bool PauseBeforeRetry(long long ms);
  RetryStop& stop_;
  const ScopedRetryStop* outer_;
};

// Whether a flag handed to the calling thread's transfers asks them to stop.
bool RetryStopRequested();
// The pause before another attempt: false when a stop ended it or had been asked for already.
bool PauseBeforeRetry(long long ms);

}  // namespace org_trellik

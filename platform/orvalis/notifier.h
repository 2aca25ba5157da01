// Delivers the library's notifications to the registered procedure on a thread of its own, in
// the order they were posted, so sound threads never wait for the caller's handlers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/orvalis/orvalis.h"

namespace orvalis {

class Notifier {
 public:
  Notifier();
  ~Notifier();  // delivers what is queued, then ends its thread
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;

  void SetProc(SndNotifyProc proc) { proc_.store(proc); }
  // Queues one notification; |droppable| ones (levels, positions) are dropped while the queue
  // is long, so a stalled handler cannot make memory grow. Never blocks.
  void Post(int message, std::wstring text, const char* request, bool droppable);
  // The number of notifications posted so far.
  uint64_t Posted();
  // Waits until the first |count| notifications have been handed to the procedure and it has
  // returned. Returns at once on the notifier's own thread (a handler waiting for itself).
  void WaitDelivered(uint64_t count);

 private:
  struct Item {
    int message;
    std::wstring text;
    const char* request;
  };
  void Run();

  std::atomic<SndNotifyProc> proc_{nullptr};
  std::mutex mutex_;  // guards queue_, posted_, delivered_, quit_
  std::condition_variable changed_;
  std::deque<Item> queue_;
  uint64_t posted_ = 0;
  uint64_t delivered_ = 0;
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace orvalis

#include "platform/orvalis/notifier.h"

namespace orvalis {
namespace {
// Levels and positions arrive ~12 times a second; a second and a half of them is plenty.
constexpr size_t kMaxQueuedDroppable = 64;
}  // namespace

Notifier::Notifier() : thread_(&Notifier::Run, this) {}

Notifier::~Notifier() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void Notifier::Post(int message, std::wstring text, const char* request, bool droppable) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (droppable && queue_.size() >= kMaxQueuedDroppable) return;
    queue_.push_back({message, std::move(text), request});
    ++posted_;
  }
  changed_.notify_all();
}

uint64_t Notifier::Posted() {
  std::lock_guard<std::mutex> lock(mutex_);
  return posted_;
}

void Notifier::WaitDelivered(uint64_t count) {
  if (std::this_thread::get_id() == thread_.get_id()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return delivered_ >= count; });
}

void Notifier::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return quit_ || !queue_.empty(); });
    if (queue_.empty()) return;
    Item item = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    if (SndNotifyProc proc = proc_.load()) {
      // The handler is the caller's code: whatever it throws ends this notification only.
      try {
        proc(item.message, item.text.c_str(), item.request);
      } catch (...) {
      }
    }
    lock.lock();
    ++delivered_;
    changed_.notify_all();
  }
}

}  // namespace orvalis

#include "browser_host/task_pool.h"

#include <system_error>
#include <thread>

bool TaskPool::StartDetachedThread(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

TaskPool::TaskPool(std::chrono::milliseconds idle, ThreadStarter start)
    : idle_(idle), start_(std::move(start)) {}

TaskPool::~TaskPool() {
  std::unique_lock<std::mutex> lock(mutex_);
  stopping_ = true;
  wake_.notify_all();
  ended_.wait(lock, [this] { return workers_ == 0; });
}

bool TaskPool::Push(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(std::move(task));
  if (free_ > 0 || CommitWorker()) return true;
  // Every worker is busy: the first to finish takes the task.
  if (workers_ > 0) return true;
  queue_.pop_back();
  return false;
}

bool TaskPool::CommitWorker() {
  if (sleeping_ > wakes_) {
    ++wakes_;
    wake_.notify_one();
  } else {
    if (!start_([this] { Work(); })) return false;
    ++workers_;
  }
  ++free_;
  return true;
}

size_t TaskPool::Workers() {
  std::lock_guard<std::mutex> lock(mutex_);
  return workers_;
}

void TaskPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // Free here, and counted in free_.
    if (!queue_.empty()) {
      std::function<void()> task = std::move(queue_.front());
      queue_.pop_front();
      --free_;
      // The task may block: the ones behind it get a worker of their own first. Waking that
      // worker here, not in Push, keeps the cost off the thread that queues.
      if (!queue_.empty() && free_ == 0) CommitWorker();
      lock.unlock();
      task();
      task = nullptr;  // what the task holds goes before the worker counts as free
      lock.lock();
      ++free_;
      continue;
    }
    if (stopping_) break;
    --free_;
    ++sleeping_;
    bool woken = wake_.wait_for(lock, idle_, [this] { return wakes_ > 0 || stopping_; });
    --sleeping_;
    if (woken && wakes_ > 0) {
      --wakes_;  // Push counted this worker as free already
      continue;
    }
    if (!stopping_) break;  // idle too long
    ++free_;
  }
  if (stopping_) --free_;  // a worker that ended idle was not free any more
  --workers_;
  ended_.notify_all();
}

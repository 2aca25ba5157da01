// The workers that run the page's commands. A command may block for minutes (a transfer, a
// recording), so no queued task waits behind a running one: while tasks are queued, a free
// worker is on its way to them, and a worker that takes one first sees that the rest have one.
// Waking a sleeping thread costs the waker more than a short command costs its worker, so the
// thread that queues (the browser's UI thread) only wakes one when no worker is on its way.
// When the system will not give another thread, queued tasks wait for a worker that is busy.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

class TaskPool {
 public:
  // Starts |body| on a thread of its own; false when the system gives no thread.
  using ThreadStarter = std::function<bool(std::function<void()> body)>;
  static bool StartDetachedThread(std::function<void()> body);

  // |idle|: how long a sleeping worker waits for work before it ends.
  explicit TaskPool(std::chrono::milliseconds idle, ThreadStarter start = StartDetachedThread);
  // Waits for the tasks under way and ends the workers; queued tasks still run first. The
  // process's own pool is never destroyed: its commands may block at exit.
  ~TaskPool();
  TaskPool(const TaskPool&) = delete;
  TaskPool& operator=(const TaskPool&) = delete;

  // Runs |task| on a worker: a new one, or one that is busy now when no thread can be started.
  // False (and |task| not run) only when there is no worker at all and none could be started.
  bool Push(std::function<void()> task);

  // Workers alive now (running, free or asleep).
  size_t Workers();

 private:
  void Work();
  // Wakes a sleeping worker or starts one, with mutex_ held; false when none could be started.
  bool CommitWorker();

  const std::chrono::milliseconds idle_;
  const ThreadStarter start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable ended_;
  std::deque<std::function<void()>> queue_;
  // Workers that will look at the queue before they sleep (between tasks, woken or starting).
  size_t free_ = 0;
  size_t sleeping_ = 0;
  size_t wakes_ = 0;  // wake-ups sent to sleeping workers and not yet taken
  size_t workers_ = 0;
  bool stopping_ = false;
};

#include "exam_commands/session_record.h"

#include <glib.h>

#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "shell/core/profile.h"
#include "shell/core/program_log.h"

namespace {

struct Job {
  std::function<void()> run;
};

// The jobs' bookkeeping, never destroyed: a job may still run while the process ends.
struct Queue {
  std::mutex lock;  // guards queued
  std::condition_variable done;
  int queued = 0;  // jobs not yet done
  GThreadPool* pool = nullptr;
};

void RunJob(gpointer data, gpointer);

Queue& TheQueue() {
  static Queue* queue = [] {
    auto* q = new Queue();
    // One job at a time, in the order queued; the thread is one of GLib's shared ones.
    q->pool = g_thread_pool_new(RunJob, nullptr, 1, FALSE, nullptr);
    // A record queued just before the end still reaches the disk, before the log and the
    // other statics the jobs use are gone.
    std::atexit(WaitForSessionRecords);
    return q;
  }();
  return *queue;
}

void RunJob(gpointer data, gpointer) {
  std::unique_ptr<Job> job(static_cast<Job*>(data));
  job->run();
  Queue& q = TheQueue();
  std::lock_guard<std::mutex> lock(q.lock);
  if (--q.queued == 0) q.done.notify_all();
}

}  // namespace

void QueueSessionFolderTask(std::function<void()> task) {
  Queue& q = TheQueue();
  {
    std::lock_guard<std::mutex> lock(q.lock);
    ++q.queued;
  }
  g_thread_pool_push(q.pool, new Job{std::move(task)}, nullptr);
}

void RecordSessionFolder(const std::string& path, const std::string& session) {
  QueueSessionFolderTask([path, session] {
    if (!WriteProfileString(path, "cache", "session", session)) {
      std::string scratch;
      QLOG_ERROR << FormatLogTag("run app", "hash.cache写入失败", scratch);
    }
  });
}

void WaitForSessionRecords() {
  Queue& q = TheQueue();
  std::unique_lock<std::mutex> lock(q.lock);
  q.done.wait(lock, [&q] { return q.queued == 0; });
}

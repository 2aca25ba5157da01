#include "exam_commands/session_record.h"

#include <glib.h>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "shell/core/profile.h"
#include "shell/core/program_log.h"

namespace {

struct Job {
  std::function<void()> run;
};

// Guards g_queued, the number of jobs not yet done.
std::mutex g_recordsLock;
std::condition_variable g_recordsDone;
int g_queued = 0;

void RunJob(gpointer data, gpointer) {
  std::unique_ptr<Job> job(static_cast<Job*>(data));
  job->run();
  std::lock_guard<std::mutex> lock(g_recordsLock);
  if (--g_queued == 0) g_recordsDone.notify_all();
}

// One job at a time, in the order queued; the thread is one of GLib's shared ones.
GThreadPool* Writer() {
  static GThreadPool* pool = g_thread_pool_new(RunJob, nullptr, 1, FALSE, nullptr);
  return pool;
}

}  // namespace

void QueueSessionFolderTask(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(g_recordsLock);
    ++g_queued;
  }
  g_thread_pool_push(Writer(), new Job{std::move(task)}, nullptr);
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
  std::unique_lock<std::mutex> lock(g_recordsLock);
  g_recordsDone.wait(lock, [] { return g_queued == 0; });
}

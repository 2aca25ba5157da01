#include "exam_commands/session_record.h"

#include <glib.h>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "shell/core/profile.h"
#include "shell/core/program_log.h"

namespace {

struct Record {
  std::string path;
  std::string session;
};

// Guards |queued|, the number of records not yet written.
std::mutex g_recordsLock;
std::condition_variable g_recordsDone;
int g_queued = 0;

void WriteRecord(gpointer data, gpointer) {
  std::unique_ptr<Record> record(static_cast<Record*>(data));
  if (!WriteProfileString(record->path, "cache", "session", record->session)) {
    std::string scratch;
    QLOG_ERROR << FormatLogTag("run app", "hash.cache写入失败", scratch);
  }
  std::lock_guard<std::mutex> lock(g_recordsLock);
  if (--g_queued == 0) g_recordsDone.notify_all();
}

// One record at a time, in the order made; the thread is one of GLib's shared ones.
GThreadPool* Writer() {
  static GThreadPool* pool = g_thread_pool_new(WriteRecord, nullptr, 1, FALSE, nullptr);
  return pool;
}

}  // namespace

void RecordSessionFolder(const std::string& path, const std::string& session) {
  {
    std::lock_guard<std::mutex> lock(g_recordsLock);
    ++g_queued;
  }
  g_thread_pool_push(Writer(), new Record{path, session}, nullptr);
}

void WaitForSessionRecords() {
  std::unique_lock<std::mutex> lock(g_recordsLock);
  g_recordsDone.wait(lock, [] { return g_queued == 0; });
}

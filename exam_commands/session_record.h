// The name of the running application's temporary session folder, recorded in hash.cache so
// that the next start removes the folder, even after a crash. The record is written and flushed
// to disk off the calling thread: "runapp" of an "app://" home page runs on the main thread,
// and the first page must not wait for the disk. Records are written in the order they were
// made, so the last session made is the one on disk.
#pragma once

#include <functional>
#include <string>

// Queues the record of |session| in the hash.cache file |path|.
void RecordSessionFolder(const std::string& path, const std::string& session);

// Runs |task|, work on session folders or their records, off the calling thread in order with
// the records: after those queued before it, before those queued after it.
void QueueSessionFolderTask(std::function<void()> task);

// Returns once every record and task queued before is done, and every record on disk (or has failed, which is logged). Anything
// else that reads or writes hash.cache waits for it first.
void WaitForSessionRecords();

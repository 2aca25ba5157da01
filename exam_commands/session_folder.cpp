#include "exam_commands/session_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <map>
#include <mutex>

#include "platform/base/regular_file.h"

const char kSessionFolderMark[] = ".quellwick-session";

namespace {

std::string MarkOf(const std::string& folder) {
  return folder + (folder.empty() || folder.back() != '/' ? "/" : "") + kSessionFolderMark;
}

// The locked marks of the folders this run holds, by folder. Never destroyed: a worker may still
// end a session while the process ends, and the kernel drops the locks then anyway.
struct HeldFolders {
  std::mutex lock;
  std::map<std::string, int> marks;
};
HeldFolders& Held() {
  static HeldFolders* held = new HeldFolders();
  return *held;
}

}  // namespace

bool HoldSessionFolder(const std::string& folder) {
  // The mark takes its name only once it is locked: a start that looks at the folder meanwhile
  // finds no mark and leaves the folder alone, and never a mark it could lock itself.
  const std::string mark = MarkOf(folder);
  const std::string fresh = mark + ".new";
  int fd = open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || rename(fresh.c_str(), mark.c_str()) != 0) {
    unlink(fresh.c_str());
    close(fd);
    return false;
  }
  HeldFolders& held = Held();
  std::lock_guard<std::mutex> guard(held.lock);
  auto [slot, made] = held.marks.emplace(folder, fd);
  if (!made) {
    close(slot->second);
    slot->second = fd;
  }
  return true;
}

void ReleaseSessionFolder(const std::string& folder) {
  HeldFolders& held = Held();
  std::lock_guard<std::mutex> guard(held.lock);
  auto found = held.marks.find(folder);
  if (found == held.marks.end()) return;
  close(found->second);
  held.marks.erase(found);
}

bool IsMarkedSessionFolder(const std::string& folder) {
  struct stat st;
  return lstat(MarkOf(folder).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

SessionFolderRemoval RemoveUnheldSessionFolder(const std::string& folder, std::string& error) {
  int mark = OpenRegularFile(MarkOf(folder), O_RDWR | O_NOFOLLOW);
  if (mark >= 0 && flock(mark, LOCK_EX | LOCK_NB) != 0) {
    close(mark);
    return SessionFolderRemoval::kLeftAlone;
  }
  boost::system::error_code ec;
  boost::filesystem::remove_all(folder, ec);
  if (mark >= 0) close(mark);
  // Another start may have removed the same folder at this moment: that is no failure.
  if (ec && ec != boost::system::errc::no_such_file_or_directory) {
    error = ec.message();
    return SessionFolderRemoval::kFailed;
  }
  return SessionFolderRemoval::kRemoved;
}

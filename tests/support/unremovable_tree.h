// A folder that no one can remove by full paths, root included: without a mount of its own or a
// file attribute that not every file system keeps.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

// Nests folders inside |folder| past the longest path the system takes, one level at a time.
inline void MakeTooDeepTree(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  const std::string name(200, 'd');
  for (int i = 0; i < 25 && fd >= 0; ++i) {
    mkdirat(fd, name.c_str(), 0700);
    int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  if (fd >= 0) close(fd);
}

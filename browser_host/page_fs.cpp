#include "browser_host/page_fs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/base/regular_file.h"

namespace page_fs {

namespace {

bool WriteAllBytes(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

void ReadFileAll(const std::string& path, std::string& text, int& error) {
  text.clear();
  error = -1;
  int fd = OpenRegularFile(path, O_RDONLY);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) != 0 || static_cast<unsigned long long>(st.st_size) > kMaxReadBytes) {
    close(fd);
    return;
  }
  std::string raw;
  raw.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return;
    }
    if (n == 0) break;
    raw.append(buf, static_cast<size_t>(n));
    if (raw.size() > kMaxReadBytes) {  // the file grew while being read
      close(fd);
      return;
    }
  }
  close(fd);
  text.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text.push_back(raw[i]);
  }
  error = 0;
}

void WriteFileAll(const std::string& path, const std::string& contents, int& error) {
  error = -1;
  int fd = OpenRegularFile(path, O_WRONLY | O_CREAT | O_TRUNC);
  if (fd < 0) return;
  std::string out;
  size_t end = contents.find('\0');
  if (end == std::string::npos) end = contents.size();
  out.reserve(end + end / 16);
  for (size_t i = 0; i < end; ++i) {
    if (contents[i] == '\n') out.push_back('\r');
    out.push_back(contents[i]);
  }
  bool ok = WriteAllBytes(fd, out.data(), out.size());
  if (close(fd) != 0) ok = false;
  if (ok) error = 0;
}

bool FileExists(const std::string& path) {
  // Without waiting: a FIFO opens for reading at once this way, as a file that can be read.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool file = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  close(fd);
  return file;
}

bool DirExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& path) {
  if (path.empty()) return false;
  if (DirExists(path)) return true;
  return mkdir(path.c_str(), 0777) == 0;
}

bool DeleteDir(const std::string& path) {
  if (!DirExists(path)) return false;
  return rmdir(path.c_str()) == 0;
}

}  // namespace page_fs

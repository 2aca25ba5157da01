#include "platform/base/executable_folder.h"

#include <unistd.h>

#include <climits>

std::string ExecutableFolder() {
  std::string path(PATH_MAX, '\0');
  ssize_t n = readlink("/proc/self/exe", &path[0], path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return std::string();
  path.resize(static_cast<std::size_t>(n));
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

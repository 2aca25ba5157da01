#include "platform/cef/cef_path.h"

#include <limits.h>
#include <unistd.h>

#include <string>

bool CefGetPath(PathKey key, CefString& path) {
  if (key != PK_DIR_EXE) return false;
  std::string exe(PATH_MAX, '\0');
  ssize_t n = readlink("/proc/self/exe", &exe[0], exe.size());
  if (n <= 0 || static_cast<size_t>(n) >= exe.size()) return false;
  exe.resize(static_cast<size_t>(n));
  size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return false;
  path = CefString(slash == 0 ? std::string("/") : exe.substr(0, slash));
  return true;
}

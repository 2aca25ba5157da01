#include "platform/cef/cef_path.h"

#include <string>

#include "platform/base/executable_folder.h"

bool CefGetPath(PathKey key, CefString& path) {
  if (key != PK_DIR_EXE) return false;
  std::string folder = ExecutableFolder();
  if (folder.empty()) return false;
  // Without the trailing slash, except for the root itself.
  if (folder.size() > 1) folder.pop_back();
  path = CefString(folder);
  return true;
}

// Folders of the program that the browser layer knows.
#pragma once

#include "platform/cef/cef_string.h"

enum cef_path_key_t {
  PK_DIR_EXE,  // the folder of the running program, without a final '/'
};
typedef cef_path_key_t PathKey;

// False when the path cannot be had.
bool CefGetPath(PathKey key, CefString& path);

// File dialogs that a browser's host runs for its page.
#pragma once

#include <vector>

#include "platform/cef/cef_base.h"
#include "platform/cef/cef_string.h"

class CefBrowserHost;

enum cef_file_dialog_mode_t {
  FILE_DIALOG_OPEN = 0,           // one existing file
  FILE_DIALOG_OPEN_MULTIPLE = 1,  // several existing files
  FILE_DIALOG_SAVE = 2,           // a file name to save to
};
typedef cef_file_dialog_mode_t FileDialogMode;

class CefRunFileDialogCallback : public virtual CefBase {
 public:
  // On the main thread once the dialog has closed; |file_paths| is empty when the user
  // cancelled or the dialog went without an answer.
  virtual void OnFileDialogDismissed(CefRefPtr<CefBrowserHost> browser_host,
                                     const std::vector<CefString>& file_paths) = 0;
};

// What a file dialog shows, decided from the request alone: the part of the dialog that can
// be checked without a display.
#pragma once

#include <string>
#include <vector>

#include "platform/cef/cef_file_dialog.h"

namespace cef_internal {

struct FileDialogFilter {
  std::string name;
  std::vector<std::string> mime_types;  // lower case; "image/*" wildcards allowed
  std::vector<std::string> patterns;    // globs that ignore the case of letters
};

struct FileDialogPlan {
  bool save = false;             // otherwise open
  bool select_multiple = false;  // only when opening
  std::string title;
  std::string accept_label;
  std::string folder;                     // shown first; empty: the toolkit's choice
  std::string file_to_select;             // an existing file offered when opening
  std::string current_name;               // the name offered when saving
  std::vector<FileDialogFilter> filters;  // the first is in force; none: every file
};

FileDialogPlan PlanFileDialog(FileDialogMode mode, const CefString& title,
                              const CefString& default_file_name,
                              const std::vector<CefString>& accept_types);

// "png" -> "*.[pP][nN][gG]"; the glob's own special characters are escaped.
std::string CaselessExtensionPattern(const std::string& extension);

}  // namespace cef_internal

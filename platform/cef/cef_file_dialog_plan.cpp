#include "platform/cef/cef_file_dialog_plan.h"

#include <cctype>

namespace cef_internal {

namespace {

std::string Trimmed(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  return text.substr(b, e - b);
}

std::string AsciiLower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// One filter that lets through every accepted type, as a browser does for a page's list; the
// accepted types are a preference of the page, so every file stays one choice away.
std::vector<FileDialogFilter> FiltersFor(const std::vector<CefString>& accept_types) {
  FileDialogFilter accepted;
  for (const CefString& type : accept_types) {
    std::string t = Trimmed(type.ToString());
    if (t.empty()) continue;
    if (t.find('/') != std::string::npos) {
      accepted.mime_types.push_back(AsciiLower(t));
    } else {
      std::string extension = t[0] == '.' ? t.substr(1) : t;
      if (extension.empty()) continue;
      accepted.patterns.push_back(CaselessExtensionPattern(extension));
    }
    accepted.name += (accepted.name.empty() ? "" : ", ") + t;
  }
  if (accepted.name.empty()) return {};
  FileDialogFilter every{"All files", {}, {"*"}};
  return {accepted, every};
}

}  // namespace

std::string CaselessExtensionPattern(const std::string& extension) {
  std::string pattern = "*.";
  for (char c : extension) {
    unsigned char u = static_cast<unsigned char>(c);
    if (std::isalpha(u) && u < 0x80) {
      pattern += '[';
      pattern += static_cast<char>(std::tolower(u));
      pattern += static_cast<char>(std::toupper(u));
      pattern += ']';
    } else if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') {
      pattern += '\\';
      pattern += c;
    } else {
      pattern += c;
    }
  }
  return pattern;
}

FileDialogPlan PlanFileDialog(FileDialogMode mode, const CefString& title,
                              const CefString& default_file_name,
                              const std::vector<CefString>& accept_types) {
  FileDialogPlan plan;
  plan.save = mode == FILE_DIALOG_SAVE;
  plan.select_multiple = mode == FILE_DIALOG_OPEN_MULTIPLE;
  plan.title = title.ToString();
  plan.accept_label = plan.save ? "_Save" : "_Open";
  plan.filters = FiltersFor(accept_types);

  const std::string& path = default_file_name.ToString();
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // Only a full path says which folder is meant; a bare name is offered in the toolkit's.
  if (slash != std::string::npos && path[0] == '/')
    plan.folder = slash == 0 ? "/" : path.substr(0, slash);
  if (plan.save)
    plan.current_name = name;
  else if (!plan.folder.empty() && !name.empty())
    plan.file_to_select = path;
  return plan;
}

}  // namespace cef_internal

#include "browser_host/text_convert.h"

#include <unistd.h>

#include <climits>

#include "platform/cef/cef_string.h"

std::wstring StringToWString(const std::string& text, unsigned) { return CefUtf8ToWide(text); }

std::string WStringToString(const std::wstring& text, unsigned) { return CefWideToUtf8(text); }

std::string GetModuleFolder() {
  std::string buf(PATH_MAX, '\0');
  ssize_t n = readlink("/proc/self/exe", &buf[0], buf.size());
  if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return std::string();
  buf.resize(n);
  size_t slash = buf.rfind('/');
  return slash == std::string::npos ? std::string() : buf.substr(0, slash + 1);
}

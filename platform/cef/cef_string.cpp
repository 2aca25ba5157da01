#include "platform/cef/cef_string.h"

#include <glib.h>

std::wstring CefUtf8ToWide(const std::string& text) {
  std::wstring out;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    gunichar c = g_utf8_get_char_validated(p, end - p);
    if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) break;
    if (c == 0) {  // an embedded NUL is kept as a character
      out.push_back(L'\0');
      ++p;
      continue;
    }
    out.push_back(static_cast<wchar_t>(c));
    p = g_utf8_next_char(p);
  }
  return out;
}

std::string CefWideToUtf8(const std::wstring& text) {
  std::string out;
  char buf[6];
  for (wchar_t wc : text) {
    gunichar c = static_cast<gunichar>(wc);
    if (!g_unichar_validate(c)) break;
    int n = g_unichar_to_utf8(c, buf);
    out.append(buf, n);
  }
  return out;
}

CefString::CefString(const std::wstring& w) : s_(CefWideToUtf8(w)) {}
CefString::CefString(const wchar_t* w) : s_(w ? CefWideToUtf8(w) : std::string()) {}
std::wstring CefString::ToWString() const { return CefUtf8ToWide(s_); }

// Text of the browser layer: UTF-8 inside, convertible to and from wide (UTF-32) text.
#pragma once

#include <string>

class CefString {
 public:
  CefString() = default;
  CefString(const char* s) : s_(s ? s : "") {}
  CefString(const std::string& s) : s_(s) {}
  CefString(std::string&& s) : s_(std::move(s)) {}
  CefString(const std::wstring& w);
  CefString(const wchar_t* w);

  const std::string& ToString() const { return s_; }
  std::wstring ToWString() const;
  bool empty() const { return s_.empty(); }
  const char* c_str() const { return s_.c_str(); }
  bool operator==(const CefString& o) const { return s_ == o.s_; }
  bool operator!=(const CefString& o) const { return s_ != o.s_; }
  bool operator<(const CefString& o) const { return s_ < o.s_; }

 private:
  std::string s_;
};

// UTF-8 <-> UTF-32 without the process locale; an invalid sequence ends the result.
std::wstring CefUtf8ToWide(const std::string& text);
std::string CefWideToUtf8(const std::wstring& text);

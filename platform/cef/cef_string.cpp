#include "platform/cef/cef_string.h"

#include "platform/base/utf8_text.h"

namespace {

// The browser's texts keep an embedded NUL as a character.
constexpr TextConversion kBrowserText = {NulCharacter::kKept, BadCharacter::kEndsText};

}  // namespace

std::wstring CefUtf8ToWide(const std::string& text) { return ConvertUtf8ToWide(text, kBrowserText); }

std::string CefWideToUtf8(const std::wstring& text) { return ConvertWideToUtf8(text, kBrowserText); }

CefString::CefString(const std::wstring& w) : s_(CefWideToUtf8(w)) {}
CefString::CefString(const wchar_t* w) : s_(w ? CefWideToUtf8(w) : std::string()) {}
std::wstring CefString::ToWString() const { return CefUtf8ToWide(s_); }

#include "platform/base/utf8_text.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsScalarValue(char32_t cp) { return cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF); }

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

bool NextUtf8CodePoint(std::string_view text, std::size_t& i, char32_t& cp) {
  if (i >= text.size()) return false;
  auto c = static_cast<unsigned char>(text[i]);
  std::size_t len;
  char32_t value;
  if (c < 0x80) {
    value = c;
    len = 1;
  } else if ((c & 0xE0) == 0xC0) {
    value = c & 0x1F;
    len = 2;
  } else if ((c & 0xF0) == 0xE0) {
    value = c & 0x0F;
    len = 3;
  } else if ((c & 0xF8) == 0xF0) {
    value = c & 0x07;
    len = 4;
  } else {
    return false;
  }
  if (i + len > text.size()) return false;
  for (std::size_t k = 1; k < len; ++k) {
    auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return false;
    value = (value << 6) | (b & 0x3F);
  }
  static const char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[len] || !IsScalarValue(value)) return false;
  cp = value;
  i += len;
  return true;
}

std::wstring ConvertUtf8ToWide(std::string_view text, TextConversion how) {
  std::wstring out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    char32_t cp;
    if (!NextUtf8CodePoint(text, i, cp)) {
      if (how.bad == BadCharacter::kEndsText) break;
      cp = kReplacement;  // one for each byte that begins no character
      ++i;
    }
    if (cp == 0 && how.nul == NulCharacter::kEndsText) break;
    out.push_back(static_cast<wchar_t>(cp));
  }
  return out;
}

std::string ConvertWideToUtf8(std::wstring_view text, TextConversion how) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    auto cp = static_cast<char32_t>(wc);
    if (cp == 0 && how.nul == NulCharacter::kEndsText) break;
    if (!IsScalarValue(cp)) {
      if (how.bad == BadCharacter::kEndsText) break;
      cp = kReplacement;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

// UTF-8 <-> wide (UTF-32) text without the process locale, so threads never race on it. The
// callers differ in two things, named here: whether a NUL character ends the text or is kept as
// a character, and whether a character that cannot be converted (a malformed, overlong,
// surrogate or out-of-range one) ends the text or is replaced by U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

enum class NulCharacter { kEndsText, kKept };
enum class BadCharacter { kEndsText, kReplaced };
struct TextConversion {
  NulCharacter nul;
  BadCharacter bad;
};

std::wstring ConvertUtf8ToWide(std::string_view text, TextConversion how);
std::string ConvertWideToUtf8(std::wstring_view text, TextConversion how);

// Decodes the UTF-8 character at |i| into |cp| and moves |i| behind it; false (|i| unchanged) for
// a malformed, overlong, surrogate or out-of-range sequence.
bool NextUtf8CodePoint(std::string_view text, std::size_t& i, char32_t& cp);

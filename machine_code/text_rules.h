// Character and trimming rules of the identity texts. Device texts may hold any byte, so every
// test takes the byte as unsigned and knows only ASCII: no locale, no sign extension.
#pragma once

#include <string>

inline bool IsSpaceChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u == ' ' || (u >= '\t' && u <= '\r');
}
inline bool IsAlnumChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
}
inline bool IsPrintChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 0x20 && u < 0x7F;
}
// 0-15, or -1 for a character that is not a hexadecimal digit.
inline int HexDigitValue(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

// Cuts white space at both ends.
inline std::string TrimWhiteSpace(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsSpaceChar(text[begin])) ++begin;
  while (end > begin && IsSpaceChar(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Cuts carriage returns, tabs, line feeds and blanks at both ends, as the identity wants them.
inline std::string TrimIdentityText(const std::string& text) {
  const char* const kCut = "\r\t\n ";
  std::size_t begin = text.find_first_not_of(kCut);
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(kCut) - begin + 1);
}

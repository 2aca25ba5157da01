#include "browser_host/bridge_text.h"

#include <glib.h>

#include <charconv>
#include <climits>
#include <cstring>

#include "browser_host/text_convert.h"
#include "platform/base/json_string.h"

namespace bridge_text {

namespace {

bool IsTrimmed(char32_t c) {
  switch (c) {
    case 0x0009:
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0020:
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x180E:
    case 0x200C:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

// The character whose UTF-8 sequence starts at |i| of |text| and ends before |end|, and the
// length of that sequence; a broken sequence gives U+FFFF, which is never trimmed.
char32_t CharAt(const std::string& text, size_t i, size_t end, size_t& length) {
  gunichar c = g_utf8_get_char_validated(text.data() + i, static_cast<gssize>(end - i));
  if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
    length = 1;
    return 0xFFFF;
  }
  length = static_cast<size_t>(g_utf8_next_char(text.data() + i) - (text.data() + i));
  return c;
}

void AppendInteger(std::string& out, int64_t value) {
  char buffer[24];
  std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, r.ptr);
}

// A reading position in a name; every step either matches and moves on or fails.
struct Reader {
  const std::string& text;
  size_t at = 0;

  bool Literal(const char* expected) {
    size_t n = std::strlen(expected);
    if (text.compare(at, n, expected) != 0) return false;
    at += n;
    return true;
  }
  // A plain decimal integer as the writer gives it: no leading zeros, at most 18 digits.
  bool Integer(int64_t& value) {
    bool negative = at < text.size() && text[at] == '-';
    size_t digits = at + (negative ? 1 : 0);
    size_t end = digits;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    size_t n = end - digits;
    if (n == 0 || n > 18 || (n > 1 && text[digits] == '0')) return false;
    value = 0;
    for (size_t i = digits; i < end; ++i) value = value * 10 + (text[i] - '0');
    if (negative) value = -value;
    at = end;
    return true;
  }
  // A quoted text without escapes or control bytes.
  bool PlainText(std::string& value) {
    size_t start = at;
    while (at < text.size() && text[at] != '"') {
      unsigned char c = static_cast<unsigned char>(text[at]);
      if (c == '\\' || c < 0x20) return false;
      ++at;
    }
    if (at >= text.size()) return false;
    value.assign(text, start, at - start);
    ++at;
    return true;
  }
};

}  // namespace

std::string AsWideRoundTrip(const std::string& text) {
  // g_utf8_validate_len refuses NUL bytes, which the round trip keeps: those take the long way.
  if (g_utf8_validate_len(text.data(), text.size(), nullptr)) return text;
  return WStringToString(StringToWString(text, CP_ACP), CP_ACP);
}

std::string WriteRequestName(int browserId, int64_t frameId, int funcId,
                             const std::string& funcName) {
  std::string out;
  out.reserve(64 + funcName.size());
  out += "{\"browserID\":";
  AppendInteger(out, browserId);
  out += ",\"frameID\":";
  AppendInteger(out, frameId);
  out += ",\"funcID\":";
  AppendInteger(out, funcId);
  out += ",\"funcName\":";
  AppendJsonString(out, funcName);
  out += "}\n";
  return out;
}

bool ReadRequestName(const std::string& name, int& funcId, std::string& funcName) {
  Reader r{name};
  int64_t browser = 0, frame = 0, id = 0;
  std::string text;
  if (!r.Literal("{\"browserID\":") || !r.Integer(browser) || !r.Literal(",\"frameID\":") ||
      !r.Integer(frame) || !r.Literal(",\"funcID\":") || !r.Integer(id) ||
      !r.Literal(",\"funcName\":\"") || !r.PlainText(text) || !r.Literal("}"))
    return false;
  if (r.at < name.size() && name[r.at] == '\n') ++r.at;
  if (r.at != name.size() || id < INT_MIN || id > INT_MAX) return false;
  funcId = static_cast<int>(id);
  funcName = std::move(text);
  return true;
}

std::string TrimWhitespace(const std::string& text) {
  size_t begin = 0, end = text.size(), length = 0;
  while (begin < end && IsTrimmed(CharAt(text, begin, end, length))) begin += length;
  while (end > begin) {
    size_t last = end - 1;
    while (last > begin && (static_cast<unsigned char>(text[last]) & 0xC0) == 0x80) --last;
    if (!IsTrimmed(CharAt(text, last, end, length)) || last + length != end) break;
    end = last;
  }
  return text.substr(begin, end - begin);
}

void SplitAtDot(const std::string& text, std::vector<std::string>& pieces) {
  size_t start = 0;
  for (;;) {
    size_t dot = text.find('.', start);
    if (dot == std::string::npos) {
      pieces.push_back(TrimWhitespace(text.substr(start)));
      return;
    }
    pieces.push_back(TrimWhitespace(text.substr(start, dot - start)));
    start = dot + 1;
  }
}

}  // namespace bridge_text

// The transport's entries take wide texts; the wire carries UTF-8.
#pragma once

#include <string>

namespace mirvane {

// A character that cannot be converted (a lone surrogate, a malformed sequence) becomes U+FFFD,
// so one bad character never loses the rest of a message.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

}  // namespace mirvane

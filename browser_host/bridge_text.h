// The texts of the page bridge, made and read without a JSON library: the request name the
// renderer writes for every message, and its reading on the program's side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bridge_text {

// What converting |text| to wide text and back leaves of it: the very same bytes for valid
// UTF-8, as every text the browser layer carries is, without converting anything.
std::string AsWideRoundTrip(const std::string& text);

// The request name, byte for byte as the compact JSON writer writes the object
// {"browserID","frameID","funcID","funcName"}, followed by a line feed.
std::string WriteRequestName(int browserId, int64_t frameId, int funcId,
                             const std::string& funcName);

// Reads "funcID" and "funcName" of a name in exactly the form WriteRequestName gives (plain
// decimal integers, a name without escapes or control bytes). False for any other text, which
// a full JSON reading then decides.
bool ReadRequestName(const std::string& name, int& funcId, std::string& funcName);

// Trims the bridge's whitespace set (27 characters) from both ends of UTF-8 text.
std::string TrimWhitespace(const std::string& text);
// Splits UTF-8 text at every '.', trims each piece and keeps empty pieces.
void SplitAtDot(const std::string& text, std::vector<std::string>& pieces);

}  // namespace bridge_text

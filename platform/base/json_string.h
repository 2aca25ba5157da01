// JSON string escaping, shared by the program and the web-process extension, which links no
// JSON library of its own.
#pragma once

#include <string>
#include <string_view>

// Appends |text| as a JSON string, quoted and escaped byte for byte: quotes, backslashes and
// control characters only, so UTF-8 stays as it is.
void AppendJsonString(std::string& out, std::string_view text);

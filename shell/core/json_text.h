// JSON texts as the program writes and reads them: the compact writer, the parser, JSON string
// escaping, and the plain text of a value.
#pragma once

#include <json/json.h>

#include <string>
#include <string_view>

#include "platform/base/json_string.h"

// Compact JSON text of |value| ending in a line feed, with texts written byte for byte (no
// \uXXXX escapes), members in name order.
std::string WriteJson(const Json::Value& value);
// False for empty or invalid text. Comments and a bare value at the root are taken; trailing
// commas and a byte-order mark are not. Nesting deeper than the reader's limit throws.
bool ParseJson(const std::string& text, Json::Value& out);

// Who reads the plain text of a value. A command's parameter reads an array as its elements'
// JSON texts and every unsigned number in full; a form field of a server request reads an array
// and an unsigned number above the largest int as the empty text.
enum class JsonTextFor { kCommand, kFormField };
// The text of a value: null "null", numbers in decimal (reals in the stream's default notation),
// a string itself, a boolean "1" or "0", an object the empty text; arrays as |reader| says.
std::string JsonValueText(const Json::Value& value, JsonTextFor reader);

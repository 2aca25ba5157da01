#include "shell/core/json_text.h"

#include <climits>
#include <memory>
#include <sstream>

namespace {

Json::StreamWriterBuilder MakeBuilder(const char* indentation) {
  Json::StreamWriterBuilder b;
  b["indentation"] = indentation;
  b["commentStyle"] = "None";
  b["emitUTF8"] = true;
  return b;
}

// Writes through a writer made once per thread: making one reads every setting afresh.
std::string WriteWith(const char* indentation, const Json::Value& value) {
  thread_local std::unique_ptr<Json::StreamWriter> compact(MakeBuilder("").newStreamWriter());
  thread_local std::unique_ptr<Json::StreamWriter> styled(MakeBuilder("\t").newStreamWriter());
  std::ostringstream out;
  (*indentation ? styled : compact)->write(value, &out);
  return out.str();
}

}  // namespace

std::string WriteJson(const Json::Value& value) { return WriteWith("", value) + "\n"; }

bool ParseJson(const std::string& text, Json::Value& out) {
  if (text.empty()) return false;
  // The classic reader, not the builder's: the builder's default reader also takes trailing
  // commas and a byte-order mark, which are refused here.
  Json::Reader reader;
  return reader.parse(text, out, true);
}

std::string JsonValueText(const Json::Value& value, JsonTextFor reader) {
  switch (value.type()) {
    case Json::nullValue:
      return "null";
    // A form field takes a positive integer above the largest int as the empty text, however
    // the JSON library keeps it: up to 2^63-1 it holds one as a signed 64-bit number.
    case Json::intValue:
      if (reader == JsonTextFor::kFormField && value.asLargestInt() > INT_MAX) return "";
      return std::to_string(value.asLargestInt());
    case Json::uintValue:
      if (reader == JsonTextFor::kFormField &&
          value.asLargestUInt() > static_cast<Json::LargestUInt>(INT_MAX))
        return "";
      return std::to_string(value.asLargestUInt());
    case Json::realValue: {
      std::ostringstream out;
      out << value.asDouble();
      return out.str();
    }
    case Json::stringValue:
      return value.asString();
    case Json::booleanValue:
      return value.asBool() ? "1" : "0";
    case Json::arrayValue: {
      if (reader == JsonTextFor::kFormField) return "";
      std::string out = "[";
      for (const Json::Value& element : value) out += WriteWith("\t", element) + "\n";
      return out + "]";
    }
    case Json::objectValue:
      return "";
  }
  return "";
}

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
  static const Json::CharReaderBuilder builder = [] {
    Json::CharReaderBuilder b;
    b["collectComments"] = true;
    return b;
  }();
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  return reader->parse(text.data(), text.data() + text.size(), &out, &errors);
}

void AppendJsonString(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t run = 0;  // start of the bytes not yet appended, which need no escape
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '\b': out.append("\\b"); break;
      case '\f': out.append("\\f"); break;
      case '\n': out.append("\\n"); break;
      case '\r': out.append("\\r"); break;
      case '\t': out.append("\\t"); break;
      default: {
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.append(escape, sizeof escape);
      }
    }
  }
  out.append(text.data() + run, text.size() - run);
  out.push_back('"');
}

std::string JsonValueText(const Json::Value& value, JsonTextFor reader) {
  switch (value.type()) {
    case Json::nullValue:
      return "null";
    case Json::intValue:
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

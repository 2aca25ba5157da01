#include "shell/commands/command.h"

#include <sys/random.h>

#include <cstdio>
#include <memory>
#include <sstream>

#include "shell/core/helpers.h"
#include "shell/core/program_log.h"

Command::Command(const char* logWord, const CommandRequest& request)
    : id(NewGuidString()), logWord(logWord) {
  Log("constructor");
  std::string request_text;
  BuildRequestJson(request, request_text);
  Log(request_text);
}

void Command::Log(const std::string& text) {
  QLOG_INFO << FormatLogTag(logWord, text, logText);
}

bool Command::ParseParams(const CommandRequest& request, Json::Value& out) {
  if (request.params.empty()) return false;
  if (!ParseJson(request.params, out)) throw CmdException("解析json串参数失败");
  return true;
}

namespace {

const Json::StreamWriterBuilder& CompactWriter() {
  static const Json::StreamWriterBuilder builder = [] {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["commentStyle"] = "None";
    b["emitUTF8"] = true;
    return b;
  }();
  return builder;
}

}  // namespace

std::string WriteJson(const Json::Value& value) {
  return Json::writeString(CompactWriter(), value) + "\n";
}

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

std::string JsonValueToString(const Json::Value& value) {
  switch (value.type()) {
    case Json::nullValue:
      return "null";
    case Json::intValue:
      return std::to_string(value.asLargestInt());
    case Json::uintValue:
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
      static const Json::StreamWriterBuilder styled = [] {
        Json::StreamWriterBuilder b;
        b["indentation"] = "\t";
        b["commentStyle"] = "None";
        b["emitUTF8"] = true;
        return b;
      }();
      std::string out = "[";
      for (const Json::Value& element : value) out += Json::writeString(styled, element) + "\n";
      return out + "]";
    }
    case Json::objectValue:
      return "";
  }
  return "";
}

void BuildCallbackJson(const int& flag, const std::string& data, const std::string& flagMsg,
                       std::string& out) {
  Json::Value reply(Json::objectValue);
  reply["flag"] = flag;
  reply["data"] = data;
  reply["flagMsg"] = flagMsg;
  out = WriteJson(reply);
  ReplaceAll(out, "\n", "");
}

void BuildRequestJson(const CommandRequest& request, std::string& out) {
  Json::Value text(Json::objectValue);
  text["name"] = request.name;
  text["region"] = request.region;
  text["params"] = request.params;
  text["type"] = request.type;
  out = WriteJson(text);
  ReplaceAll(out, "\n", "");
}

std::string NewGuidString() {
  unsigned char b[16];
  std::size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = getrandom(b + got, sizeof b - got, 0);
    if (n > 0) got += static_cast<std::size_t>(n);
  }
  // Version 4, variant 1, as a freshly generated GUID would carry.
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
  unsigned long data1 = (static_cast<unsigned long>(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
  unsigned data2 = static_cast<unsigned>((b[4] << 8) | b[5]);
  unsigned data3 = static_cast<unsigned>((b[6] << 8) | b[7]);
  char text[40];
  std::snprintf(text, sizeof text, "%08lX%04X%04x%02X%02X%02X%02X%02X%02X%02X%02X", data1, data2,
                data3, b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

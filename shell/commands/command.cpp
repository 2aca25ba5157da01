#include "shell/commands/command.h"

#include <sys/random.h>

#include <cstdint>
#include <cstdio>
#include <random>
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
      std::string out = "[";
      for (const Json::Value& element : value) out += WriteWith("\t", element) + "\n";
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
  // Each thread draws from its own generator, seeded once from the kernel's random source.
  thread_local std::mt19937_64 generator = [] {
    std::uint32_t seed[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    std::size_t got = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(seed);
    while (got < sizeof seed) {
      ssize_t n = getrandom(bytes + got, sizeof seed - got, 0);
      if (n > 0) got += static_cast<std::size_t>(n);
    }
    std::seed_seq sequence(std::begin(seed), std::end(seed));
    return std::mt19937_64(sequence);
  }();
  unsigned char b[16];
  std::uint64_t high = generator(), low = generator();
  for (int i = 0; i < 8; ++i) {
    b[i] = static_cast<unsigned char>(high >> (8 * i));
    b[8 + i] = static_cast<unsigned char>(low >> (8 * i));
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

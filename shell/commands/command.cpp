#include "shell/commands/command.h"

#include <sys/random.h>

#include <cstdint>
#include <random>

#include "shell/core/program_log.h"

Command::Command(const char* logWord, const CommandRequest& request)
    : id(NewGuidString()), logWord(logWord) {
  Log("constructor");
  if (!LogEnabled()) return;
  // The request's text is made only for the log, straight into its line.
  std::string line;
  line.append("[").append(logWord).append("]: ");
  AppendRequestJson(line, request);
  LogMessage(boost::log::trivial::info, std::move(line));
}

Command::~Command() {
  if (complete_) Log("destructor");
}

void Command::Run(std::string& reply) {
  Log("execute");
  if (RunsOnAfterExecute()) {
    execute(reply);
    return;
  }
  try {
    execute(reply);
  } catch (...) {
    running = false;
    throw;
  }
  running = false;
}

void Command::stop() {
  Log("stop");
  running = false;
}

void Command::Log(std::string_view text) const { LogInfo(logWord, text); }

bool Command::ParseParams(const CommandRequest& request, Json::Value& out) {
  if (request.params.empty()) return false;
  if (!ParseJson(request.params, out)) throw CmdException("解析json串参数失败");
  return true;
}

// The replies and the request text are written by hand: the JSON writer would build a value, a
// stream and a copy for three members whose order and form never change. The texts are the
// writer's to the byte: members in name order, strings escaped alike, no line feed.
void BuildReplyJson(int flag, std::string_view dataJson, std::string_view flagMsg,
                    std::string& out) {
  out.clear();
  out.reserve(dataJson.size() + flagMsg.size() + 32);
  out.append("{\"data\":").append(dataJson).append(",\"flag\":").append(std::to_string(flag));
  out.append(",\"flagMsg\":");
  AppendJsonString(out, flagMsg);
  out.push_back('}');
}

void BuildCallbackJson(const int& flag, const std::string& data, const std::string& flagMsg,
                       std::string& out) {
  std::string quoted;
  quoted.reserve(data.size() + 2);
  AppendJsonString(quoted, data);
  BuildReplyJson(flag, quoted, flagMsg, out);
}

void BuildRequestJson(const CommandRequest& request, std::string& out) {
  out.clear();
  AppendRequestJson(out, request);
}

void AppendRequestJson(std::string& out, const CommandRequest& request) {
  out.reserve(out.size() + request.name.size() + request.params.size() + request.region.size() +
              request.type.size() + 48);
  out.append("{\"name\":");
  AppendJsonString(out, request.name);
  out.append(",\"params\":");
  AppendJsonString(out, request.params);
  out.append(",\"region\":");
  AppendJsonString(out, request.region);
  out.append(",\"type\":");
  AppendJsonString(out, request.type);
  out.push_back('}');
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
  // The printed form of the GUID's fields: all upper case but the third field (bytes 6 and 7).
  static const char kUpper[] = "0123456789ABCDEF";
  static const char kLower[] = "0123456789abcdef";
  std::string text(32, '0');
  for (int i = 0; i < 16; ++i) {
    const char* digits = i == 6 || i == 7 ? kLower : kUpper;
    text[2 * i] = digits[b[i] >> 4];
    text[2 * i + 1] = digits[b[i] & 0xF];
  }
  return text;
}

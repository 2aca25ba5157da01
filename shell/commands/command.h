// What every page command shares: the request it is built from, its identity and flags, the
// exception that refuses a request, and the one-line JSON reply.
#pragma once

#include <json/json.h>

#include <atomic>
#include <exception>
#include <string>

struct CommandRequest {
  std::string name;    // the command word as the page wrote it
  std::string region;  // the message name's part before the dot
  std::string params;  // JSON text, may be empty
  std::string type;    // "0" concurrent, "1" exclusive
};

class CmdException : public std::exception {
 public:
  explicit CmdException(const char* message) : message(message ? message : "") {}
  std::string getMessage() const { return message; }

 private:
  std::string message;
};

class Command {
 public:
  Command(const char* logWord, const CommandRequest& request);
  Command(const Command&) = delete;
  Command& operator=(const Command&) = delete;
  virtual ~Command() = default;

  virtual void execute(std::string& reply) = 0;
  virtual void stop() = 0;

  // Idle: the work is over and no worker is inside execute any more, so it may be deleted.
  bool IsIdle() const { return !running.load() && executeReturned.load(); }
  // Called by the dispatching worker when execute has returned (or thrown); needs no lock.
  void MarkExecuteReturned() { executeReturned.store(true); }

  std::string logText;
  std::atomic<bool> running{true};
  std::atomic<bool> stopRequested{false};
  const std::string id;

 protected:
  // Writes "[" log word "]: " text to the program log at info.
  void Log(const std::string& text);
  // Parses the request's params into |out|. False (nothing parsed) for empty params; throws
  // CmdException("解析json串参数失败") for text that is not JSON.
  static bool ParseParams(const CommandRequest& request, Json::Value& out);

  const char* const logWord;

 private:
  std::atomic<bool> executeReturned{false};
};

// Clears a command's running flag on every way out of execute, exceptions included.
class RunningGuard {
 public:
  explicit RunningGuard(Command& command) : command_(command) {}
  ~RunningGuard() { command_.running = false; }
  RunningGuard(const RunningGuard&) = delete;
  RunningGuard& operator=(const RunningGuard&) = delete;

 private:
  Command& command_;
};

// The reply {"data":..,"flag":..,"flagMsg":..} on one line.
void BuildCallbackJson(const int& flag, const std::string& data, const std::string& flagMsg,
                       std::string& out);
// The request as {"name":..,"params":..,"region":..,"type":..} on one line, for the log.
void BuildRequestJson(const CommandRequest& request, std::string& out);

// Compact JSON text of |value| ending in a line feed, with texts written byte for byte (no
// \uXXXX escapes), members in name order.
std::string WriteJson(const Json::Value& value);
// False for empty or invalid text.
bool ParseJson(const std::string& text, Json::Value& out);
std::string JsonValueToString(const Json::Value& value);
// 32 hexadecimal digits of a fresh random GUID; the third group is lower case.
std::string NewGuidString();

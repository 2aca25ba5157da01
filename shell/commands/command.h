// What every page command shares: the request it is built from, its identity and flags, the
// exception that refuses a request, the one-line JSON reply, and the lifecycle every command
// goes through (logged construction, execution, stop and destruction).
#pragma once

#include <atomic>
#include <exception>
#include <string>
#include <string_view>

#include "shell/core/json_text.h"

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

// A command class holds only its own work: the base logs every phase under the command's log
// word and keeps the running flag. Construction logs "constructor" and the request; Run logs
// "execute" around the class's execute; stop logs "stop"; a command that the factory completed
// logs "destructor" when it goes (one whose constructor threw never was a command, and logs
// none).
class Command {
 public:
  Command(const char* logWord, const CommandRequest& request);
  Command(const Command&) = delete;
  Command& operator=(const Command&) = delete;
  virtual ~Command();

  // The dispatcher's entry: runs execute and, unless the work goes on after it, clears the
  // running flag on every way out, exceptions included.
  void Run(std::string& reply);
  // Ends the command's work early: logs "stop" and clears the running flag. Commands that have
  // something to end override it.
  virtual void stop();

  // Idle: the work is over and no worker is inside execute any more, so it may be deleted.
  bool IsIdle() const { return !running.load() && executeReturned.load(); }
  // Called by the dispatching worker when execute has returned (or thrown); needs no lock.
  void MarkExecuteReturned() { executeReturned.store(true); }

  std::atomic<bool> running{true};
  // Set by the stop of a command whose long work polls it (the speech evaluation).
  std::atomic<bool> stopRequested{false};
  const std::string id;

 protected:
  // The command's work; writes its reply.
  virtual void execute(std::string& reply) = 0;
  // True for work that goes on after execute has returned (playback, recording): the running
  // flag then stays set until stop.
  virtual bool RunsOnAfterExecute() const { return false; }

  // Writes "[" log word "]: " text to the program log at info.
  void Log(std::string_view text) const;
  // Parses the request's params into |out|. False (nothing parsed) for empty params; throws
  // CmdException("解析json串参数失败") for text that is not JSON.
  static bool ParseParams(const CommandRequest& request, Json::Value& out);

  const char* const logWord;

 private:
  friend class CommandFactory;
  bool complete_ = false;  // set by the factory once the whole object is built
  std::atomic<bool> executeReturned{false};
};

// The reply {"data":..,"flag":..,"flagMsg":..} on one line.
void BuildCallbackJson(const int& flag, const std::string& data, const std::string& flagMsg,
                       std::string& out);
// The same with |dataJson|, a JSON text of its own, as "data".
void BuildReplyJson(int flag, std::string_view dataJson, std::string_view flagMsg,
                    std::string& out);
// The request as {"name":..,"params":..,"region":..,"type":..} on one line, for the log.
void BuildRequestJson(const CommandRequest& request, std::string& out);
void AppendRequestJson(std::string& out, const CommandRequest& request);

// The text of a command parameter's value (see JsonValueText).
inline std::string JsonValueToString(const Json::Value& value) {
  return JsonValueText(value, JsonTextFor::kCommand);
}
// 32 hexadecimal digits of a fresh random GUID; the third group is lower case.
std::string NewGuidString();

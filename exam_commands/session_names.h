// Small rules the session, answer, settings and file commands share: which names from pages may
// become parts of local paths, ASCII lower-casing of keys, and the running flag's last word.
#pragma once

#include <string>

#include "shell/commands/command.h"

// True when |name| stays inside the folder it is appended to: not empty, not absolute, no ".."
// part (either slash counts as a separator, as pages written for Windows use both), no NUL.
bool IsContainedName(const std::string& name);

// 32 hexadecimal digits, as a session's GUID is written.
bool IsGuidText(const std::string& text);

// Every ASCII letter in lower case; other bytes unchanged.
std::string LowerAscii(std::string text);

// Clears the command's running flag on every way out of execute, exceptions included.
class RunningGuard {
 public:
  explicit RunningGuard(Command& command) : command_(command) {}
  ~RunningGuard() { command_.running = false; }
  RunningGuard(const RunningGuard&) = delete;
  RunningGuard& operator=(const RunningGuard&) = delete;

 private:
  Command& command_;
};

// Maps the page's command words to command classes. The words and their order are fixed here;
// each subsystem registers the classes it implements when the program (or a test) starts.
#pragma once

#include <string>

#include "shell/commands/command.h"

using CommandCreator = Command* (*)(const CommandRequest& request);

class CommandFactory {
 public:
  // Builds the command for |request.name| (ASCII case ignored, whole word only); the caller owns
  // it. Throws CmdException("未知的命令类型") for a word that names no registered command, and
  // whatever the command's constructor throws.
  Command* CreateCommand(const CommandRequest& request) const;

  // Installs the class of one of the fixed words; aborts on a word that is not one of them, as
  // that is a mistake in the program itself.
  static void Register(const char* word, CommandCreator create);
};

template <typename T>
Command* MakeCommand(const CommandRequest& request) {
  return new T(request);
}

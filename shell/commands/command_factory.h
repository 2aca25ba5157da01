// Maps the page's command words to command classes. The words and their order are fixed here;
// each subsystem registers the classes it implements when the program (or a test) starts.
#pragma once

#include <memory>
#include <string>

#include "shell/commands/command.h"

using CommandCreator = std::unique_ptr<Command> (*)(const CommandRequest& request);

class CommandFactory {
 public:
  // Builds the command for |request.name| (ASCII case ignored, whole word only). Throws CmdException("未知的命令类型") for a word that names no registered command, and
  // whatever the command's constructor throws.
  std::unique_ptr<Command> CreateCommand(const CommandRequest& request) const;

  // Installs the class of one of the fixed words; aborts on a word that is not one of them, as
  // that is a mistake in the program itself.
  static void Register(const char* word, CommandCreator create);
};

template <typename T>
std::unique_ptr<Command> MakeCommand(const CommandRequest& request) {
  return std::make_unique<T>(request);
}

#include "shell/register_commands.h"

#include "shell/commands/window_commands.h"

void RegisterAllCommands() { RegisterWindowCommands(); }

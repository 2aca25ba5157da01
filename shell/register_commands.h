// Installs every page command the linked subsystems offer; the start-up calls it once.
#pragma once

void RegisterAllCommands();

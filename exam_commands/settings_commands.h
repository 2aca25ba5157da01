// The page's key-value settings: "setkey" and "readkey" over hash.cache, the host's own values
// and the session map.
#pragma once

#include <string>

void RegisterSettingsCommands();

// The settings file in the per-user data folder.
std::string HashCachePath();

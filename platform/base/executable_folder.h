// The running executable's folder, from /proc/self/exe, ending with "/"; empty when it cannot
// be read. Everything the program ships lies relative to it, never to the working folder.
#pragma once

#include <string>

std::string ExecutableFolder();

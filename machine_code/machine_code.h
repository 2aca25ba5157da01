// The machine code: a short, stable text that identifies the computer without revealing its
// hardware data. 26 Base64 characters, the kind letter ("H" from a disk, "N" from a network
// adapter) and "="; empty when no identity could be read.
#pragma once

#include <string>

#include "machine_code/disk_identity.h"

struct MachineSources {
  DiskSources disk;  // its sysRoot serves the network adapters too
  std::string routeTablePath = "/proc/net/route";
};

std::string computeMachineCode();
std::string computeMachineCode(const MachineSources& sources);
// Salts, hashes and encodes a non-empty identity text.
std::string encodeMachineCode(const std::string& identity, char kind);

// What the exports write: 1 with |code| and its length, or 0, writing nothing, when the code
// is empty or a pointer is null.
int WriteMachineCodeA(const std::string& code, char* buffer, int* length);
int WriteMachineCodeW(const std::wstring& code, wchar_t* buffer, int* length);

// For programs that load the executable as a library. The caller supplies room for 28
// characters; nothing is NUL-terminated. Both return 1 with the code and its length, or 0,
// writing nothing, when there is no code or a pointer is null.
extern "C" __attribute__((visibility("default"))) int getMachineCodeA(char* buffer, int* length);
extern "C" __attribute__((visibility("default"))) int getMachineCodeW(wchar_t* buffer,
                                                                      int* length);

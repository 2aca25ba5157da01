// The page command "getconfig": the local IPv4 address, the MAC address that belongs to it and
// the machine code.
#pragma once

#include <string>

// {"data":{"ip":..,"mac":..,"macode":..},"flag":..,"flagMsg":..} on one line.
void BuildMachineInfoJson(const int& flag, const std::string& ip, const std::string& mac,
                          const std::string& macode, const std::string& flagMsg,
                          std::string& out);

// The machine code; false when none could be made.
bool GetMachineCodeString(std::string& code);

// Where the command takes its three values from; the program uses the machine's own.
struct MachineInfoSources {
  bool (*machineCode)(std::string& code);
  bool (*localIp)(std::string& ip);
  bool (*macOf)(const std::string& ip, std::string& mac);
};
const MachineInfoSources& SystemMachineInfoSources();

// The command's reply: the values are looked for in the order code, IP, MAC, and the first one
// missing gives its failure reply.
void BuildMachineInfoReply(const MachineInfoSources& sources, std::string& reply);

void RegisterMachineInfoCommand();

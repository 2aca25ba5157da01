#include "exam_commands/machine_info_command.h"

#include <json/json.h>

#include "machine_code/machine_code.h"
#include "shell/commands/command.h"
#include "shell/commands/command_factory.h"
#include "shell/core/helpers.h"

namespace {

class ConcreteCommandGetConfig : public Command {
 public:
  explicit ConcreteCommandGetConfig(const CommandRequest& request)
      : Command("get config", request) {}

  void execute(std::string& reply) override {
    BuildMachineInfoReply(SystemMachineInfoSources(), reply);
  }
};

}  // namespace

void BuildMachineInfoJson(const int& flag, const std::string& ip, const std::string& mac,
                          const std::string& macode, const std::string& flagMsg,
                          std::string& out) {
  // The reply's shape with an object as "data", its members in name order.
  std::string data = "{\"ip\":";
  AppendJsonString(data, ip);
  data += ",\"mac\":";
  AppendJsonString(data, mac);
  data += ",\"macode\":";
  AppendJsonString(data, macode);
  data += '}';
  BuildReplyJson(flag, data, flagMsg, out);
}

bool GetMachineCodeString(std::string& code) {
  code = computeMachineCode();
  return !code.empty();
}

const MachineInfoSources& SystemMachineInfoSources() {
  static const MachineInfoSources sources = {&GetMachineCodeString, &GetLocalIp, &GetMacByArp};
  return sources;
}

void BuildMachineInfoReply(const MachineInfoSources& sources, std::string& reply) {
  std::string code, ip, mac;
  if (!sources.machineCode(code) || code.empty()) {
    BuildCallbackJson(0, "", "处理getconfig时，获取本机机器码失败", reply);
    return;
  }
  if (!sources.localIp(ip) || ip.empty()) {
    BuildCallbackJson(0, "", "处理getconfig时，获取本机IP地址失败", reply);
    return;
  }
  if (!sources.macOf(ip, mac) || mac.empty()) {
    BuildCallbackJson(0, "", "处理getconfig时，获取本机MAC地址失败", reply);
    return;
  }
  BuildMachineInfoJson(1, ip, mac, code, "Operation Successful", reply);
}

void RegisterMachineInfoCommand() {
  CommandFactory::Register("getconfig", &MakeCommand<ConcreteCommandGetConfig>);
}

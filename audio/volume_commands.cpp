#include "audio/volume_commands.h"

#include "audio/volume_ctrl.h"
#include "shell/commands/command_factory.h"
#include "shell/commands/main_state.h"

namespace {

const char kSuccess[] = "操作成功";
const char kSetFailed[] = "音量设置失败";
const char kUnsupported[] = "不支持的参数设置";

// "type" of the params: 0 the speakers, 1 the microphone.
enum Device { kNone = -1, kSpeakers = 0, kMicrophone = 1 };

class VolumeCommand : public Command {
 public:
  using Command::Command;

 protected:
  int type = kNone;  // empty params name no device
};

class ConcreteCommandGetVolume : public VolumeCommand {
 public:
  explicit ConcreteCommandGetVolume(const CommandRequest& r) : VolumeCommand("get volume", r) {
    Json::Value v;
    if (ParseParams(r, v)) type = v["type"].asInt();
  }

  void execute(std::string& reply) override {
    org_trellik::CVolumeCtrl* volume = g_pMainDlg->volumeCtrl;
    int value = 0;
    if (type == kSpeakers) {
      if (volume) {
        if (volume->IsSpeakerMuted()) volume->SetSpeakerMute(false);
        value = volume->GetSpeakerVolume();
      }
    } else if (type == kMicrophone) {
      if (volume) {
        if (volume->IsMicMuted()) volume->SetMicMute(false);
        value = volume->GetMicVolume();
      }
    } else {
      BuildCallbackJson(0, "", kUnsupported, reply);
      return;
    }
    BuildCallbackJson(1, std::to_string(value), "", reply);
  }
};

class ConcreteCommandSetVolume : public VolumeCommand {
 public:
  explicit ConcreteCommandSetVolume(const CommandRequest& r) : VolumeCommand("setvolume", r) {
    Json::Value v;
    if (ParseParams(r, v)) {
      volume_ = v["volume"].asInt();
      type = v["type"].asInt();
    }
  }

  void execute(std::string& reply) override {
    org_trellik::CVolumeCtrl* volume = g_pMainDlg->volumeCtrl;
    bool ok = false;
    if (volume && type == kSpeakers) {
      if (volume->IsSpeakerMuted()) volume->SetSpeakerMute(false);
      ok = volume->SetSpeakerVolume(volume_);
    } else if (volume && type == kMicrophone) {
      if (volume->IsMicMuted()) volume->SetMicMute(false);
      ok = volume->SetMicVolume(volume_);
    }
    if (ok)
      BuildCallbackJson(1, kSuccess, "", reply);
    else
      BuildCallbackJson(0, "", kSetFailed, reply);
  }

 private:
  int volume_ = 0;
};

}  // namespace

void RegisterVolumeCommands() {
  CommandFactory::Register("getvolume", &MakeCommand<ConcreteCommandGetVolume>);
  CommandFactory::Register("setvolume", &MakeCommand<ConcreteCommandSetVolume>);
}

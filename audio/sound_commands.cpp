#include "audio/sound_commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "audio/sound_callbacks.h"
#include "exam_commands/session_names.h"
#include "shell/commands/command_factory.h"
#include "shell/commands/main_state.h"
#include "shell/core/helpers.h"

namespace {

const char kSuccess[] = "操作成功";
const char kNoSoundFile[] = "放音失败，指定音频文件不存在";
const char kPlayFailed[] = "放音失败";
const char kRecordFailed[] = "录音失败";
const char kCheckFailed[] = "音质检测失败";

using RequestText = std::shared_ptr<const std::string>;

// The params as an object; false (nothing read) for empty params.
bool ParseSoundParams(const CommandRequest& request, Json::Value& out) {
  if (request.params.empty()) return false;
  if (!ParseJson(request.params, out) || !out.isObject())
    throw CmdException("解析json串参数失败");
  return true;
}

SoundCallbacks* Sound() { return g_pMainDlg->soundCallbacks; }

// The library opens its files blocking: a FIFO without a writer, or a device, would hold it, and
// every sound command after it, for good. A recording may be made where nothing is yet, or over
// an earlier recording.
bool MayRecordInto(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? S_ISREG(st.st_mode) : errno == ENOENT;
}

// A name of eval_info: empty stays empty, anything else is the folder followed by the name.
bool EvalPath(const std::string& folder, const std::string& name, std::string& out) {
  out.clear();
  if (name.empty()) return true;
  std::string part;
  if (!PageFileName(name, part)) return false;
  out = folder + part;
  return true;
}

// A file the engine writes for an item.
bool EvalOutput(const std::string& folder, const std::string& name, std::string& out) {
  return !IsAnswerDocumentName(name) && EvalPath(folder, name, out);
}

// Play, record and checkaudio: their stop silences the page functions first, so the end notice
// that stopping causes reaches no page, then stops the library.
class SoundCommand : public Command {
 public:
  using Command::Command;

  void stop() override {
    Log("stop");
    if (SoundCallbacks* sound = Sound()) {
      sound->reset();
      sound->stop();
    }
    running = false;
  }

 protected:
  // Keeps the params as the operation's request text and makes |slots| the table's, as one.
  void Install(const CommandRequest& r, const SoundCallbacks::Slots& slots) {
    request_ = std::make_shared<const std::string>(r.params);
    if (SoundCallbacks* sound = Sound()) sound->install(request_, slots);
  }
  const char* RequestPointer() const { return request_ ? request_->c_str() : ""; }

  std::string name;
  bool refused = false;  // a name from the page would leave its folder

 private:
  RequestText request_;
};

class ConcreteCommandPlay : public SoundCommand {
 public:
  explicit ConcreteCommandPlay(const CommandRequest& r) : SoundCommand("Play", r) {
    Json::Value v;
    if (!ParseSoundParams(r, v)) return;
    name = v["name"].asString();
    if (!PageFileName(name, file_) || IsAnswerDocumentName(file_)) {
      refused = true;
      return;
    }
    SoundCallbacks::Slots slots;
    if (v.isMember("notify_waveform")) slots.onWaveform = &SoundCallbacks::OnSoundWaveform;
    if (v.isMember("callback_func")) slots.onPlayDone = &SoundCallbacks::OnSoundDone;
    if (v.isMember("callback_func_err")) slots.onError = &SoundCallbacks::OnSoundError;
    if (v.isMember("notify_energy")) slots.onEnergy = &SoundCallbacks::OnSoundEnergy;
    if (v.isMember("notify_cursor")) slots.onCursor = &SoundCallbacks::OnSoundCursor;
    Install(r, slots);
  }

  // Stays running after its reply, also after a failure, until its stop.
  bool RunsOnAfterExecute() const override { return true; }
  void execute(std::string& reply) override {
    std::string path = refused || name.empty() ? std::string() : LocateFile(file_);
    if (path.empty() || !IsExistingFile(path)) {
      BuildCallbackJson(0, "", kNoSoundFile, reply);
      return;
    }
    int playValue = 0;
    SoundCallbacks* sound = Sound();
    // A file the library cannot play is also reported to "callback_func_err" by its end notice.
    if (!sound || !sound->play(NarrowToWide(path), RequestPointer(), playValue)) {
      BuildCallbackJson(0, "", kPlayFailed, reply);
      return;
    }
    BuildCallbackJson(1, std::to_string(ScaledPlayValue(playValue)), "", reply);
  }

 private:
  std::string file_;
};

class ConcreteCommandRecord : public SoundCommand {
 public:
  explicit ConcreteCommandRecord(const CommandRequest& r) : SoundCommand("record", r) {
    Json::Value v;
    if (!ParseSoundParams(r, v)) return;
    name = v["name"].asString();
    len = RecordLength(v["len"].asString());
    SessionState session = g_pMainDlg->Session();
    if (!PageFileName(name, file_) || IsAnswerDocumentName(file_)) {
      refused = true;
      return;
    }
    bool queue = v.isMember("eval_info");
    EvalItem item;
    if (queue && !MakeEvalItem(v["eval_info"], session, item)) {
      refused = true;
      return;
    }
    SoundCallbacks::Slots slots;
    if (v.isMember("notify_waveform")) slots.onWaveform = &SoundCallbacks::OnSoundWaveform;
    if (v.isMember("callback_func")) slots.onRecordDone = &SoundCallbacks::OnSoundDone;
    if (v.isMember("callback_func_err")) slots.onError = &SoundCallbacks::OnSoundError;
    if (v.isMember("notify_energy")) slots.onEnergy = &SoundCallbacks::OnSoundEnergy;
    Install(r, slots);
    if (queue) {
      std::lock_guard<std::mutex> lock(g_pMainDlg->evalQueueLock);
      g_pMainDlg->evalQueue.push_back(std::move(item));
    }
  }

  // Stays running after its reply until its stop.
  bool RunsOnAfterExecute() const override { return true; }
  void execute(std::string& reply) override {
    if (refused || file_.empty()) {
      BuildCallbackJson(0, "", kRecordFailed, reply);
      return;
    }
    std::string path = g_pMainDlg->Session().answerFolder + file_;
    std::string folder = path.substr(0, path.rfind('/') + 1);
    SoundCallbacks* sound = Sound();
    if ((!IsExistingDir(folder) && MakeDirs(folder, false, true) != 0) || !MayRecordInto(path) ||
        !sound || !sound->record(NarrowToWide(path), len, RequestPointer())) {
      // No end notice follows a recording that did not start.
      BuildCallbackJson(0, "", kRecordFailed, reply);
      return;
    }
    BuildCallbackJson(1, kSuccess, "", reply);
  }

 private:
  // False when one of its names would leave its folder or the engine would write the answer
  // document. Throws for members that are not texts.
  bool MakeEvalItem(const Json::Value& info, const SessionState& session, EvalItem& item) {
    item.identity = info["identity"].asString();
    item.snd_file = session.answerFolder + file_;
    item.category = info["category"].asString();
    item.eval_params = info["param"].asString();
    item.notify_energy = 0;
    return EvalPath(session.cacheFolder, info["paper"].asString(), item.paper_file) &&
           EvalOutput(session.answerFolder, info["dist"].asString(), item.dist_file) &&
           EvalOutput(session.answerFolder, info["usermodel"].asString(), item.usermodel_file);
  }

  std::string file_;
  int len = 0;
};

class ConcreteCommandAudioCheck : public SoundCommand {
 public:
  explicit ConcreteCommandAudioCheck(const CommandRequest& r) : SoundCommand("check audio", r) {
    Json::Value v;
    SoundCallbacks::Slots slots;
    slots.onAudioCheckDone = &SoundCallbacks::OnAudioCheckResult;
    if (!ParseSoundParams(r, v)) {
      // Without params the check keeps the latest request text.
      if (SoundCallbacks* sound = Sound()) sound->install(nullptr, slots);
      return;
    }
    name = v["name"].asString();
    if (!PageFileName(name, file_) || IsAnswerDocumentName(file_)) {
      refused = true;
      return;
    }
    Install(r, slots);
  }

  void execute(std::string& reply) override {
    std::string path = refused || name.empty() ? std::string()
                                               : g_pMainDlg->Session().answerFolder + file_;
    if (path.empty() || !IsExistingFile(path)) {
      Log(kNoSoundFile);
      BuildCallbackJson(0, name, kNoSoundFile, reply);
      return;
    }
    SoundCallbacks* sound = Sound();
    if (!sound || !sound->audioCheck(NarrowToWide(path), RequestPointer())) {
      BuildCallbackJson(0, name, kCheckFailed, reply);
      return;
    }
    BuildCallbackJson(1, kSuccess, "", reply);
  }

 private:
  std::string file_;
};

// stopplay and stoprecord only call the page back; the sound itself stops with the stop of the
// command they replace.
class StoppedNotice : public Command {
 public:
  StoppedNotice(const char* logWord, const CommandRequest& r)
      : Command(logWord, r), params_(r.params) {}

  void execute(std::string& reply) override {
    NotifyStopped(g_pMainDlg->window, params_);
    BuildCallbackJson(1, kSuccess, "", reply);
  }

 private:
  std::string params_;
};

class ConcreteCommandStopPlay : public StoppedNotice {
 public:
  explicit ConcreteCommandStopPlay(const CommandRequest& r) : StoppedNotice("StopPlay", r) {}
};

class ConcreteCommandStopRecord : public StoppedNotice {
 public:
  explicit ConcreteCommandStopRecord(const CommandRequest& r) : StoppedNotice("StopRecord", r) {}
};

}  // namespace

int ScaledPlayValue(int playValue) {
  return static_cast<int>(static_cast<double>(playValue / 10) + 0.5);
}

int RecordLength(const std::string& len) {
  // strtol reads what atoi reads, but saturates instead of overflowing.
  long value = std::strtol(len.c_str(), nullptr, 10);
  if (value > INT_MAX / 10) return INT_MAX;
  if (value < INT_MIN / 10) return INT_MIN;
  return static_cast<int>(value * 10);
}

bool PageFileName(const std::string& name, std::string& out) {
  if (!IsContainedName(name)) return false;
  out = name;
  ReplaceAll(out, "\\", "/");
  return true;
}

void RegisterSoundCommands() {
  CommandFactory::Register("play", &MakeCommand<ConcreteCommandPlay>);
  CommandFactory::Register("stopplay", &MakeCommand<ConcreteCommandStopPlay>);
  CommandFactory::Register("record", &MakeCommand<ConcreteCommandRecord>);
  CommandFactory::Register("stoprecord", &MakeCommand<ConcreteCommandStopRecord>);
  CommandFactory::Register("checkaudio", &MakeCommand<ConcreteCommandAudioCheck>);
}

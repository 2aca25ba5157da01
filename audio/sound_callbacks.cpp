#include "audio/sound_callbacks.h"

#include <cstdint>
#include <exception>

#include "shell/commands/command.h"
#include "shell/commands/main_state.h"
#include "shell/core/helpers.h"
#include "shell/core/program_log.h"

namespace {

// The table the library's notifications reach; null before registration and after shutdown.
std::mutex g_receiverLock;
SoundCallbacks* g_receiver = nullptr;

// The request text or a command's params as an object; anything else refuses the request.
Json::Value ParseRequest(const std::string& text) {
  Json::Value value;
  if (!ParseJson(text, value) || !value.isObject()) throw CmdException("解析json串参数失败");
  return value;
}

}  // namespace

std::string PageCall(const std::string& function, const std::string& argument) {
  std::string text = function + "('" + argument + "')";
  ReplaceAll(text, "\n", "");
  return text;
}

void OnSoundNotify(int message, const wchar_t* text, const char*) {
  std::lock_guard<std::mutex> lock(g_receiverLock);
  if (!g_receiver) return;
  try {
    g_receiver->dispatch(message, text ? std::wstring(text) : std::wstring());
  } catch (const CmdException& e) {
    LogError("sound", e.getMessage());
  } catch (const std::exception& e) {
    LogError("sound", e.what());
  } catch (...) {
    LogError("sound", "notification " + std::to_string(message) + " failed");
  }
}

SoundCallbacks::SoundCallbacks(IMainWindow* window) : window_(window) { init(); }

SoundCallbacks::~SoundCallbacks() {
  std::lock_guard<std::mutex> lock(g_receiverLock);
  if (g_receiver == this) g_receiver = nullptr;
}

void SoundCallbacks::init() {
  std::lock_guard<std::mutex> lock(tableLock_);
  slots_ = Slots();
}

void SoundCallbacks::reset() {
  std::lock_guard<std::mutex> lock(tableLock_);
  EmptySlots();
}

void SoundCallbacks::EmptySlots() {
  Handler kept = slots_.onAudioCheckDone;
  slots_ = Slots();
  slots_.onAudioCheckDone = kept;
}

void SoundCallbacks::install(std::shared_ptr<const std::string> request, const Slots& slots) {
  std::lock_guard<std::mutex> lock(tableLock_);
  Handler kept = slots_.onAudioCheckDone;
  slots_ = slots;
  slots_.notifyProc = nullptr;
  if (!slots_.onAudioCheckDone) slots_.onAudioCheckDone = kept;
  if (request) request_ = std::move(request);
}

SoundCallbacks::Slots SoundCallbacks::slots() const {
  std::lock_guard<std::mutex> lock(tableLock_);
  return slots_;
}

std::shared_ptr<const std::string> SoundCallbacks::request() const {
  std::lock_guard<std::mutex> lock(tableLock_);
  return request_;
}

SoundFunctions SoundCallbacks::library() const {
  std::lock_guard<std::mutex> lock(tableLock_);
  return library_;
}

bool SoundCallbacks::available() const { return library().complete(); }

bool SoundCallbacks::registerNotify(const SoundFunctions& library, SndNotifyProc proc) {
  {
    std::lock_guard<std::mutex> lock(tableLock_);
    slots_.notifyProc = proc;
    library_ = library.complete() ? library : SoundFunctions();
  }
  if (!library.complete() || !proc) return false;
  {
    std::lock_guard<std::mutex> lock(g_receiverLock);
    g_receiver = this;
  }
  // The whole address, as the library reads it back.
  std::string address = std::to_string(reinterpret_cast<std::intptr_t>(proc));
  library.sndSetParam(L"notify", NarrowToWide(address).c_str());
  library.sndSetParam(L"notify_waveform", L"1");
  library.sndSetParam(L"notify_curplaypos", L"1");
  library.sndSetParam(L"notify_energy", L"1");
  return true;
}

void SoundCallbacks::shutdown() {
  SoundFunctions functions = library();
  // The library's thread has ended when sndStop returns; only then may the table go.
  if (functions.complete()) functions.sndStop();
  std::lock_guard<std::mutex> lock(g_receiverLock);
  if (g_receiver == this) g_receiver = nullptr;
}

bool SoundCallbacks::play(const std::wstring& path, const char* request, int& playValue) {
  playValue = 0;
  SoundFunctions functions = library();
  if (!functions.complete()) return false;
  functions.sndSetParam(L"notify_energy", L"1");
  return functions.sndPlay(path.c_str(), &playValue, request) == 0;
}

bool SoundCallbacks::record(const std::wstring& path, int length, const char* request) {
  SoundFunctions functions = library();
  if (!functions.complete()) return false;
  functions.sndSetParam(L"notify_energy", L"1");
  functions.sndSetParam(L"notify_waveform", L"1");
  return functions.sndRecord(path.c_str(), length, request) == 0;
}

bool SoundCallbacks::audioCheck(const std::wstring& path, const char* request) {
  SoundFunctions functions = library();
  if (!functions.complete()) return false;
  functions.sndSetParam(L"notify_energy", L"0");
  functions.sndSetParam(L"notify_waveform", L"0");
  int result = 0;
  return functions.sndAudiocheck(path.c_str(), &result, request) == 0;
}

bool SoundCallbacks::stop() {
  SoundFunctions functions = library();
  return functions.complete() && functions.sndStop() == 0;
}

void SoundCallbacks::dispatch(int message, const std::wstring& text) {
  std::lock_guard<std::mutex> lock(tableLock_);
  Handler handler = nullptr;
  switch (message) {
    case SND_NOTIFY_ENERGY:
      handler = slots_.onEnergy;
      break;
    case SND_NOTIFY_WAVEFORM:
      handler = slots_.onWaveform;
      break;
    case SND_NOTIFY_PLAYPOS:
      handler = slots_.onCursor;
      break;
    case SND_NOTIFY_AUDIOCHECK:
      handler = slots_.onAudioCheckDone;
      break;
    case SND_NOTIFY_PLAY_END:
    case SND_NOTIFY_RECORD_END: {
      Json::Value end;
      if (!ParseJson(WideToNarrow(text), end)) return;
      int code = end.isObject() ? end["err_code"].asInt() : 0;
      bool play = message == SND_NOTIFY_PLAY_END;
      if (code == SND_ERR_FAILED) {
        LogError(
            "sound", (play ? "放音操作出现错误：" : "录音操作出现错误：") + std::to_string(code));
        handler = slots_.onError;
      } else {
        handler = play ? slots_.onPlayDone : slots_.onRecordDone;
      }
      break;
    }
    default:
      return;
  }
  if (!handler) return;
  (this->*handler)(text, request_ ? *request_ : std::string());
}

void SoundCallbacks::CallPage(const std::string& function, const std::string& argument) {
  if (window_) window_->ExecJS(PageCall(function, argument));
}

void SoundCallbacks::OnSoundDone(const std::wstring&, const std::string& request) {
  Json::Value r = ParseRequest(request);
  CallPage(r["callback_func"].asString(), r["callback"].asString());
}

void SoundCallbacks::OnSoundError(const std::wstring&, const std::string& request) {
  Json::Value r = ParseRequest(request);
  CallPage(r["callback_func_err"].asString(), r["callback"].asString());
}

void SoundCallbacks::OnSoundCursor(const std::wstring& text, const std::string& request) {
  Json::Value r = ParseRequest(request);
  CallPage(r["notify_cursor"].asString(), WideToNarrow(text));
}

void SoundCallbacks::OnSoundEnergy(const std::wstring& text, const std::string& request) {
  Json::Value r = ParseRequest(request);
  CallPage(r["notify_energy"].asString(), WideToNarrow(text));
}

void SoundCallbacks::OnSoundWaveform(const std::wstring& text, const std::string& request) {
  Json::Value r = ParseRequest(request);
  Json::Value waveform(Json::objectValue);
  waveform["waveform"] = WideToNarrow(text);
  CallPage(r["notify_waveform"].asString(), WriteJson(waveform));
}

void SoundCallbacks::OnAudioCheckResult(const std::wstring& text, const std::string& request) {
  Json::Value r = ParseRequest(request);
  Json::Value result;
  if (!ParseJson(WideToNarrow(text), result) || !result.isObject() ||
      !result.isMember("err_code"))
    throw CmdException("解析音质检测结果失败");
  CallPage(r["callback_func"].asString(), result["err_code"].asString());
}

void NotifyStopped(IMainWindow* window, const std::string& params) {
  Json::Value p = ParseRequest(params);
  if (window) window->ExecJS(PageCall(p["callback_func"].asString(), p["callback"].asString()));
}

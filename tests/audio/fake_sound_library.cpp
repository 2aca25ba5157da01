#include "tests/audio/fake_sound_library.h"

#include <map>

#include "audio/audio_commands.h"
#include "shell/core/helpers.h"

namespace {

std::mutex g_lock;
std::vector<std::string> g_calls;
std::map<std::string, std::string> g_switches;
SndNotifyProc g_procedure = nullptr;
const char* g_lastRequest = nullptr;

void Record(const std::string& call) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_calls.push_back(call);
}

std::string Narrow(const wchar_t* text) { return WideToNarrow(text ? text : L""); }

int SetParam(const wchar_t* name, const wchar_t* value) {
  std::string n = Narrow(name), v = Narrow(value);
  std::lock_guard<std::mutex> lock(g_lock);
  g_calls.push_back("sndSetParam(" + n + "," + v + ")");
  g_switches[n] = v;
  if (n == "notify") g_procedure = reinterpret_cast<SndNotifyProc>(std::stoll(v));
  return 0;
}

int Play(const wchar_t* path, int* playValue, const char* request) {
  Record("sndPlay(" + Narrow(path) + "," + std::to_string(*playValue) + ")");
  std::lock_guard<std::mutex> lock(g_lock);
  g_lastRequest = request;
  *playValue = FakeSoundLibrary::playValue;
  return FakeSoundLibrary::playResult;
}

int RecordSound(const wchar_t* path, int length, const char* request) {
  Record("sndRecord(" + Narrow(path) + "," + std::to_string(length) + ")");
  std::lock_guard<std::mutex> lock(g_lock);
  g_lastRequest = request;
  return FakeSoundLibrary::recordResult;
}

int Check(const wchar_t* path, int* result, const char* request) {
  Record("sndAudiocheck(" + Narrow(path) + "," + std::to_string(*result) + ")");
  std::lock_guard<std::mutex> lock(g_lock);
  g_lastRequest = request;
  return FakeSoundLibrary::checkResult;
}

int Stop() {
  Record("sndStop()");
  return FakeSoundLibrary::stopResult;
}

}  // namespace

int FakeSoundLibrary::playValue = 0;
int FakeSoundLibrary::playResult = 0;
int FakeSoundLibrary::recordResult = 0;
int FakeSoundLibrary::checkResult = 0;
int FakeSoundLibrary::stopResult = 0;

std::vector<std::string> FakeSoundLibrary::Calls() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_calls;
}

void FakeSoundLibrary::Clear() {
  std::lock_guard<std::mutex> lock(g_lock);
  g_calls.clear();
  g_switches.clear();
  g_lastRequest = nullptr;
  playValue = playResult = recordResult = checkResult = stopResult = 0;
}

SoundFunctions FakeSoundLibrary::Table() {
  SoundFunctions table;
  table.sndSetParam = SetParam;
  table.sndPlay = Play;
  table.sndRecord = RecordSound;
  table.sndAudiocheck = Check;
  table.sndStop = Stop;
  return table;
}

SndNotifyProc FakeSoundLibrary::Procedure() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_procedure;
}

const char* FakeSoundLibrary::LastRequest() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_lastRequest;
}

std::string FakeSoundLibrary::Switch(const std::string& name) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = g_switches.find(name);
  return it == g_switches.end() ? "" : it->second;
}

void SoundFixture::SetUp() {
  withLog = true;
  StateFixture::SetUp();
  FakeSoundLibrary::Clear();
  RegisterAudioCommands();
  sound.registerNotify(FakeSoundLibrary::Table(), OnSoundNotify);
  state.soundCallbacks = &sound;
}

void SoundFixture::TearDown() {
  StateFixture::TearDown();
  sound.shutdown();
}

std::vector<std::string> SoundFixture::PageCalls() const {
  std::vector<std::string> calls;
  for (const std::string& call : window.Calls())
    if (call.rfind("ExecJS(", 0) == 0) calls.push_back(call.substr(7, call.size() - 8));
  return calls;
}

void SoundFixture::Notify(int message, const std::wstring& text) {
  SndNotifyProc procedure = FakeSoundLibrary::Procedure();
  ASSERT_NE(procedure, nullptr);
  procedure(message, text.c_str(), FakeSoundLibrary::LastRequest());
}

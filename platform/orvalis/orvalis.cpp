// The library's functions: one operation at a time, each on a thread of its own, notifications
// on the notifier's thread; no exception leaves a function of the library.
#include "platform/orvalis/orvalis.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/orvalis/operations.h"

namespace orvalis {
namespace {

// wchar_t texts are UTF-32 here; file names go to the system as UTF-8.
std::string ToUtf8(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) {
    auto c = static_cast<uint32_t>(*text);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6)), out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12)), out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18)), out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F)), out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

int Tenths(const SF_INFO& info) {
  if (info.frames <= 0 || info.samplerate <= 0) return 0;
  return int(std::min<long long>(info.frames * 10 / info.samplerate, INT32_MAX));
}

class Engine {
 public:
  ~Engine() { Stop(); }

  int SetParam(const std::wstring& name, const std::wstring& value);
  int Play(const std::string& path, int* playValue, const char* request);
  int Record(const std::string& path, int length, const char* request);
  int Check(const std::string& path, const char* request);
  int Stop();

 private:
  struct Running {
    StopSignal stop;
    std::thread thread;
  };
  // Stops the running operation and waits for its thread; the caller holds operationLock_.
  void StopRunning();
  // Runs |body| on a new thread as the running operation; the caller holds operationLock_.
  void Launch(std::function<void(const Context&)> body, const char* request);
  // Waits until the notices of every operation stopped so far have been delivered.
  void WaitStoppedNotices(uint64_t posted) { notifier_.WaitDelivered(posted); }

  Switches switches_;
  Notifier notifier_;
  std::mutex operationLock_;  // guards running_: starting and stopping are one at a time
  std::unique_ptr<Running> running_;
};

void Engine::StopRunning() {
  if (!running_) return;
  running_->stop.Raise();
  running_->thread.join();
  running_.reset();
}

void Engine::Launch(std::function<void(const Context&)> body, const char* request) {
  auto running = std::make_unique<Running>();
  const StopSignal& stop = running->stop;
  running->thread = std::thread([this, body = std::move(body), request, &stop] {
    // An exception here would end the caller's process: the operation just ends.
    try {
      body(Context{notifier_, switches_, request, stop});
    } catch (...) {
    }
  });
  running_ = std::move(running);
}

int Engine::SetParam(const std::wstring& name, const std::wstring& value) {
  if (name == L"notify") {
    // The address is written in decimal, signed or not, 64 bits wide.
    std::string digits = ToUtf8(value.c_str());
    if (digits.empty()) return -1;
    char* end = nullptr;
    errno = 0;
    unsigned long long address = digits[0] == '-'
                                     ? (unsigned long long)std::strtoll(digits.c_str(), &end, 10)
                                     : std::strtoull(digits.c_str(), &end, 10);
    if (errno || *end) return -1;
    notifier_.SetProc(reinterpret_cast<SndNotifyProc>(static_cast<uintptr_t>(address)));
    return 0;
  }
  std::atomic<bool>* flag = name == L"notify_energy"       ? &switches_.energy
                            : name == L"notify_waveform"   ? &switches_.waveform
                            : name == L"notify_curplaypos" ? &switches_.playPosition
                                                           : nullptr;
  if (!flag || (value != L"0" && value != L"1")) return -1;
  flag->store(value == L"1");
  return 0;
}

int Engine::Play(const std::string& path, int* playValue, const char* request) {
  uint64_t posted;
  int result = 0;
  {
    std::lock_guard<std::mutex> lock(operationLock_);
    StopRunning();
    posted = notifier_.Posted();
    auto playback = std::make_shared<Playback>();
    bool opened = OpenPlayback(path, *playback);
    // The length is known as soon as the file could be read, even when the device failed.
    if (playValue && playback->file) *playValue = Tenths(playback->info);
    if (opened) {
      Launch([playback](const Context& context) { RunPlayback(std::move(*playback), context); },
             request);
    } else {
      notifier_.Post(SND_NOTIFY_PLAY_END, L"{\"err_code\":39169}", request, false);
      result = -1;
    }
  }
  WaitStoppedNotices(posted);
  return result;
}

int Engine::Record(const std::string& path, int length, const char* request) {
  uint64_t posted;
  int result = -1;
  {
    std::lock_guard<std::mutex> lock(operationLock_);
    StopRunning();
    posted = notifier_.Posted();
    auto recording = std::make_shared<Recording>();
    if (OpenRecording(path, *recording)) {
      // No length of its own: the recording runs until it is stopped.
      long long frames = length > 0 ? (long long)length * kRecordRate / 10 : kUntilStopped;
      Launch([recording, frames](const Context& context) {
        RunRecording(std::move(*recording), frames, context);
      }, request);
      result = 0;
    }
  }
  WaitStoppedNotices(posted);
  return result;
}

int Engine::Check(const std::string& path, const char* request) {
  uint64_t posted;
  {
    std::lock_guard<std::mutex> lock(operationLock_);
    StopRunning();
    posted = notifier_.Posted();
    Launch([path](const Context& context) { RunCheck(path, context); }, request);
  }
  WaitStoppedNotices(posted);
  return 0;
}

int Engine::Stop() {
  uint64_t posted;
  {
    std::lock_guard<std::mutex> lock(operationLock_);
    StopRunning();
    posted = notifier_.Posted();
  }
  WaitStoppedNotices(posted);
  return 0;
}

Engine& TheEngine() {
  static Engine engine;
  return engine;
}

}  // namespace
}  // namespace orvalis

using orvalis::TheEngine;
using orvalis::ToUtf8;

extern "C" {

int sndSetParam(const wchar_t* name, const wchar_t* value) {
  if (!name || !value) return -1;
  try {
    return TheEngine().SetParam(name, value);
  } catch (...) {
    return -1;
  }
}

int sndPlay(const wchar_t* path, int* playValue, const char* request) {
  if (playValue) *playValue = 0;
  if (!path) return -1;
  try {
    return TheEngine().Play(ToUtf8(path), playValue, request);
  } catch (...) {
    return -1;
  }
}

int sndRecord(const wchar_t* path, int length, const char* request) {
  if (!path) return -1;
  try {
    return TheEngine().Record(ToUtf8(path), length, request);
  } catch (...) {
    return -1;
  }
}

int sndAudiocheck(const wchar_t* path, int* result, const char* request) {
  if (result) *result = 0;
  if (!path) return -1;
  try {
    return TheEngine().Check(ToUtf8(path), request);
  } catch (...) {
    return -1;
  }
}

int sndStop() {
  try {
    return TheEngine().Stop();
  } catch (...) {
    return -1;
  }
}
}

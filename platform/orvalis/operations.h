// The library's three operations, each run on a thread of its own until it ends or is stopped,
// and what they need from the library around them.
#pragma once

#include <sndfile.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/orvalis/device.h"
#include "platform/orvalis/notifier.h"

namespace orvalis {

// The notification switches, read at every notice so a change applies at once.
struct Switches {
  std::atomic<bool> energy{true};
  std::atomic<bool> waveform{true};
  std::atomic<bool> playPosition{true};
};

// What an operation reports through, and the signal that stops it.
struct Context {
  Notifier& notifier;
  const Switches& switches;
  const char* request;
  const StopSignal& stop;
  void Notify(int message, std::wstring text, bool droppable = true) const {
    notifier.Post(message, std::move(text), request, droppable);
  }
  void NotifyEnd(int message, int code) const {
    notifier.Post(message, L"{\"err_code\":" + std::to_wstring(code) + L"}", request, false);
  }
};

// Levels and positions go out about 12 times a second.
constexpr int kTickMs = 80;

struct SndFileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndFile = std::unique_ptr<SNDFILE, SndFileCloser>;

// A file opened for playing and the device opened to play it on.
struct Playback {
  SndFile file;
  SF_INFO info{};
  Pcm pcm;
};
// Opens |path| and the device; false when either fails.
bool OpenPlayback(const std::string& path, Playback& playback);
// Plays to the end or until stopped, then posts SND_NOTIFY_PLAY_END.
void RunPlayback(Playback playback, const Context& context);

// A recording's file, its header already written, and the capture device.
struct Recording {
  int fd = -1;
  Pcm pcm;
};
// Makes |path| and opens the capture device; false (nothing left open) when either fails.
bool OpenRecording(const std::string& path, Recording& recording);
// A recording of this many frames ends only when stopped (or when a WAV file could hold no more).
constexpr long long kUntilStopped = INT64_MAX;
// Records |frames| frames or until stopped, then posts SND_NOTIFY_RECORD_END; closes the file.
void RunRecording(Recording recording, long long frames, const Context& context);
// Checks the recording |path| and posts SND_NOTIFY_AUDIOCHECK.
void RunCheck(const std::string& path, const Context& context);

// The sample rate of recordings.
constexpr int kRecordRate = 16000;

}  // namespace orvalis

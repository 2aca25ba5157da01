// The sound library's five entry points, found in libOrvalis.so beside the executable. Tests hand
// the notification table a table of their own functions instead.
#pragma once

#include <string>

#include "platform/orvalis/orvalis.h"

struct SoundFunctions {
  int (*sndSetParam)(const wchar_t* name, const wchar_t* value) = nullptr;
  int (*sndPlay)(const wchar_t* path, int* playValue, const char* request) = nullptr;
  int (*sndRecord)(const wchar_t* path, int length, const char* request) = nullptr;
  int (*sndAudiocheck)(const wchar_t* path, int* result, const char* request) = nullptr;
  int (*sndStop)() = nullptr;

  // All five are there.
  bool complete() const {
    return sndSetParam && sndPlay && sndRecord && sndAudiocheck && sndStop;
  }
};

class SoundLibrary {
 public:
  // Loads |path|; a failure is logged and leaves every entry point empty.
  explicit SoundLibrary(const std::string& path);
  ~SoundLibrary();
  SoundLibrary(const SoundLibrary&) = delete;
  SoundLibrary& operator=(const SoundLibrary&) = delete;

  bool loaded() const { return functions_.complete(); }
  const SoundFunctions& functions() const { return functions_; }

 private:
  void* handle_ = nullptr;
  SoundFunctions functions_;
};

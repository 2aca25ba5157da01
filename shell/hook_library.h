// The keyboard lock-down library, loaded from the executable's folder. Its two switches are
// called on the main thread only; without the library they do nothing.
#pragma once

#include <string>

class HookLibrary {
 public:
  // Loads |path|; a failure is logged and leaves both switches doing nothing.
  explicit HookLibrary(const std::string& path);
  ~HookLibrary();
  HookLibrary(const HookLibrary&) = delete;
  HookLibrary& operator=(const HookLibrary&) = delete;

  bool loaded() const { return setHook_ && exitHook_; }
  void SetHook() const;
  void ExitHook() const;

 private:
  void* handle_ = nullptr;
  void (*setHook_)() = nullptr;
  void (*exitHook_)() = nullptr;
};

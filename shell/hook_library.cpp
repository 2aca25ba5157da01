#include "shell/hook_library.h"

#include <dlfcn.h>

#include "shell/core/program_log.h"

HookLibrary::HookLibrary(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* error = dlerror();
    LogError("hook", std::string("cannot load ") + (error ? error : path));
    return;
  }
  setHook_ = reinterpret_cast<void (*)()>(dlsym(handle_, "SetHook"));
  exitHook_ = reinterpret_cast<void (*)()>(dlsym(handle_, "ExitHook"));
  if (!loaded()) {
    LogError("hook", "SetHook or ExitHook missing in " + path);
    setHook_ = nullptr;
    exitHook_ = nullptr;
  }
}

HookLibrary::~HookLibrary() {
  if (handle_) dlclose(handle_);
}

void HookLibrary::SetHook() const {
  if (setHook_) setHook_();
}

void HookLibrary::ExitHook() const {
  if (exitHook_) exitHook_();
}

#include "shell/hook_library.h"

#include <dlfcn.h>

#include "shell/core/program_log.h"

HookLibrary::HookLibrary(const std::string& path) {
  std::string scratch;
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* error = dlerror();
    QLOG_ERROR << FormatLogTag("hook", std::string("cannot load ") + (error ? error : path),
                               scratch);
    return;
  }
  setHook_ = reinterpret_cast<void (*)()>(dlsym(handle_, "SetHook"));
  exitHook_ = reinterpret_cast<void (*)()>(dlsym(handle_, "ExitHook"));
  if (!loaded()) {
    QLOG_ERROR << FormatLogTag("hook", "SetHook or ExitHook missing in " + path, scratch);
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

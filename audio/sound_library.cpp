#include "audio/sound_library.h"

#include <dlfcn.h>

#include "shell/core/program_log.h"

namespace {

template <typename Function>
void Find(void* handle, const char* name, Function& out) {
  out = reinterpret_cast<Function>(dlsym(handle, name));
}

}  // namespace

SoundLibrary::SoundLibrary(const std::string& path) {
  // Never unmapped: a thread of the library may still be unwinding when its owner goes.
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle_) {
    const char* error = dlerror();
    LogError("sound", std::string("cannot load ") + (error ? error : path));
    return;
  }
  Find(handle_, "sndSetParam", functions_.sndSetParam);
  Find(handle_, "sndPlay", functions_.sndPlay);
  Find(handle_, "sndRecord", functions_.sndRecord);
  Find(handle_, "sndAudiocheck", functions_.sndAudiocheck);
  Find(handle_, "sndStop", functions_.sndStop);
  if (!functions_.complete()) {
    LogError("sound", "sound functions missing in " + path);
    functions_ = SoundFunctions();
  }
}

SoundLibrary::~SoundLibrary() {
  if (handle_) dlclose(handle_);
}

#include "transfer/curl_library.h"

#include <dlfcn.h>

#include <mutex>

#include "shell/core/program_log.h"

namespace {

template <class F>
bool Resolve(void* handle, const char* name, F& out) {
  out = reinterpret_cast<F>(dlsym(handle, name));
  return out != nullptr;
}

const CurlLibrary* Load() {
  void* handle = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    LogError("libcurl", std::string("cannot be loaded: ") + (why ? why : ""));
    return nullptr;
  }
  static CurlLibrary lib;
  bool ok = Resolve(handle, "curl_global_init", lib.global_init) &&
            Resolve(handle, "curl_easy_init", lib.easy_init) &&
            Resolve(handle, "curl_easy_setopt", lib.easy_setopt) &&
            Resolve(handle, "curl_easy_perform", lib.easy_perform) &&
            Resolve(handle, "curl_easy_getinfo", lib.easy_getinfo) &&
            Resolve(handle, "curl_easy_cleanup", lib.easy_cleanup) &&
            Resolve(handle, "curl_mime_init", lib.mime_init) &&
            Resolve(handle, "curl_mime_free", lib.mime_free) &&
            Resolve(handle, "curl_mime_addpart", lib.mime_addpart) &&
            Resolve(handle, "curl_mime_name", lib.mime_name) &&
            Resolve(handle, "curl_mime_data", lib.mime_data) &&
            Resolve(handle, "curl_mime_filedata", lib.mime_filedata) &&
            Resolve(handle, "curl_slist_append", lib.slist_append) &&
            Resolve(handle, "curl_slist_free_all", lib.slist_free_all);
  // libcurl's global set-up is not safe on two threads at once: it happens here, once.
  if (!ok || lib.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    LogError("libcurl", "incomplete or cannot be set up");
    return nullptr;
  }
  return &lib;  // the library stays loaded for the rest of the process
}

}  // namespace

const CurlLibrary* Curl() {
  static std::once_flag once;
  static const CurlLibrary* lib = nullptr;
  std::call_once(once, [] { lib = Load(); });
  return lib;
}

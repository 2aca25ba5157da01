// Starts a recording with the sound library and waits to be killed in the middle of it:
// record_probe LIBRARY PATH
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/orvalis/orvalis.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  auto record = library ? reinterpret_cast<decltype(&sndRecord)>(dlsym(library, "sndRecord")) : nullptr;
  std::string path = argv[2];
  if (!record || record(std::wstring(path.begin(), path.end()).c_str(), 600, nullptr) != 0) {
    std::fprintf(stderr, "record_probe: recording did not start\n");
    return 1;
  }
  for (;;) pause();
}

// The state the fuzz targets dispatch into: a private temporary APPDATA and TMPDIR, a window
// without a display, every command word of the client registered, and no network: every transfer is
// stopped before its first attempt, so it neither connects nor pauses between retries.
#pragma once

#include <string>

#include "shell/commands/main_state.h"

struct FuzzSandbox {
  std::string root;  // ends in "/"
  std::string dataDir;
  MainDlgState* state = nullptr;
};

// Made once per process, on the first call, on the calling thread (which the transfers of that
// thread then obey).
FuzzSandbox& Sandbox();

// Puts the session folders back to their start; called at the start of every input.
void ResetSandbox();

// The reply of one dispatch. The commands it leaves behind are ended, so that the next exclusive
// dispatch does not pause to replace one, and nothing is left when the run ends.
std::string FuzzDispatch(const std::string& name, const std::string& params,
                         const std::string& type = "0");

// The one entry of every page command: builds the command through the factory, keeps it by the
// request's mode, runs it and answers with its reply.
#pragma once

#include <functional>

#include "shell/commands/main_state.h"

// The reply text stays the calling thread's own until its next dispatch.
const char* DispatchCmd(const char* region, const char* name, const char* params,
                        const char* type);

// The teardown: refuses every later dispatch, stops every command, waits for each to become idle
// and deletes it. |waitStep| waits about 100 ms (the main thread keeps its loop running in it).
void StopAllCommands(MainDlgState& state, const std::function<void()>& waitStep);

// The keyboard lock-down: while it is on, the keyboard is grabbed for the client's window, so
// the window manager's and the desktop's shortcuts do not reach them. Both calls are made on
// the GTK main thread.
#pragma once

#define QUINTREL_EXPORT __attribute__((visibility("default")))

extern "C" {
QUINTREL_EXPORT void SetHook();
// Harmless when the lock-down is off.
QUINTREL_EXPORT void ExitHook();
}

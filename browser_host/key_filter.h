// Which key events the browser host swallows before the page sees them.
#pragma once

#include "platform/cef/cef_client.h"

enum class KeyFilterDecision {
  kPass,
  kSwallowBackspace,  // Backspace pressed outside an editable field: never navigates back
  kSwallowF5,         // F5 that comes as a system key
};

KeyFilterDecision FilterKey(const CefKeyEvent& event);

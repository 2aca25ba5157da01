#include "browser_host/key_filter.h"

KeyFilterDecision FilterKey(const CefKeyEvent& event) {
  if (!event.focus_on_editable_field && event.windows_key_code == 8 &&
      event.type == KEYEVENT_RAWKEYDOWN)
    return KeyFilterDecision::kSwallowBackspace;
  if (event.windows_key_code == 116 && event.is_system_key) return KeyFilterDecision::kSwallowF5;
  return KeyFilterDecision::kPass;
}

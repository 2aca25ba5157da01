// Small rules the session, answer, settings and file commands share: which names from pages may
// become parts of local paths and ASCII lower-casing of keys.
#pragma once

#include <string>

// True when |name| stays inside the folder it is appended to: not empty, not absolute, no ".."
// part (either slash counts as a separator, as pages written for Windows use both), no NUL.
bool IsContainedName(const std::string& name);

// 32 hexadecimal digits, as a session's GUID is written.
bool IsGuidText(const std::string& text);

// Every ASCII letter in lower case; other bytes unchanged.
std::string LowerAscii(std::string text);

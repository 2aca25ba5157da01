// Small rules the session, answer, settings, file and sound commands share: which names from pages
// may become parts of local paths and ASCII lower-casing of keys.
#pragma once

#include <string>

// True when |name| stays inside the folder it is appended to: not empty, not absolute, no ".."
// part (either slash counts as a separator, as pages written for Windows use both), no NUL.
bool IsContainedName(const std::string& name);

// The answer document of an answer folder, and where a save writes it before it replaces it.
extern const char kAnswerFile[];
extern const char kAnswerTemp[];
// True when the last part of |name| (after either slash) is one of the two names above: such a
// file belongs to the answer document, and a command that writes files from pages' names into
// an answer folder would destroy the answers with it.
bool IsAnswerDocumentName(const std::string& name);

// 32 hexadecimal digits, as a session's GUID is written.
bool IsGuidText(const std::string& text);

// Every ASCII letter in lower case; other bytes unchanged.
std::string LowerAscii(std::string text);

// Session folders are the client's own. The run that makes one marks it and holds it for as long
// as its session lives, so that a start of the client, which clears what earlier runs left in the
// temporary folder, takes neither another program's folder nor one that a live client (with
// several allowed at once) still works in. The hold is an exclusive lock on the mark, which the
// kernel drops when the holding process ends, however it ends.
#pragma once

#include <string>

// The mark's file name inside a session folder.
extern const char kSessionFolderMark[];

// Marks |folder| (ending in "/"), just made for a new session, and holds it until
// ReleaseSessionFolder or the end of the process. False when it could not be marked; the folder
// then stays unmarked and unheld.
bool HoldSessionFolder(const std::string& folder);
// Lets go of a folder this run holds; nothing for any other.
void ReleaseSessionFolder(const std::string& folder);

// Whether |folder| carries the mark.
bool IsMarkedSessionFolder(const std::string& folder);

enum class SessionFolderRemoval { kRemoved, kLeftAlone, kFailed };
// Removes |folder| with everything in it unless a live client holds it: its mark is locked here
// for the removal, so that no client takes it meanwhile. A folder already gone counts as
// removed. On failure |error| says why.
SessionFolderRemoval RemoveUnheldSessionFolder(const std::string& folder, std::string& error);

// The page's sound commands: play, record, checkaudio, stopplay and stoprecord, over the main
// dialog's sound callback table.
#pragma once

#include <string>

void RegisterSoundCommands();

// The play value the library reports in tenths of a second, as the page's whole seconds.
int ScaledPlayValue(int playValue);
// The page's recording length "len" in the library's tenths of a second: the leading number
// of the text (0 when there is none) times ten, kept within 32 bits.
int RecordLength(const std::string& len);
// A file name from the page as a path part here: backslashes, which pages written for Windows
// use, become slashes. False when the name would leave its folder (see IsContainedName).
bool PageFileName(const std::string& name, std::string& out);

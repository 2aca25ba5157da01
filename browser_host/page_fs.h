// The local file operations behind the page's cef.fs functions. Paths are UTF-8. Text files
// are read and written the way the pages have always seen them: a CR LF pair on disk is one
// LF in the text, and each LF of the text is written as CR LF.
#pragma once

#include <cstddef>
#include <string>

namespace page_fs {

// Larger files are refused: the text has to fit into one script string of the page.
constexpr std::size_t kMaxReadBytes = 256u << 20;

// None of these waits on the path: FIFOs and devices are never read or written.

// error 0 on success; -1 when the path is no readable regular file or is too large.
void ReadFileAll(const std::string& path, std::string& text, int& error);
// Writes |contents| up to its first NUL into a regular file, made when missing; error -1 when
// the path is something else or the file cannot be opened or written.
void WriteFileAll(const std::string& path, const std::string& contents, int& error);
bool FileExists(const std::string& path);  // opens for reading at once, and is no folder
bool DirExists(const std::string& path);   // the path names a folder (a trailing "/" is fine)
bool CreateDir(const std::string& path);   // the folder exists or was made (parents not made)
bool DeleteDir(const std::string& path);   // an empty folder was removed

}  // namespace page_fs

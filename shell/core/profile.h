// INI files ("config.ini", "hash.cache") with the Windows profile semantics that stored files and
// pages rely on: section and key names match without regard to case, names and values are
// trimmed, a value quoted at both ends loses its quotes, and the first of repeated entries wins.
#pragma once

#include <cstddef>
#include <string>

// The value of |key| in |section|, or |defaultValue|, cut to |capacity| - 1 characters (never
// inside a character), as a fixed buffer of |capacity| characters would hold it.
std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& defaultValue,
                              std::size_t capacity);

// Writes key=value into the section (made when missing), keeping every other line. The file is
// replaced whole through a temporary file in the same folder, so a reader never sees half of it.
// Writes of one process are serialised. False when the file cannot be written.
bool WriteProfileString(const std::string& path, const std::string& section,
                        const std::string& key, const std::string& value);

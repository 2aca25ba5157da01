#include "shell/core/profile.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

namespace {

std::string Trim(const std::string& text) {
  const char* space = " \t\r\n";
  std::size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return "";
  std::size_t last = text.find_last_not_of(space);
  return text.substr(first, last - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  if (!lines.empty() && lines.front().compare(0, 3, "\xEF\xBB\xBF") == 0)
    lines.front().erase(0, 3);
  return lines;
}

// "[name]" gives name; anything else gives false.
bool SectionName(const std::string& line, std::string& name) {
  std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  std::size_t close = t.find(']');
  if (close == std::string::npos) return false;
  name = Trim(t.substr(1, close - 1));
  return true;
}

bool KeyValue(const std::string& line, std::string& key, std::string& value) {
  std::size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(line.substr(0, eq));
  value = Trim(line.substr(eq + 1));
  return !key.empty() && key[0] != ';';
}

std::string CutToCapacity(const std::string& text, std::size_t capacity) {
  if (capacity == 0) return "";
  std::size_t chars = 0, i = 0;
  while (i < text.size()) {
    std::size_t len = 1;
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0xF0)
      len = 4;
    else if (c >= 0xE0)
      len = 3;
    else if (c >= 0xC0)
      len = 2;
    if (chars + 1 > capacity - 1 || i + len > text.size()) break;
    i += len;
    ++chars;
  }
  return text.substr(0, i);
}

}  // namespace

std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& defaultValue,
                              std::size_t capacity) {
  // Names are looked up trimmed, as stored names are read.
  const std::string wanted_section = Trim(section);
  const std::string wanted_key = Trim(key);
  bool inside = false;
  std::string name, k, v;
  for (const std::string& line : ReadLines(path)) {
    if (SectionName(line, name)) {
      inside = SameName(name, wanted_section);
      continue;
    }
    if (inside && KeyValue(line, k, v) && SameName(k, wanted_key)) {
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
      return CutToCapacity(v, capacity);
    }
  }
  return CutToCapacity(defaultValue, capacity);
}

bool WriteProfileString(const std::string& path, const std::string& rawSection,
                        const std::string& rawKey, const std::string& value) {
  // Stored names are read trimmed: a name with surrounding space could never be found again.
  const std::string section = Trim(rawSection);
  const std::string key = Trim(rawKey);
  // One read-modify-write at a time: two workers writing different keys must both keep theirs,
  // and they would share the temporary file's name too.
  static std::mutex write_lock;
  std::lock_guard<std::mutex> lock(write_lock);
  std::vector<std::string> lines = ReadLines(path);
  const std::string entry = key + "=" + value;
  bool inside = false, done = false;
  std::size_t section_end = 0;  // index after the last entry of the wanted section
  bool section_found = false;
  std::string name, k, v;
  for (std::size_t i = 0; i < lines.size() && !done; ++i) {
    if (SectionName(lines[i], name)) {
      if (inside) break;
      inside = SameName(name, section);
      if (inside) {
        section_found = true;
        section_end = i + 1;
      }
      continue;
    }
    if (!inside) continue;
    if (!KeyValue(lines[i], k, v)) continue;
    if (SameName(k, key)) {
      lines[i] = k + "=" + value;  // the stored spelling of the name stays
      done = true;
    }
    section_end = i + 1;
  }
  if (!done) {
    if (section_found) {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(section_end), entry);
    } else {
      lines.push_back("[" + section + "]");
      lines.push_back(entry);
    }
  }

  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  std::string temp = path + ".tmp" + std::to_string(getpid());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t written = 0;
  while (written < text.size()) {
    ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  bool ok = written == text.size() && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

#include "exam_commands/session_names.h"

bool IsContainedName(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return false;
  if (name[0] == '/' || name[0] == '\\') return false;
  // A drive letter would make the name absolute where pages come from.
  if (name.size() >= 2 && name[1] == ':') return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

const char kAnswerFile[] = "answer.xml";
const char kAnswerTemp[] = ".answer.xml.tmp";

bool IsAnswerDocumentName(const std::string& name) {
  std::string last = name.substr(name.find_last_of("/\\") + 1);
  return last == kAnswerFile || last == kAnswerTemp;
}

bool IsGuidText(const std::string& text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

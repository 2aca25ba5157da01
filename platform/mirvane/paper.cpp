#include "platform/mirvane/paper.h"

#include <json/json.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "platform/mirvane/engine_codes.h"
#include "platform/mirvane/json_input.h"

namespace mirvane {

bool CategoryFromName(const std::string& name, Category& category) {
  if (name == "read_aloud") {
    category = Category::kReadAloud;
    return true;
  }
  if (name == "simple_expression") {
    category = Category::kFreeAnswer;
    return true;
  }
  return false;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  auto flush = [&] {
    while (!word.empty() && word.back() == '\'') word.pop_back();
    if (!word.empty()) words.push_back(word);
    word.clear();
  };
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) && u < 0x80)
      word.push_back(static_cast<char>(std::tolower(u)));
    else if (c == '\'' && !word.empty())
      word.push_back(c);
    else
      flush();
  }
  flush();
  return words;
}

int ReadPaper(const std::string& path, Category category, Paper& paper) {
  if (path.empty()) return kPaperMissing;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return errno == ENOENT ? kPaperMissing : kPaperInvalid;
  if (!S_ISREG(st.st_mode) || st.st_size > (1 << 20)) return kPaperInvalid;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  Json::Value root;
  std::istringstream source(text.str());
  if (!in || !ReadBoundedJson(source, root) || !root.isObject()) return kPaperInvalid;
  auto words_of = [](const Json::Value& value, std::vector<std::string>& out) {
    if (!value.isString()) return false;
    out = Words(value.asString());
    return true;
  };
  if (category == Category::kReadAloud)
    return words_of(root["text"], paper.text) && !paper.text.empty() ? kScored : kPaperInvalid;

  const Json::Value& answers = root["answers"];
  const Json::Value& keywords = root["keywords"];
  if (!answers.isArray() || !(keywords.isNull() || keywords.isArray())) return kPaperInvalid;
  for (const Json::Value& answer : answers) {
    std::vector<std::string> words;
    if (!words_of(answer, words)) return kPaperInvalid;
    if (!words.empty()) paper.answers.push_back(words);
  }
  for (const Json::Value& keyword : keywords) {
    std::vector<std::string> words;
    if (!words_of(keyword, words)) return kPaperInvalid;
    paper.keywords.insert(paper.keywords.end(), words.begin(), words.end());
  }
  return paper.answers.empty() ? kPaperInvalid : kScored;
}

}  // namespace mirvane

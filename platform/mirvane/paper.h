// What the candidate was asked, as the page's paper file says it (JSON, UTF-8):
//   reading aloud:  {"text": "the sentence to read"}
//   a free answer:  {"answers": ["a reference answer", ...], "keywords": ["word", ...]}
// and the word lists the scoring compares.
#pragma once

#include <string>
#include <vector>

namespace mirvane {

enum class Category { kReadAloud, kFreeAnswer };

// "read_aloud" reads the paper's text aloud; "simple_expression" answers freely. False for any
// other category.
bool CategoryFromName(const std::string& name, Category& category);

struct Paper {
  std::vector<std::string> text;                  // reading aloud: the expected words
  std::vector<std::vector<std::string>> answers;  // free answer: each reference answer's words
  std::vector<std::string> keywords;
};

// Returns kScored, kPaperMissing or kPaperInvalid (no words where the category needs them).
int ReadPaper(const std::string& path, Category category, Paper& paper);

// Lower-case words of English text: letters, digits and inner apostrophes; everything else
// separates words.
std::vector<std::string> Words(const std::string& text);

}  // namespace mirvane

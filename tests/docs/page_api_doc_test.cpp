// docs/page-api.md against the command factory: a section for every command word, and no
// section for a word the client does not know.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "shell/commands/command.h"
#include "shell/commands/command_factory.h"
#include "shell/register_commands.h"
#include "tests/support/test_support.h"

namespace {

bool IsWord(const std::string& text, bool upperToo) {
  if (text.empty()) return false;
  for (char c : text) {
    bool letter = (c >= 'a' && c <= 'z') || (upperToo && c >= 'A' && c <= 'Z');
    if (!letter) return false;
  }
  return true;
}

std::string ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The factory's words are the lower-case literals of its table; each is confirmed below by the
// factory itself, so a literal that is no command word cannot pass for one.
std::set<std::string> FactoryWords() {
  std::string source = ReadAll(FACTORY_SOURCE);
  std::set<std::string> words;
  for (std::size_t open = source.find('"'); open != std::string::npos;) {
    std::size_t close = source.find('"', open + 1);
    if (close == std::string::npos) break;
    std::string literal = source.substr(open + 1, close - open - 1);
    if (IsWord(literal, false)) words.insert(literal);
    open = source.find('"', close + 1);
  }
  return words;
}

// The command sections: headings "### `word`".
std::set<std::string> DocumentedWords() {
  std::istringstream doc(ReadAll(PAGE_API_DOC));
  std::set<std::string> words;
  const std::string start = "### `";
  for (std::string line; std::getline(doc, line);) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    if (line.compare(0, start.size(), start) != 0 || line.back() != '`') continue;
    std::string word = line.substr(start.size(), line.size() - start.size() - 1);
    if (IsWord(word, true)) words.insert(word);
  }
  return words;
}

// Whether the client's own registration gave |word| a command class: a word without one is
// refused with the factory's own message; any other outcome (a command, or a constructor that
// refuses the empty params) means a class was there.
bool FactoryKnows(const std::string& word) {
  try {
    CommandFactory().CreateCommand(CommandRequest{word, "Doc", "", "0"});
    return true;
  } catch (const CmdException& e) {
    return e.getMessage() != "未知的命令类型";
  } catch (const std::exception&) {
    return true;
  }
}

class PageApiDoc : public StateFixture {
 protected:
  static void SetUpTestSuite() {
    factoryWords = FactoryWords();
    RegisterAllCommands();
  }
  static std::set<std::string> factoryWords;
};

std::set<std::string> PageApiDoc::factoryWords;

TEST_F(PageApiDoc, DocumentsEveryCommandWordOfTheFactory) {
  ASSERT_FALSE(ReadAll(PAGE_API_DOC).empty()) << PAGE_API_DOC << " is missing";
  ASSERT_EQ(factoryWords.size(), 28u) << "the words were not found in " << FACTORY_SOURCE;
  std::set<std::string> documented = DocumentedWords();
  for (const std::string& word : factoryWords) {
    EXPECT_TRUE(FactoryKnows(word)) << word;
    EXPECT_EQ(documented.count(word), 1u) << "no section \"### `" << word << "`\" in "
                                          << PAGE_API_DOC;
  }
  EXPECT_FALSE(FactoryKnows("nosuchcommand"));
}

TEST_F(PageApiDoc, DocumentsNoWordTheFactoryDoesNotKnow) {
  for (const std::string& word : DocumentedWords()) {
    EXPECT_EQ(factoryWords.count(word), 1u) << word;
    EXPECT_TRUE(FactoryKnows(word)) << word;
  }
}

}  // namespace

// docs/page-api.md against the command factory: a section for every command word, and no
// section for a word the client does not know.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "shell/commands/command.h"
#include "shell/commands/command_factory.h"

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

// Stands for each command class: the test asks only whether the factory knows a word.
class WordOnly : public Command {
 public:
  explicit WordOnly(const CommandRequest& request) : Command("doc", request) {}
  void execute(std::string&) override {}
};

std::unique_ptr<Command> NoCommand(const CommandRequest& request) {
  return std::make_unique<WordOnly>(request);
}

bool FactoryKnows(const std::string& word) {
  CommandFactory factory;
  try {
    factory.CreateCommand(CommandRequest{word, "Doc", "", "0"});
    return true;
  } catch (const CmdException&) {
    return false;
  }
}

class PageApiDoc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    factoryWords = FactoryWords();
    for (const std::string& word : factoryWords) CommandFactory::Register(word.c_str(), &NoCommand);
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

// Hostile input from a page against the answer document: nothing the page sends may cost a saved
// answer or read memory that is not an element.
#include <sys/stat.h>

#include "tests/exam_commands/session_test_util.h"

namespace {

class AnswerInputTest : public ExamSessionFixture {
 protected:
  void SetUp() override {
    withLog = true;
    ExamSessionFixture::SetUp();
    ASSERT_EQ(Send("startexam", "{\"examineeId\":\"E1\",\"paperId\":\"P1\"}").flag, 1);
    file = state.Session().answerFolder + "answer.xml";
  }
  Reply Save(const std::string& key, const std::string& value) {
    return Send("saveanswer", "[{\"key\":" + Quote(key) + ",\"value\":" + Quote(value) + "}]");
  }
  void SaveTwoAnswers() {
    ASSERT_EQ(Save("/test/q1/response[id=1]/answer", "A").flag, 1);
    ASSERT_EQ(Save("/test/q2/response[id=2]/answer", "B").flag, 1);
  }
  std::string BothAnswers() { return Send("getanswer", "[\"q1\",\"q2\"]").data; }

  std::string file;
};

const char kBoth[] =
    "{\"q1\":[{\"answer\":\"A\",\"id\":\"1\"}],\"q2\":[{\"answer\":\"B\",\"id\":\"2\"}]}\n";

std::string Nested(const std::string& start, int levels) {
  std::string key = start;
  for (int i = 0; i < levels; ++i) key += "/a";
  return key;
}

TEST_F(AnswerInputTest, AKeyNestedTooDeeplyIsRefusedAndNothingIsLost) {
  SaveTwoAnswers();
  std::string before = ReadWhole(file);
  Reply deep = Save(Nested("/test/q1/note", 300), "x");
  EXPECT_EQ(deep.flag, 0);
  EXPECT_EQ(deep.flagMsg, "保存答案失败");
  EXPECT_EQ(ReadWhole(file), before);
  // The next save still finds every answer saved before.
  ASSERT_EQ(Save("/test/q3/response[id=3]/answer", "C").flag, 1);
  EXPECT_EQ(BothAnswers(), kBoth);
}

TEST_F(AnswerInputTest, DepthIsCountedFromTheRoot) {
  // "/test" is the root itself: 64 steps from it are 64 levels, one more is too many.
  EXPECT_EQ(Save(Nested("/test", 63), "x").flag, 1);
  EXPECT_EQ(Save(Nested("/test", 64), "x").flagMsg, "保存答案失败");
  // A first step that is not the root adds a level below it.
  EXPECT_EQ(Save(Nested("/other", 62), "x").flag, 1);
  EXPECT_EQ(Save(Nested("/other", 63), "x").flagMsg, "保存答案失败");
}

TEST_F(AnswerInputTest, ADocumentReadWithErrorsIsNeverWrittenBack) {
  SaveTwoAnswers();
  // Deeper than the parser reads: recovery would hand back a tree without the rest of the file.
  std::string deep = "<test>";
  for (int i = 0; i < 300; ++i) deep += "<a>";
  for (int i = 0; i < 300; ++i) deep += "</a>";
  deep += "<q2><response id=\"2\"><answer>B</answer></response></q2></test>";
  const std::string damaged[] = {
      deep,
      "<?xml version=\"1.0\"?>\n<test><q1><response id=\"1\"><answer>A</answer></response>",
      "<test><q1>&undefined;</q1></test>",
  };
  for (const std::string& text : damaged) {
    WriteWhole(file, text);
    Reply reply = Save("/test/q3/response[id=3]/answer", "C");
    EXPECT_EQ(reply.flag, 0);
    EXPECT_EQ(reply.flagMsg, "保存答案失败");
    EXPECT_EQ(ReadWhole(file), text);
  }
  EXPECT_NE(LogText().find("answer.xml"), std::string::npos) << LogText();
}

TEST_F(AnswerInputTest, OnlyElementsAreReadAsResponses) {
  SaveTwoAnswers();
  // Namespace and attribute nodes are not elements; reading them as such reads past them.
  for (const std::string id :
       {"x|//namespace::*|//y", "x|//@*|//y", "x|//text()|//y", "x|//comment()|//y", "x|/|//y"}) {
    Reply reply = Send("getanswer", "[" + Quote(id) + "]");
    EXPECT_EQ(reply.flag, 1);
    EXPECT_EQ(reply.data, "{" + Quote(id) + ":[\"{}\"]}\n");
  }
  // Elements in a mixed result are still read.
  const std::string mixed = "q1/response|//namespace::*|//q2";
  EXPECT_EQ(
      Send("getanswer", "[" + Quote(mixed) + "]").data,
      "{" + Quote(mixed) + ":[{\"answer\":\"A\",\"id\":\"1\"},{\"answer\":\"B\",\"id\":\"2\"}]}\n");
}

TEST_F(AnswerInputTest, StartExamFailsWhenTheAnswerFolderCannotBeMade) {
  WriteWhole(dataDir + "cache/answer/E2", "a file where the folder belongs");
  Reply reply = Send("startexam", "{\"examineeId\":\"E2\",\"paperId\":\"P1\"}");
  EXPECT_EQ(reply.flag, 0);
  EXPECT_EQ(reply.flagMsg, "获取上次考试进度失败");
}

}  // namespace

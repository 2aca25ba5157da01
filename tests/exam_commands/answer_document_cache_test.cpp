// The tree kept between saves: a save never builds on anything but the file on disk as it is.
#include <fcntl.h>
#include <sys/stat.h>

#include <libxml/parser.h>

#include <cstdio>
#include <ctime>

#include "exam_commands/answer_document_cache.h"
#include "tests/exam_commands/session_test_util.h"

namespace {

class AnswerDocumentCacheTest : public ExamSessionFixture {
 protected:
  void SetUp() override {
    ExamSessionFixture::SetUp();
    ASSERT_EQ(Send("startexam", "{\"examineeId\":\"E1\",\"paperId\":\"P1\"}").flag, 1);
    folder = state.Session().answerFolder;
    file = folder + "answer.xml";
    ASSERT_EQ(Save("q1", "A").flag, 1);
  }
  Reply Save(const std::string& question, const std::string& value) {
    return Send("saveanswer", Item(question, value));
  }
  static std::string Item(const std::string& question, const std::string& value) {
    return "[{\"key\":\"/test/" + question + "/response[id=1]/answer\",\"value\":" +
           Quote(value) + "}]";
  }
  std::string Answers() { return Send("getanswer", "[\"q1\",\"q2\",\"q3\"]").data; }
  static std::string Document(const std::string& q1) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<test><q1><response id=\"1\"><answer>" +
           q1 + "</answer></response></q1></test>\n";
  }

  std::string folder;
  std::string file;
};

std::string Expected(const std::string& q1, const std::string& q2) {
  std::string none = "[\"{}\"]";
  auto one = [](const std::string& a) { return "[{\"answer\":\"" + a + "\",\"id\":\"1\"}]"; };
  return "{\"q1\":" + (q1.empty() ? none : one(q1)) + ",\"q2\":" + (q2.empty() ? none : one(q2)) +
         ",\"q3\":" + none + "}\n";
}

TEST_F(AnswerDocumentCacheTest, AFileReplacedFromOutsideIsReadAfresh) {
  std::string temp = folder + "outside.xml";
  WriteWhole(temp, Document("X"));
  ASSERT_EQ(std::rename(temp.c_str(), file.c_str()), 0);
  ASSERT_EQ(Save("q2", "B").flag, 1);
  EXPECT_EQ(Answers(), Expected("X", "B"));
}

TEST_F(AnswerDocumentCacheTest, AFileGrownInPlaceIsReadAfresh) {
  // Same inode, another size.
  WriteWhole(file, Document("a longer answer"));
  ASSERT_EQ(Save("q2", "B").flag, 1);
  EXPECT_EQ(Answers(), Expected("a longer answer", "B"));
}

TEST_F(AnswerDocumentCacheTest, AFileRewrittenInPlaceWithTheSameSizeIsReadAfresh) {
  std::string before = ReadWhole(file);
  std::string after = before;
  after.replace(after.find(">A<"), 3, ">Z<");
  WriteWhole(file, after);
  // Same inode and size; the times tell it apart even when the clock did not move meanwhile.
  timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  ASSERT_EQ(Save("q2", "B").flag, 1);
  EXPECT_EQ(Answers(), Expected("Z", "B"));
}

TEST_F(AnswerDocumentCacheTest, WithinTheSavesTimeTickTheBytesDecide) {
  // Where time stamps are whole seconds, a rewrite of the same size in the second of the save
  // leaves every stamp as the save left it: stat answers the saved version again.
  FileIdentity saved;
  ASSERT_TRUE(ReadFileIdentity(file, saved));
  EXPECT_NE(KeptAnswerDocument().Take(file, saved), nullptr);  // still the bytes saved
  ASSERT_EQ(Save("q1", "A").flag, 1);
  ASSERT_TRUE(ReadFileIdentity(file, saved));
  std::string rewritten = ReadWhole(file);
  rewritten.replace(rewritten.find(">A<"), 3, ">Z<");
  WriteWhole(file, rewritten);
  EXPECT_EQ(KeptAnswerDocument().Take(file, saved), nullptr);
}

TEST_F(AnswerDocumentCacheTest, ARemovedFileStartsANewDocument) {
  ASSERT_EQ(std::remove(file.c_str()), 0);
  ASSERT_EQ(Save("q2", "B").flag, 1);
  EXPECT_EQ(Answers(), Expected("", "B"));
}

TEST_F(AnswerDocumentCacheTest, ABatchThatFailsHalfwayLeavesNothingForTheNextSave) {
  std::string batch = "[{\"key\":\"/test/q2/response[id=1]/answer\",\"value\":\"B\"},"
                      "{\"key\":\"/test/q3\",\"type\":1,\"path\":\"" +
                      root.path() + "missing.wav\"}]";
  EXPECT_EQ(Send("saveanswer", batch).flagMsg, "文件不存在，保存答案失败");
  ASSERT_EQ(Save("q1", "C").flag, 1);
  EXPECT_EQ(Answers(), Expected("C", ""));
}

TEST_F(AnswerDocumentCacheTest, AFailedWriteLeavesNothingForTheNextSave) {
  // The temporary file cannot be made where a folder stands in its place.
  std::string temp = folder + ".answer.xml.tmp";
  ASSERT_EQ(mkdir(temp.c_str(), 0700), 0);
  EXPECT_EQ(Save("q2", "B").flagMsg, "保存答案失败");
  ASSERT_EQ(rmdir(temp.c_str()), 0);
  ASSERT_EQ(Save("q1", "C").flag, 1);
  EXPECT_EQ(Answers(), Expected("C", ""));
}

TEST_F(AnswerDocumentCacheTest, EverySaveIsOnDiskWholeAtOnce) {
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(Save("q2", "B" + std::to_string(i)).flag, 1);
    std::string text = ReadWhole(file);
    EXPECT_NE(text.find("<answer>B" + std::to_string(i) + "</answer>"), std::string::npos);
    EXPECT_NE(text.find("<answer>A</answer>"), std::string::npos);
  }
}

}  // namespace

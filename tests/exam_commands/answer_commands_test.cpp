#include <boost/filesystem.hpp>
#include <thread>
#include <vector>

#include "tests/exam_commands/session_test_util.h"

namespace {

class AnswerTest : public ExamSessionFixture {
 protected:
  void SetUp() override {
    ExamSessionFixture::SetUp();
    ASSERT_EQ(Send("startexam", "{\"examineeId\":\"E1\",\"paperId\":\"P1\"}").flag, 1);
    folder = state.Session().answerFolder;
    file = folder + "answer.xml";
  }

  // One answer item at |key| with |value|.
  Reply Save(const std::string& key, const std::string& value, const std::string& extra = "") {
    return Send("saveanswer",
                "[{\"key\":" + Quote(key) + ",\"value\":" + Quote(value) + extra + "}]");
  }
  // What xmllint finds for an XPath expression in answer.xml; its exit status in |status|.
  std::string Lint(const std::string& expression, int* status = nullptr) {
    std::string out =
        RunCapture("xmllint --xpath \"" + expression + "\" " + file + " 2>&1", status);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  bool Parses() {
    int status = -1;
    std::string out = RunCapture("xmllint --noout " + file + " 2>&1", &status);
    EXPECT_EQ(out, "");
    return status == 0;
  }

  std::string folder, file;
};

TEST_F(AnswerTest, StartExamMakesTheAnswerFolderAndKeepsTheParams) {
  EXPECT_EQ(folder, dataDir + "cache/answer/E1/P1/");
  EXPECT_TRUE(IsExistingDir(folder));
  SessionState s = state.Session();
  EXPECT_EQ(s.values.at("examineeid"), "E1");
  EXPECT_EQ(s.values.at("paperid"), "P1");
  EXPECT_EQ(s.values.size(), 2u);
}

TEST_F(AnswerTest, SavingTheSamePathTwiceFindsTheSameElements) {
  const std::string key = "/test/q1/response[id=7]/answer";
  EXPECT_EQ(Save(key, "A").data, "操作成功");
  Reply second = Save(key, "A");
  EXPECT_EQ(second.flag, 1);
  EXPECT_EQ(second.flagMsg, "");
  EXPECT_TRUE(Parses());
  EXPECT_EQ(Lint("count(//q1)"), "1");
  EXPECT_EQ(Lint("count(//response)"), "1");
  EXPECT_EQ(Lint("string(/test/q1/response[@id='7']/answer)"), "A");
  EXPECT_EQ(Send("getanswer", "[\"q1\"]").data, "{\"q1\":[{\"answer\":\"A\",\"id\":\"7\"}]}\n");
}

TEST_F(AnswerTest, ChinesePredicatesAreFoundAgain) {
  const std::string key = "/test/q2/response[id=第一题]/answer";
  ASSERT_EQ(Save(key, "甲").flag, 1);
  ASSERT_EQ(Save(key, "乙").flag, 1);
  EXPECT_EQ(Lint("count(//response)"), "1");
  EXPECT_EQ(Send("getanswer", "[\"q2\"]").data,
            "{\"q2\":[{\"answer\":\"乙\",\"id\":\"第一题\"}]}\n");
}

TEST_F(AnswerTest, GetAnswerWithoutResponses) {
  EXPECT_EQ(Send("getanswer", "[\"q1\"]").data, "{}");  // no document yet
  ASSERT_EQ(Save("/test/q1/response[id=1]/answer", "B").flag, 1);
  Reply reply = Send("getanswer", "[\"q9\",\"q1\"]");
  EXPECT_EQ(reply.flag, 1);
  EXPECT_EQ(reply.data, "{\"q1\":[{\"answer\":\"B\",\"id\":\"1\"}],\"q9\":[\"{}\"]}\n");
  EXPECT_EQ(Send("getanswer", "[]").data, "null\n");
  EXPECT_EQ(Send("getanswer", "[\"bad(\"]").data, "{\"bad(\":[\"{}\"]}\n");
}

TEST_F(AnswerTest, AnEmptyBatchWritesAnEmptyDocument) {
  EXPECT_EQ(Send("saveanswer", "[]").flag, 1);
  EXPECT_EQ(ReadWhole(file), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<test/>\n");
  EXPECT_TRUE(Parses());
}

TEST_F(AnswerTest, ItemsCarryCdataAndAttributes) {
  Reply reply = Send("saveanswer",
                     "[{\"key\":\"/test/q3/response[id=3][kind=oral]/answer\",\"value\":\"说\","
                     "\"cdata\":\"a]]>b\",\"attr\":{\"score\":5,\"done\":true,\"by\":\"张\"}}]");
  ASSERT_EQ(reply.flag, 1) << reply.flagMsg;
  EXPECT_TRUE(Parses());
  EXPECT_EQ(Lint("string(//response[@id='3'][@kind='oral']/answer)"), "说a]]>b");
  EXPECT_EQ(Lint("string(//answer/@score)"), "5");
  EXPECT_EQ(Lint("string(//answer/@done)"), "1");
  EXPECT_EQ(Lint("string(//answer/@by)"), "张");
}

TEST_F(AnswerTest, TheCandidatesTextIsStoredExactly) {
  const std::pair<std::string, std::string> cases[] = {
      {"R&D", "R&D"},
      {"x < y & z", "x < y & z"},
      {"&nbsp; & &unknown; &#1; &#; &", "&nbsp; & &unknown; &#1; &#; &"},
      {"a &amp; b &lt;c&gt; &quot;&apos;", "a & b <c> \"'"},
      {"&#20013;&#x6587;", "中文"},
      {"line one\r\nline two\ttab", "line one\r\nline two\ttab"},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string id = std::to_string(++n);
    ASSERT_EQ(Save("/test/t/response[id=" + id + "]/answer", c.first).flag, 1) << c.first;
    EXPECT_TRUE(Parses()) << c.first;
    Json::Value got;
    ASSERT_TRUE(ParseJson(Send("getanswer", "[\"t\"]").data, got));
    EXPECT_EQ(got["t"][n - 1]["answer"].asString(), c.second) << c.first;
  }
  EXPECT_EQ(Lint("string(//response[@id='1']/answer)"), "R&D");
  EXPECT_EQ(Lint("string(//response[@id='2']/answer)"), "x < y & z");
}

TEST_F(AnswerTest, NamesThatAreNotXmlNamesAreRefusedBeforeTheFileIsTouched) {
  ASSERT_EQ(Save("/test/q1/answer", "kept").flag, 1);
  const std::string before = ReadWhole(file);
  const std::string refused[] = {
      "[{\"key\":\"/test/1q/answer\",\"value\":\"x\"}]",
      "[{\"key\":\"/test/a b\",\"value\":\"x\"}]",
      "[{\"key\":\"/test/q<1\",\"value\":\"x\"}]",
      "[{\"key\":\"/test/q1[bad name=1]\",\"value\":\"x\"}]",
      "[{\"key\":\"/test/q1\",\"value\":\"x\",\"attr\":{\"a\\\"b\":\"1\"}}]",
      "[{\"key\":\"/test/q1\",\"value\":\"x\",\"attr\":{\"\":\"1\"}}]",
      "[{\"key\":\"/test/q1[xmlns=urn:x]\",\"value\":\"x\"}]",
      "[{\"key\":\"/test/q1\",\"value\":\"x\",\"attr\":{\"p:q\":\"1\"}}]",
      "[{\"key\":\"/test/ok\",\"value\":\"x\"},{\"key\":\"/test/-bad\",\"value\":\"x\"}]",
      // Characters that no XML document can hold.
      "[{\"key\":\"/test/q1\",\"value\":\"bell\\u0007\"}]",
      "[{\"key\":\"/test/q1\",\"value\":\"x\",\"cdata\":\"\\u001b\"}]",
      "[{\"key\":\"/test/q1\",\"value\":\"x\",\"attr\":{\"a\":\"\\u0001\"}}]",
      // No step at all would replace every saved answer.
      "[{\"key\":\"/\",\"value\":\"x\"}]",
      "[{\"key\":\"\",\"value\":\"x\"}]",
  };
  for (const std::string& params : refused) {
    Reply reply = Send("saveanswer", params);
    EXPECT_EQ(reply.flag, 0) << params;
    EXPECT_EQ(reply.data, "") << params;
    EXPECT_EQ(reply.flagMsg, "保存答案失败") << params;
  }
  EXPECT_EQ(ReadWhole(file), before);
  EXPECT_TRUE(Parses());
}

TEST_F(AnswerTest, SavedProgressIsResumed) {
  ASSERT_EQ(Send("saveanswer",
                 "[{\"key\":\"/test/info/Step\",\"value\":\"3\"},"
                 "{\"key\":\"/test/info/Time\",\"value\":\"12:30\"}]")
                .flag,
            1);
  state.UpdateSession([](SessionState& s) { s.values.clear(); });
  ASSERT_EQ(Send("startexam", "{\"examineeId\":\"E1\",\"paperId\":\"P1\"}").data, "操作成功");
  SessionState s = state.Session();
  EXPECT_EQ(s.values.at("step"), "3");
  EXPECT_EQ(s.values.at("time"), "12:30");
  EXPECT_EQ(s.values.size(), 4u);

  // Another paper of the same candidate begins afresh.
  ASSERT_EQ(Send("startexam", "{\"examineeId\":\"E1\",\"paperId\":\"P2\"}").flag, 1);
  EXPECT_EQ(state.Session().answerFolder, dataDir + "cache/answer/E1/P2/");
}

TEST_F(AnswerTest, AnUnreadableDocumentIsNoProgress) {
  WriteWhole(file, "<test><info><step>3</info>");
  state.UpdateSession([](SessionState& s) { s.values.clear(); });
  Reply reply = Send("startexam", "{\"examineeId\":\"E1\",\"paperId\":\"P1\"}");
  EXPECT_EQ(reply.flag, 0);
  EXPECT_EQ(reply.flagMsg, "获取上次考试进度失败");
  EXPECT_EQ(state.Session().values.count("step"), 0u);
}

TEST_F(AnswerTest, IdentifiersThatLeaveTheAnswerFolderAreRefused) {
  const std::string refused[] = {
      "{\"examineeId\":\"../../..\",\"paperId\":\"P\"}",
      "{\"examineeId\":\"E1\",\"paperId\":\"../../../../outside\"}",
      "{\"examineeId\":\"/tmp\",\"paperId\":\"P\"}",
      "{\"examineeId\":\"E1\",\"paperId\":\"..\\\\..\"}",
  };
  for (const std::string& params : refused) {
    Reply reply = Send("startexam", params);
    EXPECT_EQ(reply.flag, 0) << params;
    EXPECT_EQ(reply.flagMsg, "获取上次考试进度失败") << params;
    EXPECT_EQ(state.Session().answerFolder, folder) << params;
  }
  EXPECT_FALSE(IsExistingDir(dataDir + "outside"));
}

TEST_F(AnswerTest, FileAnswersAreCopiedIntoTheAnswerFolder) {
  const std::string recording = root.path() + "rec/take1.wav";
  WriteWhole(recording, std::string("RIFF\0\0\0\0WAVE", 12));
  Reply reply = Send("saveanswer", "[{\"key\":\"/test/q4/response[id=4]/answer\",\"value\":\"\","
                                   "\"type\":1,\"path\":" + Quote(recording) + "}]");
  ASSERT_EQ(reply.flag, 1) << reply.flagMsg;
  EXPECT_EQ(ReadWhole(folder + "take1.wav"), ReadWhole(recording));
  EXPECT_EQ(Lint("string(//q4/response/answer)"), "take1.wav");
  EXPECT_NE(ReadWhole(file).find("<![CDATA[take1.wav]]>"), std::string::npos);

  // A file already in the answer folder stays whole when it is saved again.
  reply = Send("saveanswer", "[{\"key\":\"/test/q4/response[id=4]/answer\",\"type\":1,\"path\":" +
                                 Quote(folder + "take1.wav") + "}]");
  EXPECT_EQ(reply.flag, 1);
  EXPECT_EQ(ReadWhole(folder + "take1.wav"), ReadWhole(recording));
}

TEST_F(AnswerTest, AMissingAnswerFileDiscardsTheBatch) {
  ASSERT_EQ(Save("/test/q1/answer", "kept").flag, 1);
  const std::string before = ReadWhole(file);
  Reply reply = Send("saveanswer",
                     "[{\"key\":\"/test/q2/answer\",\"value\":\"lost\"},"
                     "{\"key\":\"/test/q3/answer\",\"type\":1,\"path\":\"" + root.path() +
                         "nothing.wav\"}]");
  EXPECT_EQ(reply.flag, 0);
  EXPECT_EQ(reply.flagMsg, "文件不存在，保存答案失败");
  EXPECT_EQ(ReadWhole(file), before);
  // A file named like the document itself never replaces it.
  WriteWhole(root.path() + "other/answer.xml", "<test/>");
  reply = Send("saveanswer", "[{\"key\":\"/test/q3/answer\",\"type\":1,\"path\":\"" + root.path() +
                                 "other/answer.xml\"}]");
  EXPECT_EQ(reply.flagMsg, "保存答案失败");
  EXPECT_EQ(ReadWhole(file), before);
}

TEST_F(AnswerTest, NoTemporaryFileIsLeftBehind) {
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Save("/test/q" + std::to_string(i), "x").flag, 1);
  std::vector<std::string> names;
  for (boost::filesystem::directory_iterator it(folder), end; it != end; ++it)
    names.push_back(it->path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"answer.xml"});
}

TEST_F(AnswerTest, AFolderThatCannotBeWrittenFailsTheSave) {
  state.UpdateSession([&](SessionState& s) { s.answerFolder = root.path() + "no/such/folder/"; });
  Reply reply = Save("/test/q1", "x");
  EXPECT_EQ(reply.flag, 0);
  EXPECT_EQ(reply.flagMsg, "保存答案失败");
}

TEST_F(AnswerTest, ParamsOfTheWrongShape) {
  EXPECT_EQ(Send("saveanswer", "{\"key\":\"/test/q1\"}").flagMsg,
            "in Json::Value::operator[](ArrayIndex): requires arrayValue");
  EXPECT_EQ(Send("saveanswer", "[{\"key\":\"/test/q1\",\"attr\":\"x\"}]").flagMsg,
            "in Json::Value::getMemberNames(), value must be objectValue");
  EXPECT_EQ(Send("saveanswer", "{}").flag, 1);  // an empty list
  EXPECT_EQ(Send("getanswer", "[oops").flagMsg, "解析json串参数失败");
  EXPECT_EQ(Send("startexam", "{\"examineeId\":{}}").flagMsg, "Type is not convertible to string");
}

TEST_F(AnswerTest, ConcurrentSavesKeepEveryItem) {
  constexpr int kThreads = 16, kEach = 25;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([t] {
      for (int i = 0; i < kEach; ++i) {
        std::string id = std::to_string(t * kEach + i);
        std::string params = "[{\"key\":\"/test/q" + id + "/response[id=" + id +
                             "]/answer\",\"value\":\"answer " + id + "\"}]";
        EXPECT_EQ(ReadReply(Dispatch("saveanswer", params)).flag, 1);
        if (i % 5 == 0) {
          EXPECT_EQ(ReadReply(Dispatch("getanswer", "[\"q0\"]")).flag, 1);
        }
      }
    });
  }
  for (std::thread& w : workers) w.join();
  EXPECT_TRUE(Parses());
  EXPECT_EQ(Lint("count(//response)"), std::to_string(kThreads * kEach));
  std::string ids = "[";
  for (int i = 0; i < kThreads * kEach; ++i) ids += (i ? ",\"q" : "\"q") + std::to_string(i) + "\"";
  Json::Value got;
  ASSERT_TRUE(ParseJson(Send("getanswer", ids + "]").data, got));
  for (int i = 0; i < kThreads * kEach; ++i) {
    std::string q = "q" + std::to_string(i);
    EXPECT_EQ(got[q][0]["answer"].asString(), "answer " + std::to_string(i)) << q;
  }
}

}  // namespace

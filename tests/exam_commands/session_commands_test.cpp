#include <algorithm>
#include <cctype>
#include <thread>
#include <vector>

#include "shell/core/profile.h"
#include "exam_commands/session_folder.h"
#include "exam_commands/session_record.h"
#include "tests/exam_commands/session_test_util.h"
#include "tests/support/unremovable_tree.h"

namespace {

bool IsGuidText(const std::string& text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

class SessionTest : public ExamSessionFixture {
 protected:
  void SetUp() override {
    ExamSessionFixture::SetUp();
    state.moduleDir = root.path() + "module/";
    startPage = state.moduleDir + "apps/demo/index.html";
    WriteWhole(startPage, "<html></html>");
  }
  void SetCommandLine(const std::string& line) {
    state.UpdateSession([&](SessionState& s) { s.commandLine = line; });
  }
  // The record is written off the command's thread; what counts is that it gets there.
  std::string HashCacheSession() {
    WaitForSessionRecords();
    return ReadProfileString(dataDir + "hash.cache", "cache", "session", "", 1024);
  }

  std::string startPage;
};

TEST_F(SessionTest, ThePageReadsTheNewSessionFromHashCacheRightAfterRunApp) {
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(Send("runapp", "{\"key\":\"demo\"}").flag, 1);
    Reply read = Send("readkey", "{\"key\":\"session\",\"type\":0}");
    EXPECT_EQ(read.flag, 1);
    EXPECT_EQ(read.data, state.Session().values.at("session"));
  }
}

TEST_F(SessionTest, RunAppBeginsASessionAndOpensTheStartPage) {
  Reply reply = Send("runapp", "{\"key\":\"demo\"}");
  EXPECT_EQ(reply.flag, 1);
  EXPECT_EQ(reply.data, "操作成功");
  EXPECT_EQ(reply.flagMsg, "");

  SessionState s = state.Session();
  ASSERT_EQ(s.values.size(), 1u);
  const std::string guid = s.values.at("session");
  EXPECT_TRUE(IsGuidText(guid)) << guid;
  EXPECT_EQ(HashCacheSession(), guid);
  EXPECT_EQ(s.tempFolder, systemTemp + guid + "/");
  EXPECT_TRUE(IsExistingDir(s.tempFolder));
  EXPECT_EQ(s.cacheFolder, dataDir + "apps/demo/cache/");
  EXPECT_TRUE(IsExistingDir(s.cacheFolder));
  EXPECT_EQ(window.Calls(), std::vector<std::string>{"Navigate(" + startPage + ")"});

  // Both stores answer with the same session.
  EXPECT_EQ(Send("readkey", "{\"key\":\"session\",\"type\":2}").data, guid);
  EXPECT_EQ(Send("readkey", "{\"key\":\"session\",\"type\":0}").data, guid);
}

TEST_F(SessionTest, StartPageNames) {
  WriteWhole(state.moduleDir + "apps/demo/start.html", "<html></html>");
  EXPECT_EQ(Send("runapp", "{\"key\":\"demo\",\"index\":\"\"}").flag, 1);
  EXPECT_EQ(Send("runapp", "{\"key\":\"demo\",\"index\":\"start.html\"}").flag, 1);
  EXPECT_EQ(window.Calls(), (std::vector<std::string>{"Navigate(" + startPage + ")",
                                                       "Navigate(" + state.moduleDir +
                                                           "apps/demo/start.html)"}));
}

TEST_F(SessionTest, MissingStartPageTouchesNothing) {
  SessionState before = state.Session();
  Reply reply = Send("runapp", "{\"key\":\"absent\"}");
  EXPECT_EQ(reply.flag, 0);
  EXPECT_EQ(reply.data, "");
  EXPECT_EQ(reply.flagMsg, "首页不存在");
  EXPECT_EQ(window.Calls(), std::vector<std::string>{"Navigate(about:blank)"});
  SessionState after = state.Session();
  EXPECT_EQ(after.values, before.values);
  EXPECT_EQ(after.tempFolder, before.tempFolder);
  EXPECT_EQ(after.cacheFolder, before.cacheFolder);
  EXPECT_FALSE(IsExistingFile(dataDir + "hash.cache"));
  EXPECT_FALSE(IsExistingDir(dataDir + "apps/absent"));
}

TEST_F(SessionTest, NamesThatLeaveTheAppsFolderAreRefused) {
  // Real pages outside the apps folder that the names would reach.
  WriteWhole(state.moduleDir + "outside/index.html", "<html></html>");
  WriteWhole(state.moduleDir + "secret.html", "<html></html>");
  const char* refused[] = {
      "{\"key\":\"../outside\"}",
      "{\"key\":\"demo\",\"index\":\"../../secret.html\"}",
      "{\"key\":\"demo\",\"index\":\"..\\\\..\\\\secret.html\"}",
      "{\"key\":\"/etc\",\"index\":\"hostname\"}",
      "{\"key\":\"demo/../../outside\"}",
  };
  for (const char* params : refused) {
    Reply reply = Send("runapp", params);
    EXPECT_EQ(reply.flag, 0) << params;
    EXPECT_EQ(reply.flagMsg, "首页不存在") << params;
  }
  for (const std::string& call : window.Calls()) EXPECT_EQ(call, "Navigate(about:blank)");
  EXPECT_TRUE(state.Session().values.empty());
  EXPECT_FALSE(IsExistingDir(dataDir + "outside"));
}

TEST_F(SessionTest, StartParametersFromTheCommandLine) {
  SetCommandLine(
      "\"123\" \"{\\\"Name\\\":\\\"张三\\\",\\\"Seat\\\":\\\"A-01\\\",\\\"Session\\\":\\\"x\\\","
      "\\\"Count\\\":3}\" \"{\\\"third\\\":1}\"");
  ASSERT_EQ(Send("runapp", "{\"key\":\"demo\"}").flag, 1);
  SessionState s = state.Session();
  EXPECT_EQ(s.launcherWindow, 123u);
  EXPECT_EQ(s.values.at("name"), "张三");
  EXPECT_EQ(s.values.at("seat"), "A-01");
  EXPECT_EQ(s.values.at("count"), "3");
  // The launcher's values come after the session's own and replace them.
  EXPECT_EQ(s.values.at("session"), "x");
  EXPECT_EQ(s.values.count("third"), 0u);
  EXPECT_EQ(s.values.size(), 4u);
  EXPECT_EQ(window.Calls(), (std::vector<std::string>{"NotifyLauncherClosed(123)",
                                                       "Navigate(" + startPage + ")"}));
}

TEST_F(SessionTest, CommandLinesWithFewerTokens) {
  SetCommandLine("\"77\"");
  ASSERT_EQ(Send("runapp", "{\"key\":\"demo\"}").flag, 1);
  EXPECT_EQ(state.Session().launcherWindow, 77u);
  EXPECT_EQ(state.Session().values.size(), 1u);

  SetCommandLine("--no quotes here");
  ASSERT_EQ(Send("runapp", "{\"key\":\"demo\"}").flag, 1);
  EXPECT_EQ(state.Session().values.size(), 1u);

  SetCommandLine("\"0\" \"null\"");
  ASSERT_EQ(Send("runapp", "{\"key\":\"demo\"}").flag, 1);
  SetCommandLine("\"window\"");
  ASSERT_EQ(Send("runapp", "{\"key\":\"demo\"}").flag, 1);
  EXPECT_EQ(state.Session().launcherWindow, 0u);

  std::vector<std::string> calls = window.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "NotifyLauncherClosed(77)"), 1);
  EXPECT_EQ(calls.size(), 5u);  // one notice and four navigations
}

TEST_F(SessionTest, ParamsOfRunApp) {
  EXPECT_EQ(Send("runapp", "").flagMsg, "启动参数为空");
  EXPECT_EQ(Send("runapp", "not json").flagMsg, "解析json串参数失败");
  EXPECT_EQ(Send("runapp", "{\"key\":[\"demo\"]}").flagMsg, "Type is not convertible to string");
  EXPECT_TRUE(window.Calls().empty());
}

TEST_F(SessionTest, RunAppTwiceBeginsASecondSession) {
  ASSERT_EQ(Send("runapp", "{\"key\":\"demo\"}").flag, 1);
  SessionState first = state.Session();
  ASSERT_EQ(Send("runapp", "{\"key\":\"demo\"}").flag, 1);
  SessionState second = state.Session();
  EXPECT_NE(first.values.at("session"), second.values.at("session"));
  EXPECT_EQ(HashCacheSession(), second.values.at("session"));
  EXPECT_TRUE(IsExistingDir(first.tempFolder));
  EXPECT_TRUE(IsExistingDir(second.tempFolder));
  // Both stay held while the run lives: no other client's start may take either.
  std::string error;
  for (const std::string& folder : {first.tempFolder, second.tempFolder}) {
    EXPECT_TRUE(IsMarkedSessionFolder(folder)) << folder;
    EXPECT_EQ(RemoveUnheldSessionFolder(folder, error), SessionFolderRemoval::kLeftAlone);
    EXPECT_TRUE(IsExistingDir(folder));
  }
}

TEST_F(SessionTest, StopAppEndsTheSession) {
  ASSERT_EQ(Send("runapp", "{\"key\":\"demo\"}").flag, 1);
  SessionState running = state.Session();
  WriteWhole(running.tempFolder + "unpacked/page.html", "x");
  Reply reply = Send("stopapp", "anything");
  EXPECT_EQ(reply.flag, 1);
  EXPECT_EQ(reply.data, "操作成功");
  SessionState stopped = state.Session();
  EXPECT_TRUE(stopped.values.empty());
  EXPECT_EQ(stopped.answerFolder, running.cacheFolder + "answer/");
  EXPECT_FALSE(IsExistingDir(running.tempFolder));
  EXPECT_EQ(stopped.tempFolder, running.tempFolder);
  EXPECT_TRUE(IsExistingDir(running.cacheFolder));
  EXPECT_EQ(HashCacheSession(), running.values.at("session"));
  // Ending it again is no error.
  EXPECT_EQ(Send("stopapp", "").flag, 1);
}

TEST_F(SessionTest, StopAppThatCannotRemoveTheFolderSaysWhy) {
  ASSERT_EQ(Send("runapp", "{\"key\":\"demo\"}").flag, 1);
  SessionState running = state.Session();
  MakeTooDeepTree(running.tempFolder);
  Reply reply = Send("stopapp", "");
  EXPECT_EQ(reply.flag, 0);
  EXPECT_EQ(reply.data, "");
  EXPECT_EQ(reply.flagMsg.rfind("boost::filesystem::remove_all: File name too long", 0), 0u)
      << reply.flagMsg;
  // The session has ended all the same.
  EXPECT_TRUE(state.Session().values.empty());
  EXPECT_EQ(std::system(("rm -rf " + running.tempFolder).c_str()), 0);
}

TEST_F(SessionTest, TheEmptyKeyOpensTheAppsFolderItself) {
  WriteWhole(state.moduleDir + "apps/index.html", "<html></html>");
  ASSERT_EQ(Send("runapp", "{\"index\":\"index.html\"}").flag, 1);
  EXPECT_EQ(Send("runapp", "{\"key\":\"\"}").flag, 1);
  EXPECT_EQ(window.Calls(), (std::vector<std::string>{"Navigate(" + state.moduleDir +
                                                           "apps//index.html)",
                                                       "Navigate(" + state.moduleDir +
                                                           "apps//index.html)"}));
  EXPECT_EQ(state.Session().cacheFolder, dataDir + "apps//cache/");
}

TEST_F(SessionTest, RecordingsQueuedForEvaluationEndWithTheirSession) {
  auto queue = [&](const std::string& identity) {
    EvalItem item;
    item.identity = identity;
    std::lock_guard<std::mutex> lock(state.evalQueueLock);
    state.evalQueue.push_back(item);
  };
  auto queued = [&] {
    std::lock_guard<std::mutex> lock(state.evalQueueLock);
    return state.evalQueue.size();
  };
  queue("a");
  queue("b");
  // A start page that does not exist begins no session and keeps the queue.
  EXPECT_EQ(Send("runapp", "{\"key\":\"missing\"}").flag, 0);
  EXPECT_EQ(queued(), 2u);
  ASSERT_EQ(Send("runapp", "{\"key\":\"demo\"}").flag, 1);
  EXPECT_EQ(queued(), 0u);
  queue("c");
  ASSERT_EQ(Send("stopapp", "").flag, 1);
  EXPECT_EQ(queued(), 0u);
}

TEST_F(SessionTest, StopAppBeforeAnySessionKeepsTheSystemTemporaryFolder) {
  // Before the first session the folder text is the system's temporary folder itself.
  state.UpdateSession([&](SessionState& s) { s.tempFolder = systemTemp; });
  WriteWhole(systemTemp + "someone-elses-file", "keep me");
  Reply reply = Send("stopapp", "");
  EXPECT_EQ(reply.flag, 1);
  EXPECT_EQ(reply.data, "操作成功");
  EXPECT_EQ(ReadWhole(systemTemp + "someone-elses-file"), "keep me");
}

TEST_F(SessionTest, SessionStateSurvivesManyWorkersAtOnce) {
  std::vector<std::thread> workers;
  for (int t = 0; t < 2; ++t) {
    workers.emplace_back([] {
      for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(ReadReply(Dispatch("runapp", "{\"key\":\"demo\"}")).flag, 1);
        EXPECT_EQ(ReadReply(Dispatch("stopapp", "")).flag, 1);
      }
    });
  }
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([t] {
      for (int i = 0; i < 100; ++i) {
        std::string key = "w" + std::to_string(t) + "_" + std::to_string(i);
        EXPECT_EQ(ReadReply(Dispatch("setkey", "{\"key\":\"" + key +
                                                   "\",\"value\":\"v\",\"type\":2}"))
                      .flag,
                  1);
        Dispatch("readkey", "{\"key\":\"" + key + "\",\"type\":2}");
        EXPECT_EQ(ReadReply(Dispatch("setkey", "{\"key\":\"url\",\"value\":\"http://127.0.0.1/" +
                                                   key + "\",\"type\":1}"))
                      .flag,
                  1);
        std::string url = ReadReply(Dispatch("readkey", "{\"key\":\"url\",\"type\":1}")).data;
        EXPECT_EQ(url.compare(0, 17, "http://127.0.0.1/"), 0) << url;
        EXPECT_EQ(url.back(), '/');
      }
    });
  }
  for (std::thread& w : workers) w.join();
  EXPECT_EQ(Send("stopapp", "").flag, 1);
  EXPECT_TRUE(state.Session().values.empty());
}

class SessionLogTest : public SessionTest {
 protected:
  SessionLogTest() { withLog = true; }
};

TEST_F(SessionLogTest, BadStartParametersKeepTheSessionAndSayWhy) {
  SetCommandLine("\"5\" \"{not json}\"");
  Reply reply = Send("runapp", "{\"key\":\"demo\"}");
  EXPECT_EQ(reply.flag, 0);
  EXPECT_EQ(reply.flagMsg, "命令行的启动参数格式不正确");
  EXPECT_TRUE(IsGuidText(state.Session().values.at("session")));
  EXPECT_EQ(window.Calls(), std::vector<std::string>{"NotifyLauncherClosed(5)"});
  std::string log = LogText();
  EXPECT_NE(log.find("[run app]: 命令行启动参数:\"5\" \"{not json}\""), std::string::npos) << log;
  EXPECT_NE(log.find("[run app]: 命令行的启动参数格式不正确：{not json}"), std::string::npos) << log;

  SetCommandLine("\"5\" \"[1,2]\"");
  EXPECT_EQ(Send("runapp", "{\"key\":\"demo\"}").flagMsg,
            "in Json::Value::getMemberNames(), value must be objectValue");
}

}  // namespace

namespace {

TEST_F(SessionTest, WithoutTmpdirSessionsLiveInTheUsersPrivateFolder) {
  unsetenv("TMPDIR");
  Reply reply = Send("runapp", "{\"key\":\"demo\"}");
  ASSERT_EQ(reply.flag, 1);
  std::string folder = state.Session().tempFolder;
  std::string own = "/tmp/quellwick-" + std::to_string(getuid()) + "/";
  EXPECT_EQ(folder.compare(0, own.size(), own), 0) << folder;
  EXPECT_TRUE(IsExistingDir(folder));
  // Ending the session removes the folder from there again.
  EXPECT_EQ(Send("stopapp", "").flag, 1);
  EXPECT_FALSE(IsExistingDir(folder));
}

}  // namespace

// The evaluate and test commands and the evaluator through the real transport, with a stand-in
// engine process started from the engine folder as the client would start the real one.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/evaluation_commands.h"
#include "audio/evaluator.h"
#include "shell/core/helpers.h"
#include "tests/support/test_support.h"

namespace {

using namespace std::chrono_literals;

// Engine processes that are children of this test, zombies included.
int EngineChildren() {
  int count = 0;
  DIR* proc = opendir("/proc");
  while (dirent* entry = readdir(proc)) {
    if (std::string(entry->d_name).find_first_not_of("0123456789") != std::string::npos) continue;
    // A process of another test may end meanwhile: its file then reads as empty.
    std::string text = ReadWholeFile(std::string("/proc/") + entry->d_name + "/stat");
    std::size_t close = text.rfind(')');
    if (close == std::string::npos || text.find("(mirvane.exe)") == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 2));
    std::string state;
    long ppid = 0;
    rest >> state >> ppid;
    if (ppid == getpid()) ++count;
  }
  closedir(proc);
  return count;
}

class EvaluationTest : public StateFixture {
 protected:
  EvaluationTest() { withLog = true; }

  void SetUp() override {
    StateFixture::SetUp();
    RegisterEvaluationCommands();
    std::string runtime = root.path() + "run";
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    engineLog = root.path() + "engine.log";
    setenv("FAKE_ENGINE_LOG", engineLog.c_str(), 1);
    unsetenv("FAKE_ENGINE_NO_HANDSHAKE");
    state.moduleDir = root.path() + "module/";
    ASSERT_EQ(MakeDirs(state.moduleDir + "eval/", false, true), 0);
    ASSERT_EQ(symlink(FAKE_ENGINE, (state.moduleDir + "eval/mirvane.exe").c_str()), 0);
    evaluator = std::make_unique<CEvaluator>(state.moduleDir + "eval/", false);
    evaluator->SetWaits(10s, 10s);
    state.evaluator = evaluator.get();
  }

  void TearDown() override {
    StateFixture::TearDown();
    state.evaluator = nullptr;
    evaluator.reset();
    EXPECT_EQ(EngineChildren(), 0);
  }

  void Queue(const std::string& identity, const std::string& how) {
    EvalItem item;
    item.identity = identity;
    item.snd_file = root.path() + identity + ".wav";
    item.category = "read_aloud";
    item.eval_params = how;
    std::lock_guard<std::mutex> lock(state.evalQueueLock);
    state.evalQueue.push_back(item);
  }

  // The engine's log: one line "pid request" per request it received.
  std::vector<std::string> EngineRequests() const {
    std::ifstream in(engineLog);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::string engineLog;
  std::unique_ptr<CEvaluator> evaluator;
};

TEST_F(EvaluationTest, EmptyQueueAnswersAnEmptyObjectAndLeavesNoEngine) {
  EXPECT_EQ(Dispatch("evaluate", ""), "{\"data\":\"{}\",\"flag\":1,\"flagMsg\":\"\"}");
  EXPECT_EQ(EngineChildren(), 0);
  EXPECT_TRUE(EngineRequests().empty());
}

TEST_F(EvaluationTest, ResultsInQueueOrderEachFromAFreshEngine) {
  Queue("a", "code:0");
  Queue("b", "code:5");
  EXPECT_EQ(Dispatch("evaluate", "anything"),
            "{\"data\":\"[{\\\"code\\\":0,\\\"identity\\\":\\\"a\\\"},"
            "{\\\"code\\\":5,\\\"identity\\\":\\\"b\\\"}]\",\"flag\":1,\"flagMsg\":\"\"}");
  std::vector<std::string> requests = EngineRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].substr(0, requests[0].find(' ')),
            requests[1].substr(0, requests[1].find(' ')));
  EvalItem first;
  {
    std::lock_guard<std::mutex> lock(state.evalQueueLock);
    first = state.evalQueue[0];
    EXPECT_EQ(state.evalQueue.size(), 2u);  // items stay queued
  }
  EXPECT_EQ(requests[0].substr(requests[0].find(' ') + 1), first.toJson());
  EXPECT_EQ(EngineChildren(), 0);
  EXPECT_NE(LogText().find("开始客户端评测过程: " + first.toJson()), std::string::npos);
}

TEST_F(EvaluationTest, MissingResultsGiveTheNoResultCode) {
  evaluator->SetWaits(600ms, 10s);
  Queue("a", "other");
  Queue("b", "mute");
  Queue("c", "exit");
  Queue("d", "code:2");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Dispatch("evaluate", ""),
            "{\"data\":\"[{\\\"code\\\":39321,\\\"identity\\\":\\\"a\\\"},"
            "{\\\"code\\\":39321,\\\"identity\\\":\\\"b\\\"},"
            "{\\\"code\\\":39321,\\\"identity\\\":\\\"c\\\"},"
            "{\\\"code\\\":2,\\\"identity\\\":\\\"d\\\"}]\",\"flag\":1,\"flagMsg\":\"\"}");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
  std::string log = LogText();
  std::size_t first = log.find("评测超时异常退出");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(log.find("评测超时异常退出", first + 1), std::string::npos);  // only the mute one
}

TEST_F(EvaluationTest, ResultThatIsNoJsonFailsTheCommandAndReleasesTheEvaluator) {
  Queue("a", "notjson");
  Queue("b", "code:0");
  EXPECT_EQ(Dispatch("evaluate", ""),
            "{\"data\":\"\",\"flag\":0,\"flagMsg\":\"评测过程出现异常\"}");
  EXPECT_EQ(EngineChildren(), 0);
  EXPECT_EQ(EngineRequests().size(), 1u);
  // The next evaluation is not locked out.
  {
    std::lock_guard<std::mutex> lock(state.evalQueueLock);
    state.evalQueue.erase(state.evalQueue.begin());
  }
  EXPECT_EQ(Dispatch("evaluate", ""),
            "{\"data\":\"[{\\\"code\\\":0,\\\"identity\\\":\\\"b\\\"}]\",\"flag\":1,\"flagMsg\":\"\"}");
}

TEST_F(EvaluationTest, StopEndsTheWalkAfterTheItemUnderWay) {
  Queue("a", "slow:1500");
  Queue("b", "code:0");
  Queue("c", "code:0");
  std::string reply;
  std::thread worker([&] { reply = Dispatch("evaluate", "", "0"); });
  // Stop the command once the engine has the first request.
  for (int i = 0; i < 200 && EngineRequests().empty(); ++i) std::this_thread::sleep_for(20ms);
  {
    std::lock_guard<std::recursive_mutex> lock(state.bridgeLock);
    ASSERT_EQ(state.runningCommands.size(), 1u);
    state.runningCommands.begin()->second->stop();
  }
  worker.join();
  EXPECT_EQ(reply,
            "{\"data\":\"[{\\\"code\\\":0,\\\"identity\\\":\\\"a\\\"}]\",\"flag\":1,\"flagMsg\":\"\"}");
  EXPECT_EQ(EngineRequests().size(), 1u);
  EXPECT_EQ(EngineChildren(), 0);
}

TEST_F(EvaluationTest, WithoutAnEngineEveryItemAnswersAtOnce) {
  unlink((state.moduleDir + "eval/mirvane.exe").c_str());
  Queue("a", "code:0");
  Queue("b", "code:0");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Dispatch("evaluate", ""),
            "{\"data\":\"[{\\\"code\\\":39321,\\\"identity\\\":\\\"a\\\"},"
            "{\\\"code\\\":39321,\\\"identity\\\":\\\"b\\\"}]\",\"flag\":1,\"flagMsg\":\"\"}");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(EvaluationTest, AnEngineThatNeverShakesHandsIsGivenUp) {
  setenv("FAKE_ENGINE_NO_HANDSHAKE", "1", 1);
  evaluator->SetWaits(10s, 700ms);
  Queue("a", "code:0");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Dispatch("evaluate", ""),
            "{\"data\":\"[{\\\"code\\\":39321,\\\"identity\\\":\\\"a\\\"}]\",\"flag\":1,"
            "\"flagMsg\":\"\"}");
  // Two handshakes of at most 0.7 s each (before the walk and after the item); the item itself
  // is not sent to an engine that never answered.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_TRUE(EngineRequests().empty());
}

TEST_F(EvaluationTest, DeletingTheEvaluatorEndsItsEngine) {
  ASSERT_TRUE(evaluator->EnsureStarted());
  EXPECT_EQ(EngineChildren(), 1);
  state.evaluator = nullptr;
  evaluator.reset();
  EXPECT_EQ(EngineChildren(), 0);
}

TEST_F(EvaluationTest, KillEngineReportsWhetherOneRan) {
  EXPECT_EQ(evaluator->KillEngine(), 0);
  ASSERT_TRUE(evaluator->StartEngine());
  EXPECT_EQ(evaluator->KillEngine(), 1);
  EXPECT_EQ(EngineChildren(), 0);
  EXPECT_NE(LogText().find("kernel已经在进程中！关闭kernel进程"), std::string::npos);
}

TEST_F(EvaluationTest, TestScoresTheShippedSampleAndStopsTheEngine) {
  EXPECT_EQ(Dispatch("test", ""), "{\"data\":\"0\",\"flag\":1,\"flagMsg\":\"\"}");
  std::vector<std::string> requests = EngineRequests();
  ASSERT_EQ(requests.size(), 1u);
  std::string folder = state.moduleDir + "eval/test/";
  EXPECT_NE(requests[0].find("\"identity\":\"111\""), std::string::npos);
  EXPECT_NE(requests[0].find("\"category\":\"simple_expression\""), std::string::npos);
  EXPECT_NE(requests[0].find("\"snd_file\":\"" + folder + "test.wav\""), std::string::npos);
  EXPECT_EQ(EngineChildren(), 0);
}

TEST_F(EvaluationTest, WithoutAnEvaluatorEvaluateFails) {
  state.evaluator = nullptr;
  EXPECT_EQ(Dispatch("evaluate", ""),
            "{\"data\":\"\",\"flag\":0,\"flagMsg\":\"评测过程出现异常\"}");
}

}  // namespace

namespace {

// The real engine beside the client, with the sample it ships.
class RealEngineTest : public StateFixture {
 protected:
  void SetUp() override {
    StateFixture::SetUp();
    RegisterEvaluationCommands();
    std::string runtime = root.path() + "run";
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    evaluator = std::make_unique<CEvaluator>(state.moduleDir + "eval/", false);
    state.evaluator = evaluator.get();
  }
  void TearDown() override {
    StateFixture::TearDown();
    state.evaluator = nullptr;
    evaluator.reset();
    EXPECT_EQ(EngineChildren(), 0);
  }
  std::unique_ptr<CEvaluator> evaluator;
};

TEST_F(RealEngineTest, TestScoresTheShippedSample) {
  std::string dist = state.moduleDir + "eval/test/dist.json";
  unlink(dist.c_str());
  EXPECT_EQ(Dispatch("test", ""), "{\"data\":\"0\",\"flag\":1,\"flagMsg\":\"\"}");
  std::ifstream in(dist);
  Json::Value result;
  ASSERT_TRUE(ParseJson(std::string(std::istreambuf_iterator<char>(in), {}), result));
  EXPECT_EQ(result["identity"].asString(), "111");
  EXPECT_GE(result["score"].asInt(), 70) << result;
}

}  // namespace

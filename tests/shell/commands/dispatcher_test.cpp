#include "shell/commands/dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "tests/support/test_support.h"

namespace {

// What the test commands did, in order, across threads.
std::mutex g_eventsMutex;
std::vector<std::string> g_events;
std::atomic<int> g_serial{0};

void Event(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_eventsMutex);
  g_events.push_back(text);
}

std::vector<std::string> Events() {
  std::lock_guard<std::mutex> lock(g_eventsMutex);
  return g_events;
}

template <typename Predicate>
bool WaitFor(Predicate done) {
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

// Replies with its "text" parameter at once.
class EchoCommand : public Command {
 public:
  explicit EchoCommand(const CommandRequest& r) : Command("Echo", r) {
    Json::Value v;
    if (ParseParams(r, v)) text = v["text"].asString();
  }
  void execute(std::string& reply) override {
    BuildCallbackJson(1, text, "", reply);
    running = false;
  }
  void stop() override { running = false; }
  std::string text;
};

// Works until stopped, then returns; reports its life as events.
class BlockingCommand : public Command {
 public:
  explicit BlockingCommand(const CommandRequest& r) : Command("Blocking", r), n(++g_serial) {
    Event("construct:" + std::to_string(n));
  }
  ~BlockingCommand() override { Event("delete:" + std::to_string(n)); }
  void execute(std::string& reply) override {
    Event("execute:" + std::to_string(n));
    while (!stopRequested) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    BuildCallbackJson(1, "stopped", "", reply);
  }
  void stop() override {
    Event("stop:" + std::to_string(n));
    stopRequested = true;
    running = false;
  }
  const int n;
};

// Returns at once but keeps working until stopped, as playback does.
class LingeringCommand : public Command {
 public:
  explicit LingeringCommand(const CommandRequest& r) : Command("Lingering", r) {}
  bool RunsOnAfterExecute() const override { return true; }
  void execute(std::string& reply) override { BuildCallbackJson(1, "started", "", reply); }
  void stop() override { running = false; }
};

// Refuses in execute after it was stopped by a later exclusive dispatch.
class RefusingCommand : public Command {
 public:
  explicit RefusingCommand(const CommandRequest& r) : Command("Refusing", r) {}
  void execute(std::string&) override {
    Event("refusing:executing");
    while (!stopRequested) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    throw CmdException("命令行格式错误");
  }
  void stop() override {
    stopRequested = true;
    running = false;
  }
};

class FailingCommand : public Command {
 public:
  explicit FailingCommand(const CommandRequest& r) : Command("Failing", r) {}
  void execute(std::string&) override {
    running = false;
    if (params_ == "cmd") throw CmdException("failed here");
    if (params_ == "std") throw std::runtime_error("Post参数解析失败");
    throw 42;
  }
  void stop() override { running = false; }
  std::string params_;
};

std::unique_ptr<Command> MakeFailing(const CommandRequest& r) {
  auto c = std::make_unique<FailingCommand>(r);
  c->params_ = r.params;
  return c;
}

class DispatcherTest : public StateFixture {
 protected:
  DispatcherTest() { withLog = true; }
  void SetUp() override {
    StateFixture::SetUp();
    CommandFactory::Register("play", &MakeCommand<EchoCommand>);
    CommandFactory::Register("record", &MakeCommand<BlockingCommand>);
    CommandFactory::Register("stopplay", &MakeCommand<LingeringCommand>);
    CommandFactory::Register("runapp", &MakeCommand<RefusingCommand>);
    CommandFactory::Register("postrequest", &MakeFailing);
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    g_events.clear();
  }
  std::size_t Running() {
    std::lock_guard<std::recursive_mutex> lock(state.bridgeLock);
    return state.runningCommands.size();
  }
};

const char kUnknown[] = "{\"data\":\"\",\"flag\":0,\"flagMsg\":\"未知的命令类型\"}";
const char kCatchAll[] = "{\"data\":\"\",\"flag\":0,\"flagMsg\":\"响应消息命令时出现异常\"}";

}  // namespace

TEST_F(DispatcherTest, WordsMatchWholeAndWithoutCase) {
  EXPECT_EQ(Dispatch("PlAy", "{\"text\":\"答\"}"), "{\"data\":\"答\",\"flag\":1,\"flagMsg\":\"\"}");
  EXPECT_EQ(Dispatch("play ", ""), kUnknown);
  EXPECT_EQ(Dispatch("pla", ""), kUnknown);
  EXPECT_EQ(Dispatch("getconfig", ""), kUnknown);  // a word with no class linked in
  EXPECT_EQ(Dispatch("", ""), kUnknown);
  EXPECT_EQ(Running(), 0u);  // the echo was swept; refused words left nothing behind
}

TEST_F(DispatcherTest, ModesAreReadLikeAtoi) {
  EXPECT_EQ(Dispatch("play", "", ""), "{\"data\":\"\",\"flag\":1,\"flagMsg\":\"\"}");
  EXPECT_EQ(Dispatch("play", "", " +0x"), "{\"data\":\"\",\"flag\":1,\"flagMsg\":\"\"}");
  EXPECT_EQ(Dispatch("play", "", "1abc"), "{\"data\":\"\",\"flag\":1,\"flagMsg\":\"\"}");
  {
    std::lock_guard<std::recursive_mutex> lock(state.bridgeLock);
    ASSERT_NE(state.exclusiveCommand, nullptr);
  }
  EXPECT_EQ(Dispatch("play", "", "2"), kCatchAll);
  EXPECT_EQ(Dispatch("play", "", "-1"), kCatchAll);
}

TEST_F(DispatcherTest, SweepDeletesOnlyIdleConcurrentCommands) {
  Dispatch("stopplay", "");  // still running after execute returned
  Dispatch("play", "");
  EXPECT_EQ(Running(), 2u);
  Dispatch("play", "", "1");  // sweeps the idle echo; the lingering command stays
  EXPECT_EQ(Running(), 1u);
  Dispatch("stopplay", "");  // a finished exclusive command is never swept
  EXPECT_EQ(Running(), 2u);
  {
    std::lock_guard<std::recursive_mutex> lock(state.bridgeLock);
    EXPECT_NE(state.exclusiveCommand, nullptr);
  }
}

TEST_F(DispatcherTest, ExclusiveReplacementStopsWaitsDeletesThenConstructs) {
  std::thread first([] { Dispatch("record", "", "1"); });
  ASSERT_TRUE(WaitFor([] { return Events().size() >= 2; }));  // constructed and executing
  std::string second_reply;
  std::thread second([&] { second_reply = Dispatch("record", "", "1"); });
  ASSERT_TRUE(WaitFor([] { return Events().size() >= 6; }));
  first.join();
  EXPECT_EQ(Events(), (std::vector<std::string>{"construct:" + std::to_string(g_serial - 1),
                                                "execute:" + std::to_string(g_serial - 1),
                                                "stop:" + std::to_string(g_serial - 1),
                                                "delete:" + std::to_string(g_serial - 1),
                                                "construct:" + std::to_string(g_serial.load()),
                                                "execute:" + std::to_string(g_serial.load())}));
  // An unknown word in mode 1 still ends the exclusive command and leaves the slot empty.
  EXPECT_EQ(Dispatch("nosuchword", "", "1"), kUnknown);
  second.join();
  EXPECT_EQ(second_reply, "{\"data\":\"stopped\",\"flag\":1,\"flagMsg\":\"\"}");
  std::lock_guard<std::recursive_mutex> lock(state.bridgeLock);
  EXPECT_EQ(state.exclusiveCommand, nullptr);
}

TEST_F(DispatcherTest, ThrowingConstructorLeavesTheLockFreeAndNothingBehind) {
  CommandFactory::Register("play", &MakeCommand<EchoCommand>);
  EXPECT_EQ(Dispatch("play", "{"), "{\"data\":\"\",\"flag\":0,\"flagMsg\":\"解析json串参数失败\"}");
  std::thread other([&] {
    ASSERT_TRUE(state.bridgeLock.try_lock());
    state.bridgeLock.unlock();
  });
  other.join();
  EXPECT_EQ(Running(), 0u);
  std::string log = LogText();
  EXPECT_NE(log.find("[info] [Echo]: constructor"), std::string::npos);
  EXPECT_NE(log.find("[error] [CmdException]: 解析json串参数失败"), std::string::npos);
  EXPECT_EQ(log.find("[Echo]: destructor"), std::string::npos);
}

TEST_F(DispatcherTest, HandlersAnswerAndLogEachKindOfFailure) {
  EXPECT_EQ(Dispatch("postrequest", "cmd"), "{\"data\":\"\",\"flag\":0,\"flagMsg\":\"failed here\"}");
  EXPECT_EQ(Running(), 0u);  // a CmdException from execute ends the command's life
  EXPECT_EQ(Dispatch("postrequest", "std"),
            "{\"data\":\"\",\"flag\":0,\"flagMsg\":\"Post参数解析失败\"}");
  EXPECT_EQ(Running(), 1u);  // other failures leave it to the sweep
  EXPECT_EQ(Dispatch("postrequest", "other"), kCatchAll);
  std::string log = LogText();
  EXPECT_NE(log.find("[error] [CmdException]: failed here"), std::string::npos);
  EXPECT_NE(log.find("[error] [exception]: Post参数解析失败"), std::string::npos);
  EXPECT_NE(log.find("[error] [exception]: 响应消息命令时出现异常"), std::string::npos);
}

TEST_F(DispatcherTest, EveryPhaseAndTheReplyAreLogged) {
  Dispatch("PLAY", "{\"text\":\"x\"}");
  Dispatch("play", "");  // sweeps the first
  std::string log = LogText();
  const char* lines[] = {
      "[info] [Echo]: constructor\n",
      "[info] [Echo]: {\"name\":\"PLAY\",\"params\":\"{\\\"text\\\":\\\"x\\\"}\",\"region\":"
      "\"Test\",\"type\":\"0\"}\n",
      "[info] [Echo]: execute\n",
      "[info] [PLAY]: {\"data\":\"x\",\"flag\":1,\"flagMsg\":\"\"}\n",
      "[info] [Echo]: destructor\n",
  };
  std::size_t at = 0;
  for (const char* line : lines) {
    std::size_t found = log.find(line, at);
    ASSERT_NE(found, std::string::npos) << line << "\n--- log ---\n" << log;
    at = found;
  }
}

TEST_F(DispatcherTest, CommandStoppedByAnotherWorkerIsDeletedOnce) {
  std::string refused;
  std::thread first([&] { refused = Dispatch("runapp", "", "1"); });
  ASSERT_TRUE(WaitFor([] { return !Events().empty(); }));
  // This dispatch stops it, waits for its execute to end and deletes it, while its own
  // worker is answering the CmdException it threw.
  EXPECT_EQ(Dispatch("play", "", "1"), "{\"data\":\"\",\"flag\":1,\"flagMsg\":\"\"}");
  first.join();
  EXPECT_EQ(refused, "{\"data\":\"\",\"flag\":0,\"flagMsg\":\"命令行格式错误\"}");
  std::lock_guard<std::recursive_mutex> lock(state.bridgeLock);
  ASSERT_NE(state.exclusiveCommand, nullptr);
}

TEST_F(DispatcherTest, EachWorkerGetsItsOwnReplyUnderLoad) {
  constexpr int kThreads = 8, kEach = 1500;
  std::atomic<int> wrong{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([t, &wrong] {
      for (int i = 0; i < kEach; ++i) {
        std::string text = std::to_string(t) + "-" + std::to_string(i);
        const char* reply = DispatchCmd("Test", "play", ("{\"text\":\"" + text + "\"}").c_str(),
                                        i % 500 == 0 ? "1" : "0");
        std::string expected = "{\"data\":\"" + text + "\",\"flag\":1,\"flagMsg\":\"\"}";
        std::this_thread::yield();  // let the others finish dispatches meanwhile
        if (expected != reply) ++wrong;
      }
    });
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(DispatcherTest, TeardownStopsEverythingAndRefusesLaterDispatches) {
  std::thread worker([] { Dispatch("record", ""); });
  ASSERT_TRUE(WaitFor([] { return Events().size() >= 2; }));
  Dispatch("stopplay", "", "1");
  StopAllCommands(state, [] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); });
  worker.join();
  EXPECT_EQ(Running(), 0u);
  {
    std::lock_guard<std::recursive_mutex> lock(state.bridgeLock);
    EXPECT_EQ(state.exclusiveCommand, nullptr);
  }
  std::vector<std::string> events = Events();
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events[2].substr(0, 5), "stop:");
  EXPECT_EQ(events[3].substr(0, 7), "delete:");
  EXPECT_EQ(Dispatch("play", ""), kCatchAll);
  g_pMainDlg = nullptr;  // the dialog has gone
  EXPECT_EQ(Dispatch("play", ""), kCatchAll);
}

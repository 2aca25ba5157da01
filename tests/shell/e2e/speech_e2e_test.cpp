// Speech evaluation through the whole client: a page fetches its paper, records answers while the
// test speaks into the private sound server's microphone, has them evaluated by the real engine
// and reads the dist files; the engine does not outlive the client.
#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "shell/core/helpers.h"
#include "tests/shell/e2e/client_harness.h"
#include "tests/support/sound_test_support.h"

namespace {

using namespace std::chrono_literals;

const char kMainWindow[] = "^Velmora答题$";
constexpr int kStartSeconds = 90;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Engine processes whose runtime folder is |runtime|: those of this client only, whatever else
// runs beside the test.
std::vector<pid_t> EnginesOf(const std::string& runtime) {
  std::vector<pid_t> engines;
  std::istringstream pids(RunCommand("pgrep -x mirvane.exe || true"));
  for (pid_t pid; pids >> pid;) {
    std::string env = ReadWholeFile("/proc/" + std::to_string(pid) + "/environ");
    if (env.find("XDG_RUNTIME_DIR=" + runtime + '\0') != std::string::npos)
      engines.push_back(pid);
  }
  return engines;
}

Json::Value Parse(const std::string& text) {
  Json::Value value;
  Json::Reader().parse(text, value);
  return value;
}

class SpeechClient : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = install_.root();
    soundtest::MakeSpeech(folder + "expected.wav", "The quick brown fox jumps over the lazy dog.");
    soundtest::MakeSpeech(folder + "other.wav", "I would like a cup of tea with milk please.");
    server.SetPage("/papers/read.json",
                   "{\"text\":\"The quick brown fox jumps over the lazy dog.\"}");
    install_.WriteFile("bin/pages/driver.html", DriverPage(server.base()));
    pid = install_.Start();
    ASSERT_NE(server.WaitLoaded([](const std::string& u) { return EndsWith(u, "driver.html"); },
                                kStartSeconds),
              "");
    ASSERT_NE(WaitWindow(kMainWindow, 30, pid), 0u);
  }

  std::string Command(const std::string& word, const std::string& params,
                      const std::string& type = "0", int seconds = 30) {
    server.Queue(word, params, type);
    return server.WaitReply(word, seconds);
  }

  // Records |seconds| of what the microphone hears for item |identity|; |speech| is fed into
  // it, when given, once the recording has started.
  void Record(const std::string& identity, const std::string& speech, int seconds) {
    std::string params = "{\"name\":\"" + identity + ".wav\",\"len\":" +
                         std::to_string(seconds) + ",\"eval_info\":{\"identity\":\"" + identity +
                         "\",\"paper\":\"read.json\",\"dist\":\"" + identity +
                         ".json\",\"category\":\"read_aloud\"}}";
    ASSERT_EQ(Command("record", params, "1"), "{\"data\":\"操作成功\",\"flag\":1,\"flagMsg\":\"\"}");
    if (!speech.empty()) soundtest::MicFeed(folder + speech).Wait();
    std::string recording = install_.dataDir() + "cache/answer/" + identity + ".wav";
    ASSERT_TRUE(Eventually(
        [&] {
          try {
            return soundtest::ReadSound(recording).seconds() >= seconds - 0.05;
          } catch (const std::exception&) {
            return false;
          }
        },
        seconds + 10))
        << recording;
  }

  soundtest::SoundServer sound;  // first: the client inherits its environment
  TestServer server;
  ClientInstall install_{"[HomePage]\nhome=pages/driver.html\n[Config]\nMutex=0\nServiceUrl=" +
                         server.base() + "/\nNavigationBar=0\n"};
  std::string folder;
  pid_t pid = 0;
};

TEST_F(SpeechClient, RecordedAnswersAreScoredAndTheEngineEndsWithTheClient) {
  ASSERT_EQ(Command("download", "{\"filelist\":[{\"url\":\"papers/read.json\",\"name\":\"read.json\"}]}"),
            "{\"data\":\"下载成功\",\"flag\":1,\"flagMsg\":\"\"}");
  Record("q1", "expected.wav", 5);
  Record("q2", "other.wav", 5);
  Record("q3", "", 2);

  EXPECT_EQ(Command("evaluate", "", "0", 180),
            "{\"data\":\"[{\\\"code\\\":0,\\\"identity\\\":\\\"q1\\\"},"
            "{\\\"code\\\":0,\\\"identity\\\":\\\"q2\\\"},"
            "{\\\"code\\\":4,\\\"identity\\\":\\\"q3\\\"}]\",\"flag\":1,\"flagMsg\":\"\"}");
  // The page reads the dist files as the demo does.
  Json::Value files = Parse(Parse(Command("readfile",
      "{\"filelist\":[\"answer/q1.json\",\"answer/q2.json\",\"answer/q3.json\"]}"))["data"]
      .asString());
  ASSERT_EQ(files.size(), 3u) << files;
  Json::Value q1 = Parse(files[0].asString()), q2 = Parse(files[1].asString()),
              q3 = Parse(files[2].asString());
  EXPECT_GE(q1["score"].asInt(), 70) << q1;
  EXPECT_LE(q2["score"].asInt(), 40) << q2;
  EXPECT_EQ(q3["err_code"].asInt(), 4) << q3;
  EXPECT_TRUE(EnginesOf(install_.root() + "run").empty());  // stopped after evaluate

  EXPECT_EQ(Command("test", "", "0", 120), "{\"data\":\"0\",\"flag\":1,\"flagMsg\":\"\"}");

  // An engine that is running when the client closes ends with it.
  server.Queue("evaluate", "", "0");
  ASSERT_TRUE(Eventually([&] { return !EnginesOf(install_.root() + "run").empty(); }, 30));
  Command("close", "");
  unsigned long question = WaitWindow("^提示$", 30, pid);
  ASSERT_NE(question, 0u);
  SendKeys(question, "Return");
  EXPECT_EQ(install_.WaitExit(pid, 120), 2);
  EXPECT_TRUE(Eventually([&] { return EnginesOf(install_.root() + "run").empty(); }, 10));
}

}  // namespace

// The real client on a private display, driven by a page that sends what an attacker would: the
// client must answer, stay up, and keep every other command moving.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/shell/e2e/client_harness.h"

namespace {

const char kMainWindow[] = "^Velmora答题$";
constexpr int kStartSeconds = 90;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class HostilePage : public ::testing::Test {
 protected:
  void SetUp() override {
    // Nothing listens on the discard port: every request to the server is refused at once.
    install = std::make_unique<ClientInstall>(
        "[HomePage]\nhome=pages/driver.html\n[Config]\nMutex=0\n"
        "ServiceUrl=http://127.0.0.1:9/\nNavigationBar=0\n");
    install->WriteFile("bin/pages/driver.html", DriverPage(server.base()));
    pid = install->Start();
    ASSERT_NE(server.WaitLoaded([](const std::string& u) { return EndsWith(u, "driver.html"); },
                                kStartSeconds),
              "")
        << "the driver page did not load";
    ASSERT_NE(WaitWindow(kMainWindow, 30, pid), 0u);
  }
  std::string Command(const std::string& word, const std::string& params,
                      const std::string& type = "0") {
    server.Queue(word, params, type);
    return server.WaitReply(word, 30);
  }

  TestServer server;
  std::unique_ptr<ClientInstall> install;
  pid_t pid = 0;
};

TEST_F(HostilePage, IdentifiersSelectingOtherNodesThanElementsAnswerNothing) {
  ASSERT_EQ(Command("startexam", R"({"examineeId":"E1","paperId":"P1"})"),
            R"({"data":"操作成功","flag":1,"flagMsg":""})");
  ASSERT_EQ(Command("saveanswer", R"([{"key":"/test/q1/response[id=1]/answer","value":"A"}])"),
            R"({"data":"操作成功","flag":1,"flagMsg":""})");
  EXPECT_EQ(Command("getanswer", R"(["x|//namespace::*|//y"])"),
            R"({"data":"{\"x|//namespace::*|//y\":[\"{}\"]}\n","flag":1,"flagMsg":""})");
  EXPECT_TRUE(install->Running(pid));
  EXPECT_EQ(Command("getanswer", R"(["q1"])"),
            R"({"data":"{\"q1\":[{\"answer\":\"A\",\"id\":\"1\"}]}\n","flag":1,"flagMsg":""})");
}

TEST_F(HostilePage, ARetryingTransferHoldsNoOtherCommandUp) {
  // Four attempts would take 2 + 4 + 8 seconds of pauses.
  server.Queue("postrequest", R"({"url":"x","retry":4})", "1");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  auto start = std::chrono::steady_clock::now();
  server.Queue("readkey", R"({"key":"url","type":1})", "0");
  server.Queue("setkey", R"({"key":"k","value":"v","type":2})", "1");
  EXPECT_EQ(server.WaitReply("setkey", 30), R"({"data":"操作成功","flag":1,"flagMsg":""})");
  EXPECT_EQ(server.WaitReply("readkey", 30),
            R"({"data":"http://127.0.0.1:9/","flag":1,"flagMsg":""})");
  EXPECT_EQ(server.WaitReply("postrequest", 30), R"({"data":"","flag":0,"flagMsg":"网络异常"})");
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 4.0);
  EXPECT_TRUE(install->Running(pid));
}

}  // namespace

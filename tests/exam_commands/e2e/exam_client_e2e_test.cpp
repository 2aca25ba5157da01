// The real client running an application from its home page: the session folders it leaves
// and removes, and the form fields it sends to a real server.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>

#include "exam_commands/session_folder.h"
#include "shell/core/helpers.h"
#include "shell/core/json_text.h"
#include "shell/core/profile.h"
#include "tests/shell/e2e/client_harness.h"
#include "tests/support/unremovable_tree.h"
#include "tests/transfer/local_http_server.h"

namespace {

constexpr int kStartSeconds = 90;
const char kRecorded[] = "0123456789ABCDEF0123456789ABCDEF";
const char kUnrecorded[] = "FEDCBA9876543210FEDCBA9876543210";

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The driver page as the application that the "app://" home page runs, started over session
// folders of two earlier runs: the one hash.cache names and one of a run ended before its
// own session was recorded.
class ExamClient : public ::testing::Test {
 protected:
  void SetUp() override {
    install = std::make_unique<ClientInstall>(
        "[HomePage]\nhome=app://e2e\n[Config]\nMutex=0\nServiceUrl=http://127.0.0.1:9/\n"
        "NavigationBar=0\n");
    install->WriteFile("bin/apps/e2e/index.html", DriverPage(server.base()));
    install->WriteFile("appdata/Quellwick/hash.cache",
                       std::string("[cache]\nsession=") + kRecorded + "\n");
    install->WriteFile("tmp/" + std::string(kRecorded) + "/a.txt", "a");
    install->WriteFile("tmp/" + std::string(kUnrecorded) + "/unpacked/b.txt", "b");
    install->WriteFile("tmp/" + std::string(kUnrecorded) + "/" + kSessionFolderMark, "");
    pid = install->Start();
    ASSERT_NE(server.WaitLoaded(
                  [](const std::string& u) { return EndsWith(u, "/apps/e2e/index.html"); },
                  kStartSeconds),
              "")
        << "the application did not load";
  }
  Json::Value Command(const std::string& word, const std::string& params) {
    server.Queue(word, params);
    Json::Value reply;
    EXPECT_TRUE(ParseJson(server.WaitReply(word, 30), reply)) << word;
    return reply;
  }

  TestServer server;
  std::unique_ptr<ClientInstall> install;
  pid_t pid = 0;
};

TEST_F(ExamClient, EarlierSessionFoldersGoAtTheStartAndAStuckOneFailsStopApp) {
  EXPECT_TRUE(Eventually(
      [&] {
        return !IsExistingDir(install->tempDir() + kRecorded) &&
               !IsExistingDir(install->tempDir() + kUnrecorded);
      },
      30));

  std::string session = Command("readkey", R"({"key":"session","type":2})")["data"].asString();
  ASSERT_EQ(session.size(), 32u);
  const std::string folder = install->tempDir() + session + "/";
  ASSERT_TRUE(IsExistingDir(folder));
  MakeTooDeepTree(folder);
  Json::Value reply = Command("stopapp", "");
  EXPECT_EQ(reply["flag"].asInt(), 0);
  EXPECT_EQ(reply["data"].asString(), "");
  EXPECT_EQ(reply["flagMsg"].asString().rfind("boost::filesystem::remove_all: File name too long",
                                              0),
            0u)
      << reply["flagMsg"].asString();
  EXPECT_EQ(std::system(("rm -rf " + folder).c_str()), 0);
  EXPECT_EQ(Command("stopapp", "")["flag"].asInt(), 1);
}

TEST_F(ExamClient, IntegersAboveTheLargestIntArriveAsEmptyFields) {
  const std::string store = install->root() + "store/";
  MakeDirs(store, false, true);
  testing_http::LocalHttpServer http(store);
  Json::Value reply = Command(
      "postrequest", R"({"url":")" + http.Url("form") +
                         R"(","params":{"big":2147483648,"int":2147483647,)"
                         R"("max":9223372036854775807,"neg":-2147483649}})");
  EXPECT_EQ(reply["flag"].asInt(), 1);
  EXPECT_EQ(reply["data"].asString(), "ok");
  auto requests = http.Requests();
  ASSERT_EQ(requests.size(), 1u);
  std::vector<std::pair<std::string, std::string>> got;
  for (const testing_http::FormPart& part : testing_http::ParseMultipart(requests[0]))
    got.emplace_back(part.name, part.data);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                     {"big", ""}, {"int", "2147483647"}, {"max", ""}, {"neg", "-2147483649"}}));
}

// Clients on one user's data and one temporary folder, several allowed at once, each running the
// bundled demo: a start takes no other program's folder and no folder of a running client.
TEST(SessionFolders, AStartTakesOnlyTheFoldersOfClientsThatHaveEnded) {
  ClientInstall install("[HomePage]\nhome=app://demo\n[Config]\nMutex=0\nNavigationBar=0\n");
  const std::string temp = install.tempDir();
  const std::string foreign = "0123456789abcdef0123456789abcdef";
  install.WriteFile("tmp/" + foreign + "/notes.txt", "another program's");
  // The session a client has just begun: hash.cache names it once its folder is made. A start's
  // removals are queued before its session's record, so they are over by then.
  auto begun_after = [&](const std::string& previous) {
    std::string session;
    Eventually(
        [&] {
          session = ReadProfileString(install.dataDir() + "hash.cache", "cache", "session", "",
                                      1024);
          return session.size() == 32 && session != previous && IsExistingDir(temp + session);
        },
        kStartSeconds);
    return session;
  };

  pid_t a = install.Start();
  const std::string session_a = begun_after("");
  ASSERT_EQ(session_a.size(), 32u) << "client A began no session";
  pid_t b = install.Start();
  const std::string session_b = begun_after(session_a);
  ASSERT_EQ(session_b.size(), 32u) << "client B began no session";
  EXPECT_TRUE(IsExistingDir(temp + session_a)) << "B's start took the folder of A, still running";
  EXPECT_TRUE(IsExistingFile(temp + foreign + "/notes.txt"));

  // A dies at once (its browser's processes live on a moment, holding nothing of it); B ends.
  ASSERT_EQ(kill(a, SIGKILL), 0);
  EXPECT_NE(install.WaitExit(a, 30), -1);
  ASSERT_EQ(kill(-b, SIGKILL), 0);
  EXPECT_NE(install.WaitExit(b, 30), -1);
  EXPECT_TRUE(IsExistingDir(temp + session_a));
  EXPECT_TRUE(IsExistingDir(temp + session_b));

  install.Start();
  const std::string session_c = begun_after(session_b);
  ASSERT_EQ(session_c.size(), 32u) << "client C began no session";
  EXPECT_FALSE(IsExistingDir(temp + session_a));
  EXPECT_FALSE(IsExistingDir(temp + session_b));
  EXPECT_TRUE(IsExistingDir(temp + session_c));
  EXPECT_TRUE(IsExistingFile(temp + foreign + "/notes.txt"));
  kill(-a, SIGKILL);
}

}  // namespace

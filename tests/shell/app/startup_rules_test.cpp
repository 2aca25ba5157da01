// The start-up's decisions from config.ini, hash.cache, the command line and addresses.
#include "shell/startup_rules.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <boost/regex.hpp>
#include <fstream>
#include <string>
#include <vector>

#include "exam_commands/session_folder.h"
#include "shell/core/helpers.h"
#include "tests/support/test_support.h"

namespace {

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

TEST(ClientConfigTest, ReadsTheFourKeys) {
  TempDir dir;
  std::string ini = dir.path() + "config.ini";
  WriteFile(ini,
            "[homepage]\nHOME = app://demo \n[Config]\nMutex= 1 \nServiceUrl=http://10.0.0.5/exam\\\n"
            "NavigationBar=1\n");
  ClientConfig config = ReadClientConfig(ini);
  EXPECT_TRUE(config.mutex);
  EXPECT_EQ(config.homePage, "app://demo");
  EXPECT_EQ(config.baseUrl, "http://10.0.0.5/exam/");
  EXPECT_TRUE(config.navigationBar);
}

TEST(ClientConfigTest, AnythingButOneSwitchesOff) {
  TempDir dir;
  std::string ini = dir.path() + "config.ini";
  WriteFile(ini, "[Config]\nMutex=true\nNavigationBar=01\n");
  ClientConfig config = ReadClientConfig(ini);
  EXPECT_FALSE(config.mutex);
  EXPECT_FALSE(config.navigationBar);
  EXPECT_TRUE(config.homePage.empty());
  EXPECT_TRUE(config.baseUrl.empty());

  ClientConfig missing = ReadClientConfig(dir.path() + "absent.ini");
  EXPECT_FALSE(missing.mutex);
  EXPECT_FALSE(missing.navigationBar);
  EXPECT_TRUE(missing.homePage.empty());
}

TEST(ClientConfigTest, LongValuesAreCutToTheirBuffers) {
  TempDir dir;
  std::string ini = dir.path() + "config.ini";
  std::string home(1500, 'a');
  WriteFile(ini, "[HomePage]\nhome=" + home + "\n[Config]\nMutex=1" + std::string(20, ' ') +
                     "x\nServiceUrl=http://h/" + std::string(1100, 'p') + "\n");
  ClientConfig config = ReadClientConfig(ini);
  EXPECT_EQ(config.homePage, std::string(1023, 'a'));
  EXPECT_FALSE(config.mutex);  // "1 ... x" cut to 15 characters is still not "1"
  ASSERT_EQ(config.baseUrl.size(), 1024u);  // 1023 characters and the appended "/"
  EXPECT_EQ(config.baseUrl.back(), '/');
}

TEST(ClientConfigTest, BaseUrlEndsInOneSlash) {
  EXPECT_EQ(NormalizeBaseUrl("http://h/a\\"), "http://h/a/");
  EXPECT_EQ(NormalizeBaseUrl("http://h/a"), "http://h/a/");
  EXPECT_EQ(NormalizeBaseUrl("http://h/a/"), "http://h/a/");
  EXPECT_EQ(NormalizeBaseUrl(""), "");
}

TEST(InstanceLockTest, SecondHolderIsRefusedUntilTheFirstEnds) {
  TempDir dir;
  std::string folder = dir.path() + "run/";
  EXPECT_EQ(AcquireInstanceLock(folder, "Plaxenar_Corvanta"), InstanceLock::kAcquired);
  EXPECT_TRUE(IsExistingFile(folder + "Plaxenar_Corvanta"));
  EXPECT_EQ(AcquireInstanceLock(folder, "Plaxenar_Corvanta"), InstanceLock::kAlreadyRunning);

  // Another process sees the lock as well; once the holder is gone the next start gets it.
  std::string other = dir.path() + "other/";
  pid_t child = fork();
  if (child == 0) {
    bool ok = AcquireInstanceLock(other, "lock") == InstanceLock::kAcquired;
    sleep(2);
    _exit(ok ? 0 : 1);
  }
  for (int i = 0; i < 100 && !IsExistingFile(other + "lock"); ++i) usleep(10000);
  usleep(100000);
  EXPECT_EQ(AcquireInstanceLock(other, "lock"), InstanceLock::kAlreadyRunning);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(AcquireInstanceLock(other, "lock"), InstanceLock::kAcquired);
}

TEST(InstanceLockTest, UnusableFolderFails) {
  TempDir dir;
  WriteFile(dir.path() + "file", "x");
  EXPECT_EQ(AcquireInstanceLock(dir.path() + "file/", "lock"), InstanceLock::kFailed);
}

// The launcher's tokens as the session command reads them back from the stored line.
std::vector<std::string> ReadTokens(const std::string& line) {
  static const boost::regex quoted("\"((?:\\\\?.)*?)\"");
  std::vector<std::string> tokens;
  for (boost::sregex_iterator it(line.begin(), line.end(), quoted), end; it != end; ++it) {
    std::string raw = (*it)[1].str(), token;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\\') {
        if (++i == raw.size()) break;
      }
      token += raw[i];
    }
    tokens.push_back(token);
  }
  return tokens;
}

TEST(CommandLineTest, QuotedTokensComeBackUnchanged) {
  const char* argv[] = {"quellwick", "123", R"({"Name":"张三","Seat":"A\\1"})", "say \"hi\"", ""};
  std::string line = JoinCommandLine(5, argv);
  EXPECT_EQ(line.substr(0, 6), "\"123\" ");
  EXPECT_EQ(ReadTokens(line),
            (std::vector<std::string>{"123", R"({"Name":"张三","Seat":"A\\1"})", "say \"hi\"", ""}));
  EXPECT_EQ(JoinCommandLine(1, argv), "");
}

TEST(NavigationTest, EachKindOfAddress) {
  const std::string module = "/opt/exam/bin/";
  auto target = [&](const std::string& address) { return ResolveNavigation(address, module); };
  EXPECT_EQ(target("").text, "about:blank");
  EXPECT_FALSE(target("").isApp);
  EXPECT_TRUE(target("app://demo").isApp);
  EXPECT_EQ(target("app://demo").text, "demo");
  EXPECT_EQ(target("app://").text, "");
  EXPECT_EQ(target("http://127.0.0.1:8080/exam/index.html").text,
            "http://127.0.0.1:8080/exam/index.html");
  EXPECT_EQ(target("www.example.com/start").text, "www.example.com/start");
  EXPECT_EQ(target("about:blank").text, "about:blank");
  EXPECT_EQ(target("C:\\exam\\start.html").text, "C:\\exam\\start.html");
  EXPECT_EQ(target("/srv/exam/第一题 a.html").text,
            "file:///srv/exam/%E7%AC%AC%E4%B8%80%E9%A2%98%20a.html");
  EXPECT_EQ(target("pages/home.html").text, "file:///opt/exam/bin/pages/home.html");
  EXPECT_FALSE(target("pages/home.html").isApp);
}

TEST(SessionCleanupTest, GuidNames) {
  EXPECT_TRUE(IsSessionGuid("0123456789ABCDEFabcdef0123456789"));
  EXPECT_FALSE(IsSessionGuid("0123456789ABCDEFabcdef012345678"));
  EXPECT_FALSE(IsSessionGuid("0123456789ABCDEFabcdef01234567890"));
  EXPECT_FALSE(IsSessionGuid("0123456789ABCDEFabcdef012345678g"));
  EXPECT_FALSE(IsSessionGuid("../3456789ABCDEFabcdef0123456789"));
}

class SessionCleanupFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    data = root.path() + "data/";
    temp = root.path() + "tmp/";
    MakeDirs(data, false, true);
    MakeDirs(temp, false, true);
  }
  void SetSession(const std::string& value) {
    WriteFile(data + "hash.cache", "[cache]\nsession=" + value + "\n");
  }
  TempDir root;
  std::string data, temp;
};

TEST_F(SessionCleanupFolders, RemovesThePreviousSessionFolder) {
  const std::string guid = "8F2A61C0B7D44e1a9C3E5D7F01234567";
  MakeDirs(temp + guid + "/unpacked/deep", false, true);
  WriteFile(temp + guid + "/unpacked/deep/a.txt", "x");
  MakeDirs(temp + "8F2A61C0B7D44e1a9C3E5D7F01234568", false, true);
  SetSession(guid);
  EXPECT_TRUE(RemovePreviousSessionFolder(data, temp));
  EXPECT_FALSE(IsExistingDir(temp + guid));
  EXPECT_TRUE(IsExistingDir(temp + "8F2A61C0B7D44e1a9C3E5D7F01234568"));
  // Already gone, or nothing recorded: nothing to do.
  EXPECT_TRUE(RemovePreviousSessionFolder(data, temp));
  SetSession("");
  EXPECT_TRUE(RemovePreviousSessionFolder(data, temp));
}

TEST_F(SessionCleanupFolders, LeavesAloneWhatIsNotASessionFolder) {
  MakeDirs(root.path() + "victim/inner", false, true);
  WriteFile(root.path() + "victim/inner/answer.xml", "keep");
  MakeDirs(temp + "exam/0123456789ABCDEF0123456789ABCDEF", false, true);
  for (const std::string& value :
       {std::string("../victim"), std::string(".."), root.path() + "victim", std::string("/"),
        std::string("."), std::string("exam/0123456789ABCDEF0123456789ABCDEF"),
        std::string("exam")}) {
    SetSession(value);
    EXPECT_TRUE(RemovePreviousSessionFolder(data, temp)) << value;
    EXPECT_TRUE(IsExistingFile(root.path() + "victim/inner/answer.xml")) << value;
    EXPECT_TRUE(IsExistingDir(temp + "exam/0123456789ABCDEF0123456789ABCDEF")) << value;
  }
}

TEST_F(SessionCleanupFolders, LinkNamedLikeASessionIsRemovedNotFollowed) {
  const std::string guid = "ABCDEF0123456789ABCDEF0123456789";
  MakeDirs(root.path() + "victim", false, true);
  WriteFile(root.path() + "victim/keep.txt", "keep");
  ASSERT_EQ(symlink((root.path() + "victim").c_str(), (temp + guid).c_str()), 0);
  SetSession(guid);
  EXPECT_TRUE(RemovePreviousSessionFolder(data, temp));
  EXPECT_FALSE(boost::filesystem::is_symlink(temp + guid));
  EXPECT_TRUE(IsExistingFile(root.path() + "victim/keep.txt"));
}

TEST_F(SessionCleanupFolders, MarkedFoldersThatNoRunningClientHoldsAreFoundAndRemoved) {
  const std::string a = "0123456789ABCDEF0123456789ABCDEF";
  const std::string b = "abcdef0123456789abcdef0123456789";
  const std::string held = "33333333333333333333333333333333";
  MakeDirs(temp + a + "/x/y", false, true);
  MakeDirs(temp + b, false, true);
  WriteFile(temp + a + "/" + kSessionFolderMark, "");
  WriteFile(temp + b + "/" + kSessionFolderMark, "");
  MakeDirs(temp + held, false, true);
  ASSERT_TRUE(HoldSessionFolder(temp + held + "/"));
  // Not ours to remove: other names, a file, a link to someone's folder, and a folder named
  // like a session without the client's mark.
  MakeDirs(temp + "0123456789ABCDEF0123456789ABCDE", false, true);
  WriteFile(temp + "11111111111111111111111111111111", "a file");
  MakeDirs(root.path() + "victim", false, true);
  WriteFile(root.path() + "victim/keep.txt", "keep");
  ASSERT_EQ(symlink((root.path() + "victim").c_str(),
                    (temp + "22222222222222222222222222222222").c_str()),
            0);
  MakeDirs(temp + "44444444444444444444444444444444", false, true);
  WriteFile(temp + "44444444444444444444444444444444/notes.txt", "keep");
  std::vector<std::string> found = FindSessionFolders(temp);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{temp + a, temp + held, temp + b}));
  EXPECT_TRUE(RemoveSessionFolders(found));
  EXPECT_FALSE(IsExistingDir(temp + a));
  EXPECT_FALSE(IsExistingDir(temp + b));
  EXPECT_TRUE(IsExistingDir(temp + "0123456789ABCDEF0123456789ABCDE"));
  EXPECT_TRUE(IsExistingFile(temp + "11111111111111111111111111111111"));
  EXPECT_TRUE(IsExistingFile(root.path() + "victim/keep.txt"));
  EXPECT_TRUE(IsExistingFile(temp + "44444444444444444444444444444444/notes.txt"));
  EXPECT_TRUE(FindSessionFolders(root.path() + "missing/").empty());

  // A running client's folder stays with it, even when hash.cache names it.
  EXPECT_TRUE(IsExistingDir(temp + held));
  SetSession(held);
  EXPECT_TRUE(RemovePreviousSessionFolder(data, temp));
  EXPECT_TRUE(IsExistingDir(temp + held));
  ReleaseSessionFolder(temp + held + "/");
  EXPECT_TRUE(RemovePreviousSessionFolder(data, temp));
  EXPECT_FALSE(IsExistingDir(temp + held));
}

}  // namespace

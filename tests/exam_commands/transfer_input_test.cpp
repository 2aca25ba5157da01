// Hostile page input against the transfer commands: names that leave their folders, addresses
// that are no web addresses, and retries that would hold every other command up.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "shell/commands/dispatcher.h"
#include "tests/exam_commands/transfer_fixture.h"

using namespace testing_http;

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class TransferInputTest : public TransferCommandTest {
 protected:
  void SetUp() override {
    TransferCommandTest::SetUp();
    answers = session.answerFolder + "E001/P01/";
    state.UpdateSession([&](SessionState& s) { s.answerFolder = answers; });
    MakeDirs(answers + "rec", false, true);
    WriteFile(answers + "answer.xml", "<?xml version=\"1.0\"?><test/>");
    WriteFile(answers + "rec/1.wav", std::string(5000, 'a'));
    WriteFile(answers + "notes.txt", "not listed");
  }
  std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
      names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  void ExpectPackRefused(const std::string& list) {
    EXPECT_EQ(Dispatch("uploadanswer", "{\"url\":\"up\",\"file\":[" + list + "]}"),
              Reply(0, "", "打包答案文件失败"))
        << list;
    EXPECT_EQ(Entries(answers), (std::vector<std::string>{"answer.xml", "notes.txt", "rec"}));
    EXPECT_TRUE(server->Requests().empty());
  }

  std::string answers;
};

TEST_F(TransferInputTest, UploadAnswerPacksNothingFromOutsideTheAnswerFolder) {
  WriteFile(session.cacheFolder + "x", "outside");
  ExpectPackRefused("\"answer.xml\",\"../../../x\"");
  ExpectPackRefused("\"answer.xml\",\"rec/../../P01/notes.txt\"");
  ExpectPackRefused("\"" + session.cacheFolder + "x\"");
  ASSERT_EQ(symlink((session.cacheFolder + "x").c_str(), (answers + "rec/out.wav").c_str()), 0);
  ExpectPackRefused("\"rec\"");
  ExpectPackRefused("\"rec/out.wav\"");
  std::filesystem::remove(answers + "rec/out.wav");
  ASSERT_EQ(symlink(session.cacheFolder.c_str(), (answers + "up").c_str()), 0);
  EXPECT_EQ(Dispatch("uploadanswer", "{\"url\":\"up\",\"file\":[\"up/x\"]}"),
            Reply(0, "", "打包答案文件失败"));
  EXPECT_TRUE(server->Requests().empty());
  std::filesystem::remove(answers + "up");
  // A link that stays inside is packed like its target.
  ASSERT_EQ(symlink("1.wav", (answers + "rec/same.wav").c_str()), 0);
  EXPECT_EQ(Dispatch("uploadanswer", "{\"url\":\"up\",\"file\":[\"rec\"]}"),
            Reply(1, "上传成功", ""));
}

TEST_F(TransferInputTest, UploadAnswerRemovesOnlyWhatItPackedUnchanged) {
  // The server answers late; meanwhile the page saves again and records once more.
  auto upload = std::async(std::launch::async, [&] {
    return Dispatch("uploadanswer", "{\"url\":\"slow/1500\",\"file\":[\"answer.xml\",\"rec\"]}");
  });
  for (int i = 0; i < 400 && server->Requests().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_FALSE(server->Requests().empty());
  WriteFile(answers + "answer.xml", "<?xml version=\"1.0\"?><test><q1/></test>");
  WriteFile(answers + "rec/2.wav", "new recording");
  EXPECT_EQ(upload.get(), Reply(1, "上传成功", ""));
  EXPECT_EQ(ReadFile(answers + "answer.xml"), "<?xml version=\"1.0\"?><test><q1/></test>");
  EXPECT_EQ(Entries(answers + "rec"), (std::vector<std::string>{"2.wav"}));
  // Not listed, so not handed in: it stays.
  EXPECT_EQ(Entries(answers),
            (std::vector<std::string>{"answer.apk", "answer.xml", "notes.txt", "rec"}));
}

TEST_F(TransferInputTest, OnlyWebAddressesAreFetched) {
  state.UpdateSession([&](SessionState& s) { s.baseUrl = "file:///etc/"; });
  Json::Value post;
  post["url"] = "hostname";
  post["retry"] = 1;
  EXPECT_EQ(Dispatch("postrequest", WriteJson(post)), Reply(0, "", "网络异常"));
  EXPECT_EQ(
      Dispatch("download", "{\"retry\":1,\"filelist\":[{\"url\":\"hostname\",\"name\":\"h\"}]}"),
      Reply(0, "", "下载文件失败：h"));
  EXPECT_FALSE(IsExistingFile(session.cacheFolder + "h"));
  for (const char* scheme : {"ftp://127.0.0.1/", "dict://127.0.0.1/", "gopher://127.0.0.1/"}) {
    state.UpdateSession([&](SessionState& s) { s.baseUrl = scheme; });
    EXPECT_EQ(Dispatch("postrequest", WriteJson(post)), Reply(0, "", "网络异常")) << scheme;
  }
}

TEST_F(TransferInputTest, UnpackingIntoTheSessionFolderItselfIsRefused) {
  MakeDirs(session.tempFolder + "app", false, true);
  WriteFile(session.tempFolder + "app/keep.txt", "keep");
  std::string work = root.path() + "work/";
  MakeDirs(work, false, true);
  WriteFile(work + "a.txt", "a");
  std::string output;
  ASSERT_EQ(RunProgram({"7z", "a", "-y", files + "p.7z", work + "*"}, &output), 0) << output;
  for (const char* name : {"./.7z", ".//./.7z", "././.wpk"}) {
    EXPECT_EQ(Dispatch("download", "{\"filelist\":[{\"url\":\"files/p.7z\",\"name\":\"" +
                                       std::string(name) + "\",\"uncompress\":true}]}"),
              Reply(0, "", "解压失败"))
        << name;
    EXPECT_EQ(ReadFile(session.tempFolder + "app/keep.txt"), "keep") << name;
  }
  // A folder of its own is still unpacked into.
  EXPECT_EQ(Dispatch("download",
                     "{\"filelist\":[{\"url\":\"files/p.7z\",\"name\":\"./p.7z\","
                     "\"uncompress\":true}]}"),
            Reply(1, "下载成功", ""));
  EXPECT_EQ(ReadFile(session.tempFolder + "p/a.txt"), "a");
}

// Every transfer command, aimed at a closed port with many attempts.
std::vector<std::pair<std::string, std::string>> RetryingCommands(const std::string& url) {
  std::string u = "\"" + url + "\"";
  return {
      {"postrequest", "{\"retry\":6,\"url\":" + u + "}"},
      {"download", "{\"retry\":6,\"filelist\":[{\"url\":" + u + ",\"name\":\"d\"},{\"url\":" + u +
                       ",\"name\":\"e\"}]}"},
      {"downloadapp", "{\"retry\":6,\"filelist\":[{\"url\":" + u + ",\"name\":\"d\"}]}"},
      {"upload", "{\"retry\":6,\"url\":" + u + ",\"file\":{\"name\":\"f\",\"file\":\"f.txt\"}}"},
      {"uploadanswer", "{\"retry\":6,\"url\":" + u + ",\"file\":[\"answer.xml\"]}"},
  };
}

TEST_F(TransferInputTest, TheNextExclusiveCommandEndsThePauseBetweenAttempts) {
  WriteFile(session.cacheFolder + "f.txt", "f");
  for (const auto& command : RetryingCommands(ClosedUrl("x"))) {
    auto first = std::async(std::launch::async,
                            [&] { return Dispatch(command.first, command.second, "1"); });
    // Into the pause after the first attempt.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    auto start = std::chrono::steady_clock::now();
    auto other = std::async(std::launch::async,
                            [&] { return Dispatch("postrequest", "{\"url\":\"hello\"}", "0"); });
    EXPECT_EQ(Dispatch("postrequest", "{\"url\":\"hello\"}", "1"), Reply(1, "你好，考生", ""));
    EXPECT_LT(SecondsSince(start), 1.5) << command.first;
    EXPECT_NE(first.get().find("\"flag\":0"), std::string::npos) << command.first;
    EXPECT_EQ(other.get(), Reply(1, "你好，考生", ""));
    EXPECT_LT(SecondsSince(start), 1.5) << command.first;
  }
}

TEST_F(TransferInputTest, TheTeardownEndsThePauseBetweenAttempts) {
  auto first = std::async(std::launch::async, [&] {
    return Dispatch("download", RetryingCommands(ClosedUrl("x"))[1].second, "0");
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  auto start = std::chrono::steady_clock::now();
  StopAllCommands(state, [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); });
  EXPECT_LT(SecondsSince(start), 1.5);
  EXPECT_EQ(first.get(), Reply(0, "", "下载文件失败：d"));
}

}  // namespace

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <sstream>
#include <thread>

#include "tests/exam_commands/transfer_fixture.h"

using namespace testing_http;

namespace {

class UploadAnswerTest : public TransferCommandTest {
 protected:
  void SetUp() override {
    TransferCommandTest::SetUp();
    answers = session.answerFolder + "E001/P01/";
    state.UpdateSession([&](SessionState& s) { s.answerFolder = answers; });
    MakeDirs(answers + "rec", false, true);
    WriteFile(answers + "answer.xml", "<?xml version=\"1.0\"?><answers/>");
    WriteFile(answers + "rec/1.wav", std::string(5000, 'a'));
    WriteFile(answers + "rec/2.wav", std::string(7000, 'b'));
    WriteFile(answers + "notes.txt", "not listed");
  }
  std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
      names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  // The entries that "7z l" lists in the archive the server received last.
  std::vector<std::string> Received() {
    auto requests = server->Requests();
    EXPECT_FALSE(requests.empty());
    if (requests.empty()) return {};
    auto parts = ParseMultipart(requests.back());
    EXPECT_FALSE(parts.empty());
    if (parts.empty()) return {};
    EXPECT_EQ(parts[0].name, "answer");
    EXPECT_EQ(parts[0].fileName, "answer.apk");
    std::string copy = root.path() + "received.7z";
    WriteFile(copy, parts[0].data);
    std::string output;
    EXPECT_EQ(RunProgram({"7z", "l", "-slt", copy}, &output), 0) << output;
    std::vector<std::string> names;
    std::istringstream lines(output);
    std::string line;
    bool entries = false;
    while (std::getline(lines, line)) {
      if (line == "----------") entries = true;
      if (entries && line.rfind("Path = ", 0) == 0) names.push_back(line.substr(7));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string answers;
};

}  // namespace

TEST_F(UploadAnswerTest, PacksUploadsAndRemovesWhatItHandedIn) {
  WriteFile(answers + "ANSWER.APK", "kept by its name");
  EXPECT_EQ(Dispatch("uploadanswer",
                     "{\"url\":\"/hand-in\",\"file\":[\"answer.xml\",\"rec\"],"
                     "\"params\":{\"examinee\":\"E001\"}}"),
            Reply(1, "上传成功", ""));
  EXPECT_EQ(Received(),
            (std::vector<std::string>{"answer.xml", "rec", "rec/1.wav", "rec/2.wav"}));
  auto request = server->Requests().back();
  EXPECT_EQ(request.path, "/hand-in");
  auto parts = ParseMultipart(request);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[1].name, "examinee");
  EXPECT_EQ(parts[1].data, "E001");
  // notes.txt was not listed, so it was not handed in and stays.
  EXPECT_EQ(Entries(answers),
            (std::vector<std::string>{"ANSWER.APK", "answer.apk", "notes.txt"}));
  EXPECT_NE(LogText().find("[upload answer]: 应答结果：ok"), std::string::npos);
}

TEST_F(UploadAnswerTest, ASecondHandInUpdatesTheKeptArchive) {
  ASSERT_EQ(Dispatch("uploadanswer", "{\"url\":\"up\",\"file\":[\"answer.xml\"]}"),
            Reply(1, "上传成功", ""));
  MakeDirs(answers + "rec2", false, true);
  WriteFile(answers + "rec2/3.wav", "c");
  ASSERT_EQ(Dispatch("uploadanswer", "{\"url\":\"up\",\"file\":[\"rec2\"]}"),
            Reply(1, "上传成功", ""));
  EXPECT_EQ(Received(), (std::vector<std::string>{"answer.xml", "rec2", "rec2/3.wav"}));
  EXPECT_EQ(server->Requests().size(), 2u);
}

TEST_F(UploadAnswerTest, AMissingListedFileFailsThePackAndRemovesNothing) {
  EXPECT_EQ(Dispatch("uploadanswer", "{\"url\":\"up\",\"file\":[\"answer.xml\",\"rec/9.wav\"]}"),
            Reply(0, "", "打包答案文件失败"));
  EXPECT_EQ(Entries(answers), (std::vector<std::string>{"answer.xml", "notes.txt", "rec"}));
  EXPECT_EQ(Entries(answers + "rec"), (std::vector<std::string>{"1.wav", "2.wav"}));
  EXPECT_TRUE(server->Requests().empty());
}

TEST_F(UploadAnswerTest, FailedUploadKeepsEverything) {
  EXPECT_EQ(Dispatch("uploadanswer",
                     "{\"url\":\"status/404\",\"retry\":1,\"file\":[\"answer.xml\",\"rec\"]}"),
            Reply(0, "", "上传答案失败"));
  EXPECT_EQ(Entries(answers),
            (std::vector<std::string>{"answer.apk", "answer.xml", "notes.txt", "rec"}));
  EXPECT_EQ(server->CountFor("status/404"), 1u);
  EXPECT_NE(LogText().find("[upload answer]: 404"), std::string::npos);
}

TEST_F(UploadAnswerTest, NothingListedIsRefusedAndRemovesNothing) {
  for (const char* params : {"{\"url\":\"up\",\"file\":\"answer.xml\"}", "{\"url\":\"up\"}"}) {
    EXPECT_EQ(Dispatch("uploadanswer", params), Reply(0, "", "Empty file path"));
  }
  EXPECT_EQ(Entries(answers), (std::vector<std::string>{"answer.xml", "notes.txt", "rec"}));
  EXPECT_TRUE(server->Requests().empty());
  EXPECT_NE(Dispatch("uploadanswer", "{\"file\":{\"a\":\"b\"}}").find("\"flag\":0"),
            std::string::npos);
  EXPECT_NE(Dispatch("uploadanswer", "{\"file\":[1]}").find("\"flag\":0"), std::string::npos);
}

TEST_F(UploadAnswerTest, TheWholeAnswerFolderNeverPacksTheArchiveIntoItself) {
  ASSERT_EQ(Dispatch("uploadanswer", "{\"url\":\"up\",\"file\":[\"answer.xml\"]}"),
            Reply(1, "上传成功", ""));
  WriteFile(answers + "answer.xml", "<answers/>");
  ASSERT_EQ(Dispatch("uploadanswer", "{\"url\":\"up\",\"file\":[\"\"]}"), Reply(1, "上传成功", ""));
  auto names = Received();
  EXPECT_EQ(std::count(names.begin(), names.end(), "P01/answer.apk"), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), "P01/answer.xml"), 1);
}

TEST_F(UploadAnswerTest, PackingWaitsForTheAnswerLock) {
  std::unique_lock<std::mutex> lock(state.answerLock);
  auto reply = std::async(std::launch::async, [&] {
    return Dispatch("uploadanswer", "{\"url\":\"up\",\"file\":[\"answer.xml\"]}");
  });
  EXPECT_EQ(reply.wait_for(std::chrono::milliseconds(600)), std::future_status::timeout);
  EXPECT_FALSE(IsExistingFile(answers + "answer.apk"));
  lock.unlock();
  EXPECT_EQ(reply.get(), Reply(1, "上传成功", ""));
}

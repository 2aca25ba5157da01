#include <gtest/gtest.h>

#include <chrono>

#include "tests/exam_commands/transfer_fixture.h"

using namespace testing_http;

namespace {

class ServerCommandsTest : public TransferCommandTest {};

}  // namespace

TEST_F(ServerCommandsTest, PostrequestCompletesTheUrlAndReturnsTheBody) {
  // With or without the leading slash the address is the same.
  for (const char* url : {"/hello", "hello"}) {
    Json::Value params;
    params["url"] = url;
    params["params"]["姓名"] = "张三";
    params["params"]["n"] = 3;
    EXPECT_EQ(Dispatch("postrequest", WriteJson(params)), Reply(1, "你好，考生", ""));
  }
  auto requests = server->Requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const RecordedRequest& r : requests) {
    EXPECT_EQ(r.path, "/hello");
    EXPECT_EQ(r.method, "POST");
    auto parts = ParseMultipart(r);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].name, "n");
    EXPECT_EQ(parts[0].data, "3");
    EXPECT_EQ(parts[1].name, "姓名");
    EXPECT_EQ(parts[1].data, "张三");
  }
  EXPECT_NE(LogText().find("[post]: return code:[0]"), std::string::npos);
}

TEST_F(ServerCommandsTest, IntegersAboveTheLargestIntGoAsEmptyFieldsFromEveryCommand) {
  const std::string fields =
      "{\"big\":2147483648,\"int\":2147483647,\"max\":9223372036854775807,"
      "\"neg\":-2147483649}";
  MakeDirs(session.cacheFolder + "rec", false, true);
  WriteFile(session.cacheFolder + "rec/1.wav", "RIFF");
  WriteFile(files + "f", "f");
  EXPECT_EQ(Dispatch("postrequest", "{\"url\":\"p\",\"params\":" + fields + "}"),
            Reply(1, "ok", ""));
  EXPECT_EQ(Dispatch("upload", "{\"url\":\"u\",\"file\":{\"name\":\"a\",\"file\":"
                               "\"rec/1.wav\"},\"params\":" + fields + "}"),
            Reply(1, "", "Operation Successful"));
  EXPECT_EQ(Dispatch("download", "{\"filelist\":[{\"url\":\"files/f\",\"name\":\"f\","
                                 "\"params\":" + fields + "}]}"),
            Reply(1, "下载成功", ""));
  auto requests = server->Requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::vector<std::pair<std::string, std::string>> want{
      {"big", ""}, {"int", "2147483647"}, {"max", ""}, {"neg", "-2147483649"}};
  for (const RecordedRequest& r : requests) {
    std::vector<std::pair<std::string, std::string>> got;
    for (const FormPart& p : ParseMultipart(r))
      if (p.fileName.empty()) got.emplace_back(p.name, p.data);
    EXPECT_EQ(got, want) << r.path;
  }
}

TEST_F(ServerCommandsTest, PostrequestFailsOnAStatusOtherThan200AndLogsTheBody) {
  EXPECT_EQ(Dispatch("postrequest", "{\"url\":\"status/500\",\"retry\":3}"),
            Reply(0, "", "网络异常"));
  EXPECT_EQ(server->CountFor("status/500"), 1u) << "a status is not retried";
  std::string log = LogText();
  EXPECT_NE(log.find("[post]: return code:[500]"), std::string::npos);
  EXPECT_NE(log.find("[post]: error body 500"), std::string::npos);
}

TEST_F(ServerCommandsTest, PostrequestRetriesWithoutAServerThenFails) {
  auto start = std::chrono::steady_clock::now();
  Json::Value params;
  params["url"] = ClosedUrl("x");
  params["retry"] = 2;
  EXPECT_EQ(Dispatch("postrequest", WriteJson(params)), Reply(0, "", "网络异常"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_NE(LogText().find("return code:[7]"), std::string::npos);
}

TEST_F(ServerCommandsTest, PostrequestSendsTheCookieAndRefusesParamsThatAreNoObject) {
  EXPECT_EQ(Dispatch("postrequest",
                     "{\"url\":\"c\",\"cookie\":\"Set-Cookie: k=v; domain=127.0.0.1; path=/\"}"),
            Reply(1, "ok", ""));
  EXPECT_EQ(server->Requests().at(0).headers["cookie"], "k=v");

  std::string reply = Dispatch("postrequest", "{\"url\":\"c\",\"params\":[1,2]}");
  EXPECT_NE(reply.find("\"flag\":0"), std::string::npos);
  EXPECT_EQ(server->Requests().size(), 1u);
  EXPECT_EQ(Dispatch("postrequest", "{\"url\":\"c\",\"timeout\":\"x\"}"),
            Reply(0, "", "Value is not convertible to Int."));
}

TEST_F(ServerCommandsTest, UploadSendsTheCacheFileUnderThePartName) {
  MakeDirs(session.cacheFolder + "rec", false, true);
  WriteFile(session.cacheFolder + "rec/1.wav", std::string("RIFF\0\0WAVE", 10));
  EXPECT_EQ(Dispatch("upload",
                     "{\"url\":\"/up\",\"file\":{\"name\":\"answer\",\"file\":\"rec/1.wav\"},"
                     "\"params\":{\"id\":\"7\"}}"),
            Reply(1, "", "Operation Successful"));
  auto requests = server->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/up");
  auto parts = ParseMultipart(requests[0]);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].name, "answer");
  EXPECT_EQ(parts[0].fileName, "1.wav");
  EXPECT_EQ(parts[0].data, std::string("RIFF\0\0WAVE", 10));
  EXPECT_EQ(parts[1].name, "id");
  EXPECT_NE(LogText().find("[putfile]: 应答结果：ok"), std::string::npos);
}

TEST_F(ServerCommandsTest, UploadOfAMissingFileSendsNothingAndFailuresShareOneText) {
  const std::string failed = Reply(0, "", "处理putfile失败，指定文件不存在");
  EXPECT_EQ(Dispatch("upload", "{\"url\":\"up\",\"file\":{\"name\":\"a\",\"file\":\"no.wav\"}}"),
            failed);
  EXPECT_EQ(Dispatch("upload", "{\"url\":\"up\"}"), failed);
  // Files outside the cache folder are never sent, however the name reaches them.
  WriteFile(root.path() + "secret.txt", "secret");
  const std::string outside = "../../secret.txt";
  ASSERT_TRUE(IsExistingFile(session.cacheFolder + outside));
  for (const std::string& name : {outside, root.path() + "secret.txt", std::string("..\\\\x")}) {
    EXPECT_EQ(Dispatch("upload",
                       "{\"url\":\"up\",\"file\":{\"name\":\"a\",\"file\":\"" + name + "\"}}"),
              failed);
  }
  EXPECT_TRUE(server->Requests().empty());

  WriteFile(session.cacheFolder + "a.wav", "RIFF");
  EXPECT_EQ(Dispatch("upload",
                     "{\"url\":\"status/404\",\"retry\":1,\"file\":{\"name\":\"a\",\"file\":"
                     "\"a.wav\"}}"),
            failed);
  EXPECT_EQ(server->CountFor("status/404"), 1u);
  EXPECT_NE(Dispatch("upload", "{\"url\":\"up\",\"file\":\"a.wav\"}").find("\"flag\":0"),
            std::string::npos);
}

#include "tests/exam_commands/session_test_util.h"

#include <sys/stat.h>

namespace {

class FileCommandsTest : public ExamSessionFixture {
 protected:
  void SetUp() override {
    ExamSessionFixture::SetUp();
    SessionState s = state.Session();
    temp = s.tempFolder;
    cache = s.cacheFolder;
    apps = s.appsFolder;
  }
  Json::Value DataArray(const Reply& reply) {
    Json::Value v;
    EXPECT_TRUE(ParseJson(reply.data, v)) << reply.data;
    return v;
  }

  std::string temp, cache, apps;
};

TEST_F(FileCommandsTest, ReadFileLooksInTheSessionFolderFirst) {
  WriteWhole(temp + "paper/one.json", "session copy");
  WriteWhole(cache + "paper/one.json", "cache copy");
  WriteWhole(cache + "two.txt", "\xEF\xBB\xBF第一行\r\nlast line");
  Reply reply = Send("readfile", "{\"filelist\":[\"paper/one.json\",\"two.txt\"]}");
  EXPECT_EQ(reply.flag, 1);
  EXPECT_EQ(reply.flagMsg, "");
  // Each text as read: no byte-order mark, every line ending in a line feed.
  EXPECT_EQ(reply.data, "[\"session copy\\n\",\"第一行\\r\\nlast line\\n\"]\n");
}

TEST_F(FileCommandsTest, ReadFileWithoutNames) {
  EXPECT_EQ(Send("readfile", "{\"filelist\":[]}").data, "null\n");
  EXPECT_EQ(Send("readfile", "{}").data, "null\n");
}

TEST_F(FileCommandsTest, ReadFileFailures) {
  WriteWhole(cache + "present.txt", "x");
  Reply missing = Send("readfile", "{\"filelist\":[\"present.txt\",\"absent.txt\"]}");
  EXPECT_EQ(missing.flag, 0);
  EXPECT_EQ(missing.data, "");
  EXPECT_EQ(missing.flagMsg, "打开文件出错");
  EXPECT_EQ(Send("readfile", "{\"filelist\":[1]}").flag, 0);
  EXPECT_EQ(Send("readfile", "{\"filelist\":[[1]]}").flagMsg, "Type is not convertible to string");
  EXPECT_EQ(Send("readfile", "{filelist").flagMsg, "解析json串参数失败");
}

TEST_F(FileCommandsTest, ReadFileOfAFifoFailsAtOnce) {
  WriteWhole(cache + "present.txt", "x");
  ASSERT_EQ(mkfifo((cache + "pipe").c_str(), 0600), 0);
  Reply reply = Send("readfile", "{\"filelist\":[\"pipe\"]}");
  EXPECT_EQ(reply.flag, 0);
  EXPECT_EQ(reply.flagMsg, "打开文件出错");
}

TEST_F(FileCommandsTest, ReadFileStaysInsideTheApplicationsFolders) {
  // Files the names would reach if they were taken as they come.
  WriteWhole(dataDir + "hash.cache", "[cache]\nsecret=1\n");
  WriteWhole(root.path() + "outside.txt", "outside");
  const std::string refused[] = {
      "../hash.cache", "..", "a/../../hash.cache", "..\\hash.cache", dataDir + "hash.cache",
      "/etc/passwd",
  };
  for (const std::string& name : refused) {
    Reply reply = Send("readfile", "{\"filelist\":[" + Quote(name) + "]}");
    EXPECT_EQ(reply.flag, 0) << name;
    EXPECT_EQ(reply.flagMsg, "打开文件出错") << name;
  }
}

TEST_F(FileCommandsTest, GetAppsJoinsTheDescriptionsOfInstalledApplications) {
  WriteWhole(apps + "alpha/app.json", "{\"name\":\"甲\"}");
  WriteWhole(apps + "beta/app.json", "{\"name\":\"b\"}\n");
  MakeDirs(apps + "empty/", false, true);       // no description: skipped
  WriteWhole(apps + "loose.json", "{}");        // not a folder: skipped
  Reply reply = Send("getapps", "ignored");
  EXPECT_EQ(reply.flag, 1);
  EXPECT_EQ(reply.flagMsg, "");
  EXPECT_EQ(reply.data, "[{\"name\":\"甲\"}\n,{\"name\":\"b\"}\n]");
  Json::Value parsed;
  EXPECT_TRUE(ParseJson(reply.data, parsed));
  EXPECT_EQ(parsed.size(), 2u);
}

TEST_F(FileCommandsTest, GetAppsWithNothingInstalled) {
  EXPECT_EQ(Send("getapps", "").data, "[]");
  MakeDirs(apps + "empty/", false, true);
  EXPECT_EQ(Send("getapps", "").data, "[]");
}

TEST_F(FileCommandsTest, GetAppsFailsOnADescriptionItCannotRead) {
  MakeDirs(apps + "odd/app.json/", false, true);
  Reply reply = Send("getapps", "");
  EXPECT_EQ(reply.flag, 0);
  EXPECT_EQ(reply.flagMsg, "打开文件出错");
}

}  // namespace

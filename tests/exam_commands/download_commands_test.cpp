#include "exam_commands/download_commands.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "tests/exam_commands/transfer_fixture.h"

using namespace testing_http;

namespace {

class DownloadCommandsTest : public TransferCommandTest {
 protected:
  static std::string Item(const std::string& url, const std::string& name,
                          const std::string& extra = "") {
    return "{\"url\":\"" + url + "\",\"name\":\"" + name + "\"" + extra + "}";
  }
  static std::string List(const std::vector<std::string>& items, const std::string& extra = "") {
    std::string text = "{\"filelist\":[";
    for (std::size_t i = 0; i < items.size(); ++i) text += (i ? "," : "") + items[i];
    return text + "]" + extra + "}";
  }
  // Until a downloader has taken the cache folder's |name|.
  void WaitForRecord(const std::string& name) {
    std::string path = session.cacheFolder + name;
    for (int i = 0; i < 1000; ++i) {
      {
        std::lock_guard<std::mutex> lock(state.downloadLock);
        if (state.downloads.count(path)) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ADD_FAILURE() << "no download of " << name << " began";
  }
  // A 7z package made with the real 7z from |folder|'s content.
  void Pack(const std::string& archive, const std::string& folder,
            const std::string& password = "") {
    std::vector<std::string> argv{"7z", "a", "-y", archive, folder + "*"};
    if (!password.empty()) argv.push_back("-p" + password);
    std::string output;
    ASSERT_EQ(RunProgram(argv, &output), 0) << output;
  }
};

}  // namespace

TEST_F(DownloadCommandsTest, NoItemsIsSuccess) {
  EXPECT_EQ(Dispatch("download", ""), Reply(1, "下载成功", ""));
  EXPECT_EQ(Dispatch("download", "{\"filelist\":[]}"), Reply(1, "下载成功", ""));
  EXPECT_EQ(Dispatch("downloadapp", "{}"), Reply(1, "app下载成功", ""));
  EXPECT_NE(LogText().find("[download app]: app下载成功"), std::string::npos);
  EXPECT_TRUE(server->Requests().empty());
}

TEST_F(DownloadCommandsTest, AFileListThatIsAnObjectIsRefused) {
  WriteFile(files + "a.bin", "a");
  const std::string refused =
      Reply(0, "", "in Json::Value::operator[](ArrayIndex)const: requires arrayValue");
  EXPECT_EQ(Dispatch("download", "{\"filelist\":{\"one\":" + Item("files/a.bin", "a.bin") + "}}"),
            refused);
  EXPECT_EQ(Dispatch("downloadapp", "{\"filelist\":{\"one\":" + Item("files/a.bin", "a") + "}}"),
            refused);
  EXPECT_TRUE(server->Requests().empty());
  EXPECT_FALSE(IsExistingFile(session.cacheFolder + "a.bin"));
}

TEST_F(DownloadCommandsTest, FetchesIntoTheCacheFolderWithTheItemsFormFields) {
  WriteFile(files + "a.bin", std::string("\0\1\2binary", 9));
  EXPECT_EQ(Dispatch("download", List({Item("files/a.bin", "sub/dir/a.bin",
                                            ",\"params\":{\"k\":\"值\"}")})),
            Reply(1, "下载成功", ""));
  EXPECT_EQ(ReadFile(session.cacheFolder + "sub/dir/a.bin"), std::string("\0\1\2binary", 9));
  auto requests = server->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, "/files/a.bin");
  auto parts = ParseMultipart(requests[0]);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].data, "值");
  EXPECT_NE(LogText().find("[download file]: sub/dir/a.bin下载成功"), std::string::npos);

  // downloadapp stores in the apps folder; an absolute URL is used as it is.
  EXPECT_EQ(Dispatch("downloadapp", List({Item(server->Url("files/a.bin"), "app1/a.bin")})),
            Reply(1, "app下载成功", ""));
  EXPECT_TRUE(IsExistingFile(session.appsFolder + "app1/a.bin"));
}

TEST_F(DownloadCommandsTest, OnlyALowerCaseSchemeIsAbsolute) {
  std::string upper = "HTTP://127.0.0.1:" + std::to_string(server->port()) + "/files/x";
  EXPECT_EQ(Dispatch("download", List({Item(upper, "x.txt")})), Reply(1, "下载成功", ""));
  EXPECT_EQ(server->Requests().at(0).path, "/" + upper);
}

TEST_F(DownloadCommandsTest, PresentFileIsKeptUnlessForced) {
  WriteFile(files + "f.txt", "server");
  WriteFile(session.cacheFolder + "f.txt", "local");
  EXPECT_EQ(Dispatch("download", List({Item("files/f.txt", "f.txt")})), Reply(1, "下载成功", ""));
  EXPECT_EQ(ReadFile(session.cacheFolder + "f.txt"), "local");
  EXPECT_TRUE(server->Requests().empty());
  EXPECT_NE(LogText().find("f.txt已存在，无需下载"), std::string::npos);
  EXPECT_EQ(Dispatch("download", List({Item("files/f.txt", "f.txt", ",\"force\":true")})),
            Reply(1, "下载成功", ""));
  EXPECT_EQ(ReadFile(session.cacheFolder + "f.txt"), "server");
}

TEST_F(DownloadCommandsTest, ATargetThatIsNoRegularFileFailsAtOnce) {
  // Opening a FIFO for writing would wait for a reader for good.
  WriteFile(files + "f.txt", "server");
  MakeDirs(session.cacheFolder, false, true);
  const std::string fifo = session.cacheFolder + "f.txt";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const char* force : {"", ",\"force\":true"}) {
    EXPECT_EQ(Dispatch("download", List({Item("files/f.txt", "f.txt", force)})),
              Reply(0, "", "无法打开文件:" + fifo));
  }
  struct stat st;
  ASSERT_EQ(stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(DownloadCommandsTest, ErrorStatusLogsTheBodyAndLeavesNoFile) {
  EXPECT_EQ(Dispatch("download", List({Item("status/404", "e.txt"), Item("files/x", "next")})),
            Reply(0, "", "下载文件失败：e.txt"));
  EXPECT_FALSE(IsExistingFile(session.cacheFolder + "e.txt"));
  EXPECT_FALSE(IsExistingFile(session.cacheFolder + "next")) << "later items are not fetched";
  std::string log = LogText();
  EXPECT_NE(log.find("e.txt下载失败, 错误码：404"), std::string::npos);
  EXPECT_NE(log.find("错误原因：error body 404"), std::string::npos);
}

TEST_F(DownloadCommandsTest, NamesCannotLeaveTheirFolder) {
  for (const char* name : {"../escape.txt", "a/../../escape.txt", "..\\\\escape.txt"}) {
    EXPECT_EQ(Dispatch("download", List({Item("files/x", name)})),
              Reply(0, "", std::string("下载文件失败：") + (name[2] == '\\' ? "..\\escape.txt" : name)));
  }
  EXPECT_FALSE(IsExistingFile(dataDir + "escape.txt"));
  EXPECT_FALSE(IsExistingFile(root.path() + "escape.txt"));
  EXPECT_TRUE(server->Requests().empty());
  // An absolute name stays inside the folder.
  WriteFile(files + "x", "x");
  EXPECT_EQ(Dispatch("download", List({Item("files/x", "/abs/in.txt")})), Reply(1, "下载成功", ""));
  EXPECT_TRUE(IsExistingFile(session.cacheFolder + "abs/in.txt"));
}

TEST_F(DownloadCommandsTest, OverlongNameFailsTheItem) {
  std::string name(300, 'n');
  EXPECT_EQ(Dispatch("download", List({Item("files/x", name)})),
            Reply(0, "", "无法打开文件:" + session.cacheFolder + name));
}

TEST_F(DownloadCommandsTest, TwoCommandsForOneFileShareOneTransfer) {
  auto first = std::async(std::launch::async,
                          [&] { return Dispatch("download", List({Item("slow/1500", "s.txt")})); });
  WaitForRecord("s.txt");
  auto second = std::async(std::launch::async, [&] {
    return Dispatch("download", List({Item("other/url", "s.txt")}));
  });
  EXPECT_EQ(first.get(), Reply(1, "下载成功", ""));
  EXPECT_EQ(second.get(), Reply(1, "下载成功", ""));
  EXPECT_EQ(server->Requests().size(), 1u);
  EXPECT_EQ(ReadFile(session.cacheFolder + "s.txt"), "slow");
  EXPECT_NE(LogText().find("s.txt在其他线程中下载"), std::string::npos);
}

TEST_F(DownloadCommandsTest, AWaiterFailsWithTheDownloader) {
  // Every attempt is dropped; the second command joins during the pause between attempts.
  auto first = std::async(std::launch::async, [&] {
    return Dispatch("download", List({Item("drop/w/9", "w.txt")}, ",\"retry\":2"));
  });
  WaitForRecord("w.txt");
  auto second = std::async(std::launch::async,
                           [&] { return Dispatch("download", List({Item("files/x", "w.txt")})); });
  EXPECT_EQ(first.get(), Reply(0, "", "下载文件失败：w.txt"));
  EXPECT_EQ(second.get(), Reply(0, "", "文件下载失败：w.txt"));
  EXPECT_TRUE(server->Requests().empty());
  EXPECT_FALSE(IsExistingFile(session.cacheFolder + "w.txt"));

  // A finished record is swept: the next command fetches again.
  WriteFile(files + "x", "x");
  EXPECT_EQ(Dispatch("download", List({Item("files/x", "w.txt")})), Reply(1, "下载成功", ""));
}

TEST_F(DownloadCommandsTest, AThrowingTransferStillReleasesItsWaiters) {
  // Form fields that are no object make the provider throw; the record is marked failed.
  std::string bad = Item("files/x", "t.txt", ",\"params\":[1,2]");
  EXPECT_EQ(Dispatch("download", List({bad, Item("files/y", "t.txt")})),
            Reply(0, "", "下载文件失败：t.txt"));
  EXPECT_NE(LogText().find("t.txt下载失败, 错误码：-1"), std::string::npos);
  {
    std::lock_guard<std::mutex> lock(state.downloadLock);
    for (auto& entry : state.downloads) EXPECT_LE(entry.second->users, 0);
  }
  WriteFile(files + "x", "x");
  EXPECT_EQ(Dispatch("download", List({Item("files/x", "t.txt")})), Reply(1, "下载成功", ""));
}

TEST_F(DownloadCommandsTest, ItemsOfOneCommandShareByNameNotByUrl) {
  WriteFile(files + "one", "1");
  WriteFile(files + "two", "2");
  EXPECT_EQ(Dispatch("download", List({Item("files/one", "same"), Item("files/two", "same")})),
            Reply(1, "下载成功", ""));
  EXPECT_EQ(ReadFile(session.cacheFolder + "same"), "1");
  EXPECT_EQ(server->Requests().size(), 1u);
  EXPECT_EQ(Dispatch("download", List({Item("files/one", "p"), Item("files/one", "q")})),
            Reply(1, "下载成功", ""));
  EXPECT_EQ(server->CountFor("files/one"), 3u);
  EXPECT_EQ(ReadFile(session.cacheFolder + "q"), "1");
}

TEST_F(DownloadCommandsTest, UnpacksWithNestedPackagesOneLevelDeep) {
  std::string work = root.path() + "work/";
  MakeDirs(work + "inner", false, true);
  MakeDirs(work + "upper", false, true);
  MakeDirs(work + "deep/sub", false, true);
  MakeDirs(work + "outer/sub", false, true);
  WriteFile(work + "inner/x.txt", "nested");
  WriteFile(work + "upper/y.txt", "upper");
  WriteFile(work + "deep/z.txt", "deep");
  Pack(work + "outer/a.wpk", work + "inner/");
  Pack(work + "outer/b.RPK", work + "upper/");
  Pack(work + "outer/sub/c.rpk", work + "deep/");
  WriteFile(work + "outer/text.txt", "text");
  Pack(files + "pkg.zip", work + "outer/");

  std::string target = session.tempFolder + "apps/pkg/";
  MakeDirs(target, false, true);
  WriteFile(target + "stale.txt", "stale");
  EXPECT_EQ(Dispatch("download",
                     List({Item("files/pkg.zip", "apps/pkg.zip",
                                ",\"uncompress\":true,\"recurse\":true")})),
            Reply(1, "下载成功", ""));
  EXPECT_EQ(ReadFile(target + "text.txt"), "text");
  EXPECT_EQ(ReadFile(target + "a/x.txt"), "nested");
  EXPECT_TRUE(IsExistingFile(target + "a.wpk")) << "nested packages stay";
  EXPECT_FALSE(IsExistingDir(target + "b")) << "the extension is compared exactly";
  EXPECT_TRUE(IsExistingFile(target + "sub/c.rpk"));
  EXPECT_FALSE(IsExistingDir(target + "sub/c")) << "only one level";
  EXPECT_FALSE(IsExistingFile(target + "stale.txt"));
  EXPECT_TRUE(IsExistingFile(session.cacheFolder + "apps/pkg.zip"));

  // Without "recurse" nothing nested is opened.
  EXPECT_EQ(Dispatch("download", List({Item("files/pkg.zip", "apps/pkg.zip",
                                            ",\"uncompress\":true")})),
            Reply(1, "下载成功", ""));
  EXPECT_FALSE(IsExistingDir(target + "a"));
}

TEST_F(DownloadCommandsTest, EncryptedPackagesNeedTheirPasswordAndNeverWait) {
  std::string work = root.path() + "work/";
  MakeDirs(work, false, true);
  WriteFile(work + "secret.txt", "s");
  Pack(files + "enc.7z", work, "pw");
  EXPECT_EQ(Dispatch("download",
                     List({Item("files/enc.7z", "enc.7z", ",\"uncompress\":true")})),
            Reply(0, "", "解压失败"));
  EXPECT_EQ(Dispatch("download", List({Item("files/enc.7z", "enc.7z",
                                            ",\"uncompress\":true,\"password\":\"pw\"")})),
            Reply(1, "下载成功", ""));
  EXPECT_EQ(ReadFile(session.tempFolder + "enc/secret.txt"), "s");
}

TEST_F(DownloadCommandsTest, UnpackingNeverEmptiesTheWholeSessionFolder) {
  WriteFile(session.tempFolder + "keep.txt", "keep");
  WriteFile(files + ".wpk", "not an archive");
  EXPECT_EQ(Dispatch("download", List({Item("files/.wpk", ".wpk", ",\"uncompress\":true")})),
            Reply(0, "", "解压失败"));
  EXPECT_EQ(ReadFile(session.tempFolder + "keep.txt"), "keep");
}

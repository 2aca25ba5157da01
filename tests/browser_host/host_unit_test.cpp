// The host's log, its files routines and the client application's process decisions.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "browser_host/client_app.h"
#include "browser_host/host_log.h"
#include "browser_host/page_fs.h"
#include "browser_host/text_convert.h"
#include "platform/cef/cef_app.h"

namespace {

struct Capture {
  static std::string& Text() {
    static std::string t;
    return t;
  }
  static void Write(const std::string& s) { Text() += s; }
};

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool IsStamp(const std::string& s) {
  // [yy/MM/dd-HH:mm:ss mmm]
  if (s.size() != 23 || s[0] != '[' || s[22] != ']') return false;
  const char* shape = "[00/00/00-00:00:00 000]";
  for (size_t i = 0; i < s.size(); ++i)
    if ((shape[i] == '0') != (isdigit(static_cast<unsigned char>(s[i])) != 0) ||
        (shape[i] != '0' && shape[i] != s[i]))
      return false;
  return true;
}

class HostFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char t[] = "/tmp/kvb-unit-XXXXXX";
    dir_ = mkdtemp(t);
    dir_ += "/";
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string dir_;
};

}  // namespace

TEST(HostLog, LinesCarryStampAndLevelButLevelNullCarriesNeither) {
  Capture::Text().clear();
  { Log<Capture>().StartLine(logINFO) << "Call KVBCefInit"; }
  { Log<Capture>().StartLine(logNULL) << "plain 100%s %d"; }
  { Log<Capture>().StartLine(logERROR) << 42; }
  std::string t = Capture::Text();
  std::istringstream lines(t);
  std::string l1, l2, l3;
  std::getline(lines, l1);
  std::getline(lines, l2);
  std::getline(lines, l3);
  ASSERT_GE(l1.size(), 23u);
  EXPECT_TRUE(IsStamp(l1.substr(0, 23))) << l1;
  EXPECT_EQ(l1.substr(23), "[INFO] Call KVBCefInit");
  EXPECT_EQ(l2, "plain 100%s %d");
  EXPECT_EQ(l3.substr(23), "[ERROR] 42");
  EXPECT_EQ(t.back(), '\n');
  EXPECT_STREQ(FILELog::LevelName(logWARNING), "WARNING");
  EXPECT_STREQ(FILELog::LevelName(logDEBUG), "DEBUG");
}

TEST_F(HostFiles, HostLogWritesToTheFileAndAfterClosingToStandardError) {
  std::string path = dir_ + "libkvb.log";
  Output2FILE::SetFile(fopen(path.c_str(), "a"));
  KVB_LOG(logINFO) << "in the file";
  Output2FILE::CloseFile();
  KVB_LOG(logINFO) << "after the close";  // must not touch the closed stream
  std::string text = Bytes(path);
  EXPECT_NE(text.find("[INFO] in the file\n"), std::string::npos);
  EXPECT_EQ(text.find("after the close"), std::string::npos);
  EXPECT_FALSE(Output2FILE::HasFile());
}

TEST_F(HostFiles, ReadAllTranslatesLineEndsAndReadsPastCtrlZ) {
  std::ofstream(dir_ + "t", std::ios::binary) << std::string("a\r\nb\x1A\rc\r\n", 9);
  std::string text;
  int error = 1;
  page_fs::ReadFileAll(dir_ + "t", text, error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(text, std::string("a\nb\x1A\rc\n", 7));
  page_fs::ReadFileAll(dir_, text, error);
  EXPECT_EQ(error, -1);
  page_fs::ReadFileAll(dir_ + "missing", text, error);
  EXPECT_EQ(error, -1);
}

TEST_F(HostFiles, ReadAllRefusesAFileTooLargeToHold) {
  std::string big = dir_ + "big";
  std::ofstream(big).put('x');
  ASSERT_EQ(truncate(big.c_str(), static_cast<off_t>(page_fs::kMaxReadBytes) + 1), 0);
  std::string text;
  int error = 0;
  page_fs::ReadFileAll(big, text, error);
  EXPECT_EQ(error, -1);
  EXPECT_TRUE(text.empty());
}

TEST_F(HostFiles, WriteAllStopsAtNulAndWritesCrLf) {
  int error = 1;
  page_fs::WriteFileAll(dir_ + "w", std::string("x\ny\0z", 5), error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(Bytes(dir_ + "w"), "x\r\ny");
  page_fs::WriteFileAll(dir_ + "none/w", "x", error);
  EXPECT_EQ(error, -1);
  page_fs::WriteFileAll(dir_, "x", error);
  EXPECT_EQ(error, -1);
}

TEST_F(HostFiles, FolderTests) {
  std::ofstream(dir_ + "f") << "1";
  EXPECT_TRUE(page_fs::FileExists(dir_ + "f"));
  EXPECT_FALSE(page_fs::FileExists(dir_));
  EXPECT_TRUE(page_fs::DirExists(dir_));
  EXPECT_TRUE(page_fs::DirExists(dir_.substr(0, dir_.size() - 1)));
  EXPECT_FALSE(page_fs::DirExists(dir_ + "*"));
  EXPECT_FALSE(page_fs::DirExists(dir_ + "f"));
  EXPECT_FALSE(page_fs::DirExists(""));
  EXPECT_TRUE(page_fs::CreateDir(dir_ + "d"));
  EXPECT_TRUE(page_fs::CreateDir(dir_ + "d"));
  EXPECT_FALSE(page_fs::CreateDir(dir_ + "f"));
  EXPECT_FALSE(page_fs::CreateDir(dir_ + "x/y"));
  std::ofstream(dir_ + "d/in") << "1";
  EXPECT_FALSE(page_fs::DeleteDir(dir_ + "d"));
  EXPECT_FALSE(page_fs::DeleteDir(dir_ + "f"));
  unlink((dir_ + "d/in").c_str());
  EXPECT_TRUE(page_fs::DeleteDir(dir_ + "d"));
  EXPECT_FALSE(page_fs::DirExists(dir_ + "d"));
}

TEST(ClientApp, TheProgramGainsTheFiveSwitchesInOrderAndSubProcessesNone) {
  CefRefPtr<ClientApp> app = new ClientApp();
  CefRefPtr<CefCommandLine> cmd = CefCommandLine::Create();
  app->OnBeforeCommandLineProcessing("", cmd);
  EXPECT_EQ(cmd->GetSwitchTexts(),
            (std::vector<std::string>{"--enable-speech-input", "--enable-media-stream",
                                      "--enable-media-source", "no-proxy-server",
                                      "touch-events=disabled"}));
  EXPECT_EQ(cmd->GetSwitchValue("touch-events").ToString(), "disabled");
  EXPECT_TRUE(cmd->HasSwitch("enable-media-stream"));
  CefRefPtr<CefCommandLine> sub = CefCommandLine::Create();
  app->OnBeforeCommandLineProcessing("renderer", sub);
  EXPECT_TRUE(sub->GetSwitchTexts().empty());
}

TEST(ClientApp, CookiesAreKeptForHttpAndHttpsOnly) {
  CefRefPtr<ClientApp> app = new ClientApp();
  CefCookieManager::GetGlobalManager()->SetSupportedSchemes({});
  app->OnContextInitialized();
  EXPECT_EQ(CefCookieManager::GetGlobalManager()->GetSupportedSchemes(),
            (std::vector<CefString>{"http", "https"}));
}

TEST(ClientApp, ModuleFolderEndsWithASlash) {
  std::string folder = GetModuleFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(folder[0], '/');
  EXPECT_EQ(WStringToString(StringToWString("中文 text", CP_ACP), CP_ACP), "中文 text");
  EXPECT_EQ(StringToWString("", CP_UTF8), L"");
}

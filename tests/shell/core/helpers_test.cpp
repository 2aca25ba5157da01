#include "shell/core/helpers.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "tests/support/test_support.h"

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

}  // namespace

TEST(Encodings, WideRoundTripAndInvalidInputEndsTheText) {
  const std::string text = "答题 R&D \xF0\x9F\x98\x80";
  std::wstring wide = NarrowToWide(text);
  EXPECT_EQ(wide.size(), 8u);
  EXPECT_EQ(wide[0], L'\u7B54');
  EXPECT_EQ(WideToNarrow(wide), text);
  // A broken sequence ends the result; what came before it survives.
  EXPECT_EQ(NarrowToWide("ab\xE7\xAD" "cd"), L"ab");
  EXPECT_EQ(NarrowToWide("ab\xC0\xAF"), L"ab");  // overlong "/"
  EXPECT_EQ(WideToNarrow(std::wstring(L"x") + static_cast<wchar_t>(0xD800) + L"y"), "x");
  EXPECT_EQ(AnsiToUtf8(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(Utf8ToAnsi("中文"), "中文");
}

TEST(Paths, NormalizeKeepsNetworkPrefixAndCollapsesRuns) {
  std::string path = "\\\\srv//share\\\\x";
  EXPECT_EQ(NormalizePath(path, '\\'), 13u);
  EXPECT_EQ(path, "\\\\srv\\share\\x");
  std::string linux_path = "/opt//exam\\bin///x";
  NormalizePath(linux_path, '/');
  EXPECT_EQ(linux_path, "/opt/exam/bin/x");
}

TEST(Paths, SplitPathOnWindowsAndLinuxPaths) {
  std::vector<std::string> parts;
  EXPECT_EQ(SplitPath("", parts), -1);
  EXPECT_TRUE(parts.empty());

  EXPECT_EQ(SplitPath("C:\\a\\b\\c", parts), 0);
  EXPECT_EQ(parts, (std::vector<std::string>{"C:\\a", "C:\\a\\b", "C:\\a\\b\\c"}));
  parts.clear();
  SplitPath("C:\\a\\b\\", parts);
  EXPECT_EQ(parts, (std::vector<std::string>{"C:\\a", "C:\\a\\b"}));
  parts.clear();
  SplitPath("\\\\srv\\share\\d", parts);
  EXPECT_EQ(parts, (std::vector<std::string>{"\\\\srv", "\\\\srv\\share", "\\\\srv\\share\\d"}));
  parts.clear();
  SplitPath("/opt/exam/bin/", parts);
  EXPECT_EQ(parts, (std::vector<std::string>{"/opt", "/opt/exam", "/opt/exam/bin"}));
  parts.clear();
  SplitPath("rel/dir", parts);
  EXPECT_EQ(parts, (std::vector<std::string>{"rel", "rel/dir"}));
}

TEST(Paths, MakeDirsCreatesParentsAndReportsWhatExists) {
  TempDir dir;
  const std::string deep = dir.path() + "a/b/c/";
  EXPECT_EQ(MakeDirs(deep, false, false), -1);  // parents missing
  EXPECT_FALSE(IsExistingDir(dir.path() + "a"));
  EXPECT_EQ(MakeDirs(deep, false, true), 0);
  EXPECT_TRUE(IsExistingDir(deep));
  EXPECT_EQ(MakeDirs(deep, true, true), -1);
  EXPECT_EQ(MakeDirs(deep, false, true), 0);

  WriteFile(dir.path() + "file", "x");
  EXPECT_TRUE(IsExistingFile(dir.path() + "file"));
  EXPECT_FALSE(IsExistingDir(dir.path() + "file"));
  EXPECT_FALSE(IsExistingFile(deep));
  // Only regular files: whoever asks goes on to open it, and a FIFO or a device would block.
  ASSERT_EQ(mkfifo((dir.path() + "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(IsExistingFile(dir.path() + "fifo"));
  EXPECT_FALSE(IsExistingFile("/dev/null"));
  EXPECT_EQ(MakeDirs(dir.path() + "file/sub", false, true), EEXIST);
}

TEST(Paths, AppDataFolderRules) {
  const char* saved_home = getenv("HOME");
  std::string home = saved_home ? saved_home : "";
  setenv("APPDATA", "/srv/appdata", 1);
  EXPECT_EQ(GetAppDataDir(), "/srv/appdata/Quellwick/");
  setenv("APPDATA", "", 1);
  setenv("XDG_DATA_HOME", "/srv/xdg/", 1);
  EXPECT_EQ(GetAppDataDir(), "/srv/xdg/Quellwick/");
  unsetenv("APPDATA");
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", "/home/cand", 1);
  EXPECT_EQ(GetAppDataDir(), "/home/cand/.local/share/Quellwick/");
  // Without any of them the user's own home folder from the password database, never a folder
  // that every user shares.
  unsetenv("HOME");
  std::string without_home = GetAppDataDir();
  if (saved_home) setenv("HOME", home.c_str(), 1);
  const passwd* user = getpwuid(getuid());
  ASSERT_NE(user, nullptr);
  std::string own = user->pw_dir;
  if (own.back() != '/') own += '/';
  EXPECT_EQ(without_home, own + ".local/share/Quellwick/");

  std::string module = GetModuleDir();
  ASSERT_FALSE(module.empty());
  EXPECT_EQ(module.back(), '/');
  EXPECT_TRUE(IsExistingDir(module));
}

TEST(ReadTextFile, SkipsByteOrderMarkAndEndsEveryLine) {
  TempDir dir;
  std::string raw;
  WriteFile(dir.path() + "bom.txt", "\xEF\xBB\xBFline1\r\nline2");
  EXPECT_EQ(ReadTextFile(dir.path() + "bom.txt", raw), "line1\r\nline2\n");

  for (const std::string& small : {std::string("a"), std::string("ab"), std::string("\xEF\xBB")}) {
    raw = "kept:";
    WriteFile(dir.path() + "small.txt", small);
    EXPECT_EQ(ReadTextFile(dir.path() + "small.txt", raw), "kept:" + small + "\n");
  }
  raw.clear();
  WriteFile(dir.path() + "empty.txt", "");
  EXPECT_EQ(ReadTextFile(dir.path() + "empty.txt", raw), "");

  try {
    ReadTextFile(dir.path() + "missing.txt", raw);
    FAIL() << "a missing file must throw";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "打开文件出错");
  }
  EXPECT_THROW(ReadTextFile(dir.path(), raw), std::runtime_error);
}

TEST(ReadWholeFile, EveryByteWhateverSizeTheFileReports) {
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 100000; ++i) bytes += static_cast<char>(i * 7);
  WriteFile(dir.path() + "binary", bytes);
  EXPECT_EQ(ReadWholeFile(dir.path() + "binary"), bytes);
  WriteFile(dir.path() + "empty", "");
  EXPECT_EQ(ReadWholeFile(dir.path() + "empty"), "");
  EXPECT_EQ(ReadWholeFile(dir.path() + "missing"), "");
  EXPECT_EQ(ReadWholeFile(dir.path()), "");

  // Size 0 in its status, yet many pages of text: read to its end all the same.
  std::ifstream in("/proc/kallsyms", std::ios::binary);
  std::string symbols((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  struct stat st;
  ASSERT_EQ(stat("/proc/kallsyms", &st), 0);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_GT(symbols.size(), 65536u);
  EXPECT_EQ(ReadWholeFile("/proc/kallsyms"), symbols);
}

TEST(FileVersion, OnlyTheClientItselfHasOne) {
  std::string self = GetModuleDir();
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  std::string version = GetFileVersionString(std::string(exe, static_cast<std::size_t>(n)));
  int a, b, c, d;
  EXPECT_EQ(std::sscanf(version.c_str(), "%d.%d.%d.%d", &a, &b, &c, &d), 4) << version;
  EXPECT_EQ(GetFileVersionString("/etc/hostname"), "");
  EXPECT_EQ(GetFileVersionString("/no/such/file"), "");
}

TEST(Processes, FindAndKillByName) {
  TempDir dir;
  // A copy of sleep under a name of its own, so that nothing else on the machine matches.
  const std::string exe = dir.path() + "qwsleeper";
  {
    std::ifstream in("/bin/sleep", std::ios::binary);
    std::ofstream out(exe, std::ios::binary);
    out << in.rdbuf();
  }
  ASSERT_EQ(chmod(exe.c_str(), 0755), 0);
  EXPECT_FALSE(IsProcessRunning("qwsleeper"));
  EXPECT_EQ(KillProcessByName("qwsleeper"), 0);

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(exe.c_str(), "qwsleeper", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 200 && !IsProcessRunning("QWSLEEPER"); ++i) usleep(10000);
  EXPECT_TRUE(IsProcessRunning("QWSLEEPER"));
  EXPECT_EQ(KillProcessByName("qwsleeper"), 1);
  EXPECT_FALSE(IsProcessRunning("qwsleeper"));  // a zombie of ours does not count
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
}

TEST(Processes, ShellOpenStartsOnlyExistingFiles) {
  TempDir dir;
  const std::string script = dir.path() + "open.sh";
  const std::string marker = dir.path() + "args";
  WriteFile(script, "#!/bin/sh\necho \"$@\" > '" + marker + "'\n");
  ASSERT_EQ(chmod(script.c_str(), 0755), 0);
  EXPECT_FALSE(ShellOpen(dir.path() + "none.sh", true));
  EXPECT_FALSE(ShellOpen(dir.path(), true));
  EXPECT_TRUE(ShellOpen(script, false));
  std::string args;
  for (int i = 0; i < 300 && args.empty(); ++i) {
    usleep(10000);
    std::ifstream in(marker);
    std::getline(in, args);
  }
  EXPECT_EQ(args, "-a a");
}

TEST(Network, DefaultRouteAndArpTables) {
  const std::string routes =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
      "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
      "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
      "eth0\t00000000\t010200C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
  EXPECT_EQ(DefaultRouteInterface(routes), "eth0");  // the lower metric wins
  EXPECT_EQ(DefaultRouteInterface("Iface\tDestination\n"), "");

  const std::string arp =
      "IP address       HW type     Flags       HW address            Mask     Device\n"
      "192.0.2.1        0x1         0x2         02:fc:00:00:0a:5e     *        eth0\n"
      "192.0.2.9        0x1         0x0         00:00:00:00:00:00     *        eth0\n";
  std::string mac = "unchanged";
  EXPECT_TRUE(MacFromArpTable(arp, "192.0.2.1", mac));
  EXPECT_EQ(mac, "02-FC-00-00-0A-5E");
  mac = "unchanged";
  EXPECT_FALSE(MacFromArpTable(arp, "192.0.2.9", mac));
  EXPECT_FALSE(MacFromArpTable(arp, "192.0.2.10", mac));
  EXPECT_EQ(mac, "unchanged");
  const unsigned char bytes[] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  EXPECT_EQ(FormatMac(bytes, 6), "00-1A-2B-3C-4D-5E");
}

TEST(Network, LocalAddressAnswersWithItsOwnMac) {
  std::string ip;
  ASSERT_TRUE(GetLocalIp(ip));
  EXPECT_NE(ip.rfind("127.", 0), 0u) << "the default-route address, not loopback: " << ip;
  std::string mac;
  ASSERT_TRUE(GetMacByArp(ip, mac));
  EXPECT_EQ(mac.size(), 17u);
  std::string unchanged = "x";
  EXPECT_FALSE(GetMacByArp("203.0.113.77", unchanged));
  EXPECT_FALSE(GetMacByArp("not an address", unchanged));
  EXPECT_EQ(unchanged, "x");
}

TEST(Text, UrlChecksAndSmallUtilities) {
  EXPECT_TRUE(IsAppUrl("app://demo"));
  EXPECT_FALSE(IsAppUrl("APP://demo"));
  EXPECT_FALSE(IsAppUrl("app:/"));

  EXPECT_TRUE(IsValidUrl("http://www.example.com/exam/index.html?a=1&b=2"));
  EXPECT_TRUE(IsValidUrl("exam.example.org:8080/x"));
  EXPECT_FALSE(IsValidUrl("apps/demo/index.html"));  // a relative page
  EXPECT_TRUE(IsValidUrl("index.html"));  // the pattern takes ".html" for a top-level part
  EXPECT_FALSE(IsValidUrl("http://www.example.com/a,b"));
  EXPECT_FALSE(IsValidUrl("/opt/exam/apps/demo/index.html"));

  EXPECT_EQ(NumberToString(4294967295u), "4294967295");
  std::string text = "a\nb\n\nc";
  EXPECT_EQ(ReplaceAll(text, "\n", ""), "abc");
  text = "aaa";
  EXPECT_EQ(ReplaceAll(text, "a", "aa"), "aaaaaa");  // inserted text is never searched again

  std::string body = "x";
  EXPECT_EQ(AppendResponseBody("hello", 1, 3, &body), 3);
  EXPECT_EQ(body, "xhel");
  EXPECT_EQ(AppendResponseBody(nullptr, 1, 3, &body), -1);
  EXPECT_EQ(AppendResponseBody("a", 1, 1, nullptr), -1);
}

TEST(Paths, TemporaryFolderIsPrivateToTheUser) {
  const char* saved = getenv("TMPDIR");
  std::string tmpdir = saved ? saved : "";
  setenv("TMPDIR", "/srv/tmp", 1);
  EXPECT_EQ(GetTempDir(), "/srv/tmp/");
  unsetenv("TMPDIR");
  std::string own = "/tmp/quellwick-" + std::to_string(getuid()) + "/";
  EXPECT_EQ(GetTempDir(), own);
  struct stat st;
  ASSERT_EQ(lstat(own.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_uid, getuid());
  if (saved) setenv("TMPDIR", tmpdir.c_str(), 1);

  TempDir root;
  std::string made = PrivateTempDir(root.path());
  EXPECT_EQ(made, root.path() + "quellwick-" + std::to_string(getuid()) + "/");
  ASSERT_EQ(stat(made.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(PrivateTempDir(root.path()), made);
}

TEST(Paths, APlantedTemporaryFolderIsNeverUsed) {
  // Another user made the name a link to a folder of theirs.
  TempDir linked;
  MakeDirs(linked.path() + "theirs/", false, true);
  std::string name = linked.path() + "quellwick-" + std::to_string(getuid());
  ASSERT_EQ(symlink((linked.path() + "theirs").c_str(), name.c_str()), 0);
  std::string used = PrivateTempDir(linked.path());
  EXPECT_EQ(used.compare(0, name.size() + 1, name + "-"), 0) << used;
  struct stat st;
  ASSERT_EQ(lstat(used.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(PrivateTempDir(linked.path()), used) << "one replacement for the whole run";

  // A file in its place.
  TempDir filed;
  WriteFile(filed.path() + "quellwick-" + std::to_string(getuid()), "x");
  EXPECT_NE(PrivateTempDir(filed.path()),
            filed.path() + "quellwick-" + std::to_string(getuid()) + "/");

  // A real folder that belongs to someone else (only root can make one here).
  if (getuid() != 0) return;
  TempDir owned;
  std::string theirs = owned.path() + "quellwick-0";
  ASSERT_EQ(mkdir(theirs.c_str(), 0777), 0);
  ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
  std::string replacement = PrivateTempDir(owned.path());
  EXPECT_NE(replacement, theirs + "/");
  ASSERT_EQ(lstat(replacement.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
}

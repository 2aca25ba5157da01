#include "shell/core/profile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <boost/filesystem.hpp>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/support/test_support.h"

namespace {

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string RunPython(const std::string& script) {
  std::string out;
  FILE* p = popen(("python3 -c '" + script + "'").c_str(), "r");
  if (!p) return "";
  char buf[256];
  while (fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  return out;
}

}  // namespace

TEST(Profile, NamesIgnoreCaseValuesAreTrimmedAndUnquoted) {
  TempDir dir;
  const std::string ini = dir.path() + "config.ini";
  WriteFile(ini,
            "; comment\r\n[Config]\r\nMutex = 1 \r\n ServiceUrl=\"http://exam.example.com/\"\r\n"
            "[HomePage]\nhome=app://demo\nhome=second\n[Empty]\n");
  EXPECT_EQ(ReadProfileString(ini, "config", "MUTEX", "", 16), "1");
  EXPECT_EQ(ReadProfileString(ini, "CONFIG", "serviceurl", "", 1024), "http://exam.example.com/");
  EXPECT_EQ(ReadProfileString(ini, "HomePage", "home", "", 1024), "app://demo");  // first wins
  EXPECT_EQ(ReadProfileString(ini, "Empty", "home", "dflt", 1024), "dflt");
  EXPECT_EQ(ReadProfileString(ini, "Config", "NavigationBar", "0", 16), "0");
  EXPECT_EQ(ReadProfileString(dir.path() + "none.ini", "a", "b", "d", 16), "d");
}

TEST(Profile, BufferCapacityCutsWholeCharacters) {
  TempDir dir;
  const std::string ini = dir.path() + "x.ini";
  WriteFile(ini, "[s]\nk=0123456789abcdefXYZ\nc=答题答题\n");
  EXPECT_EQ(ReadProfileString(ini, "s", "k", "", 16), "0123456789abcde");
  EXPECT_EQ(ReadProfileString(ini, "s", "c", "", 3), "答题");
  EXPECT_EQ(ReadProfileString(ini, "s", "c", "", 1), "");
}

TEST(Profile, WritesKeepOtherLinesAndReadBackInPython) {
  TempDir dir;
  const std::string ini = dir.path() + "hash.cache";
  EXPECT_TRUE(WriteProfileString(ini, "cache", "session", "0123ABCD"));
  EXPECT_TRUE(WriteProfileString(ini, "cache", "name", "张三 R&D"));
  EXPECT_TRUE(WriteProfileString(ini, "CACHE", "SESSION", "FFFF"));  // replaced in place, name kept
  EXPECT_TRUE(WriteProfileString(ini, "other", "k", "v"));
  EXPECT_EQ(ReadFile(ini), "[cache]\nsession=FFFF\nname=张三 R&D\n[other]\nk=v\n");

  WriteFile(ini, "[cache]\nsession=1\n\n; keep me\n[next]\nx=1\n");
  EXPECT_TRUE(WriteProfileString(ini, "cache", "added", "2"));
  EXPECT_EQ(ReadFile(ini), "[cache]\nsession=1\nadded=2\n\n; keep me\n[next]\nx=1\n");

  std::string out = RunPython(
      "import configparser; c = configparser.ConfigParser(); "
      "c.read(\"" + ini + "\", encoding=\"utf-8\"); print(c[\"cache\"][\"added\"], "
      "c[\"next\"][\"x\"])");
  EXPECT_EQ(out, "2 1\n");
}

TEST(Profile, FailedWriteLeavesTheFileAlone) {
  TempDir dir;
  const std::string ini = dir.path() + "sub/none.ini";  // folder missing
  EXPECT_FALSE(WriteProfileString(ini, "a", "b", "c"));
  // A folder in the file's place cannot be replaced; no temporary file is left behind.
  const std::string blocked = dir.path() + "blocked.ini";
  ASSERT_EQ(mkdir(blocked.c_str(), 0700), 0);
  EXPECT_FALSE(WriteProfileString(blocked, "a", "b", "c"));
  EXPECT_EQ(std::distance(boost::filesystem::directory_iterator(dir.path()),
                          boost::filesystem::directory_iterator()),
            1);
}

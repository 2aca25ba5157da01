#include "shell/core/program_log.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <boost/regex.hpp>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/test_support.h"

namespace {

std::string TodaysFile(const std::string& folder) {
  std::time_t now = std::time(nullptr);
  std::tm local;
  localtime_r(&now, &local);
  char name[32];
  std::strftime(name, sizeof name, "QNT-%Y%m%d.log", &local);
  return folder + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

TEST(ProgramLog, FormatLogTagEmptiesScratch) {
  std::string scratch = "left over";
  EXPECT_EQ(FormatLogTag("close", "constructor", scratch), "[close]: constructor");
  EXPECT_TRUE(scratch.empty());
}

TEST(ProgramLog, LineFormatThreadIdAndAppendAcrossRuns) {
  TempDir dir;
  const std::string folder = dir.path() + "data/log/";  // made by InitLog
  std::string scratch;
  QLOG_INFO << "dropped before the sink exists";
  InitLog(folder);
  QLOG_INFO << FormatLogTag("close", "constructor", scratch);
  std::thread([&] { QLOG_ERROR << FormatLogTag("exception", "two\nlines", scratch); }).join();
  ShutdownLog();
  QLOG_INFO << "dropped after shutdown";

  InitLog(folder);  // a second run on the same day appends
  QLOG_INFO << "second run";
  ShutdownLog();

  std::string text = ReadFile(TodaysFile(folder));
  std::istringstream lines(text);
  std::string first, second, third, fourth;
  std::getline(lines, first);
  std::getline(lines, second);
  std::getline(lines, third);
  std::getline(lines, fourth);
  boost::regex line(
      R"(\[\d{4}/\d{2}/\d{2}-\d{2}:\d{2}:\d{2}\.\d{6}\]\[0x([0-9a-f]{8})\]\[(info|error)\] .*)");
  boost::smatch m;
  ASSERT_TRUE(boost::regex_match(first, m, line)) << first;
  char tid[16];
  std::snprintf(tid, sizeof tid, "%08lx", static_cast<unsigned long>(syscall(SYS_gettid)));
  EXPECT_EQ(m[1].str(), tid);
  EXPECT_NE(first.find("][info] [close]: constructor"), std::string::npos);
  EXPECT_NE(second.find("][error] [exception]: two"), std::string::npos);
  EXPECT_EQ(third, "lines");  // line feeds of a message are written unchanged
  EXPECT_NE(fourth.find("][info] second run"), std::string::npos);
  EXPECT_EQ(text.find("dropped"), std::string::npos);
}

TEST(ProgramLog, FullFileIsKeptAsideAndTheDayGoesOn) {
  TempDir dir;
  const std::string folder = dir.path() + "log/";
  InitLog(folder);
  const std::string chunk(1000, 'x');
  std::size_t written = 0;
  int records = 0;
  while (written < kLogRotationSize + 200000) {
    QLOG_INFO << chunk << records++;
    written += chunk.size() + 40;
  }
  QLOG_INFO << "after rotation";
  ShutdownLog();

  const std::string today = TodaysFile(folder);
  const std::string aside = today.substr(0, today.size() - 4) + ".1.log";
  ASSERT_TRUE(boost::filesystem::exists(aside));
  EXPECT_LE(boost::filesystem::file_size(aside), kLogRotationSize + 2000);
  EXPECT_GE(boost::filesystem::file_size(aside), kLogRotationSize - 2000);
  std::string rest = ReadFile(today);
  EXPECT_LT(rest.size(), 400000u);
  EXPECT_NE(rest.find("after rotation"), std::string::npos);
  // Nothing is lost across the rotation: every record is in one of the two files.
  std::string all = ReadFile(aside) + rest;
  EXPECT_NE(all.find(chunk + "0\n"), std::string::npos);
  EXPECT_NE(all.find(chunk + std::to_string(records - 1) + "\n"), std::string::npos);
}

#include "transfer/seven_zip_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "shell/core/helpers.h"
#include "tests/support/test_support.h"
#include "tests/transfer/local_http_server.h"

using namespace testing_http;

namespace {

std::wstring W(const std::string& s) { return NarrowToWide(s); }

class SevenZipRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = root.path();
    logPath = dir + "7z.log";
    runner = std::make_unique<SevenZipRunner>(logPath);
  }
  // The entry names that "7z l -slt" lists.
  std::vector<std::string> List(const std::string& archive, const std::string& password = "") {
    std::string output;
    RunProgram({"7z", "l", "-slt", "-p" + password, archive}, &output);
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

  TempDir root;
  std::string dir;
  std::string logPath;
  std::unique_ptr<SevenZipRunner> runner;
};

}  // namespace

TEST(SevenZipCommandLine, SplitsAtBlanksOutsideQuotesAndDropsTheQuotes) {
  auto args = SevenZipRunner::SplitCommandLine(
      L"a \"/a/answer.apk\" @@\"/a/f1\",\"/a/sub dir\"  -r\t-x!\"/a/answer.apk\" \"\" x\"y z\"");
  std::vector<std::wstring> want{L"a", L"/a/answer.apk", L"@@/a/f1,/a/sub dir", L"-r",
                                 L"-x!/a/answer.apk", L"", L"xy z"};
  EXPECT_EQ(args, want);
  EXPECT_TRUE(SevenZipRunner::SplitCommandLine(L"  \t ").empty());
}

TEST(SevenZipCommandLine, AddArgumentsAreThoseOfTheDocumentedLine) {
  auto line = SevenZipRunner::SplitCommandLine(
      L"a \"/a/answer.apk\" @@\"/a/f1\",\"/a/sub\" -r -aoa -t7z -mx5 -ms=off -mhe=on -y "
      L"-x!\"/a/answer.apk\"");
  EXPECT_EQ(SevenZipRunner::AddArguments(L"/a/answer.apk", {L"/a/f1", L"/a/sub"}, L"", true),
            line);

  auto one = SevenZipRunner::AddArguments(L"/a/x.7z", {L"/a/f1"}, L"", false);
  std::vector<std::wstring> want{L"a",    L"/a/x.7z", L"@@/a/f1", L"-aoa",   L"-t7z",
                                 L"-mx5", L"-ms=off", L"-mhe=on", L"-y",     L"-x!/a/x.7z"};
  EXPECT_EQ(one, want);

  // A comma or a quote never splits or joins arguments.
  auto odd = SevenZipRunner::AddArguments(L"/a/x.7z", {L"/a/f,1", L"/a/q\"uote", L"-dash,x"},
                                          L"p\" -x!*", false);
  EXPECT_EQ(odd[2], L"@@/a/q\"uote");
  EXPECT_EQ(odd[3], L"/a/f,1");
  EXPECT_EQ(odd[4], L"./-dash,x");
  EXPECT_EQ(odd[5], L"-pp\" -x!*");
}

TEST(SevenZipCommandLine, ExtractNeverAsks) {
  std::vector<std::wstring> plain{L"x", L"/a/p.zip", L"-o/t/p", L"-p", L"-aoa", L"-y"};
  EXPECT_EQ(SevenZipRunner::ExtractArguments(L"/a/p.zip", L"/t/p", nullptr, nullptr), plain);
  EXPECT_EQ(SevenZipRunner::ExtractArguments(L"/a/p.zip", L"/t/p", L"", L""), plain);
  std::vector<std::wstring> full{L"x", L"/a/p.zip", L"-o/t/p", L"*.txt", L"-px", L"-aoa", L"-y"};
  EXPECT_EQ(SevenZipRunner::ExtractArguments(L"/a/p.zip", L"/t/p", L"*.txt", L"x"), full);
}

TEST(SevenZipCommandLine, ProgramFolderFallsBackToDebiansSevenZip) {
  EXPECT_EQ(SevenZipRunner::ProgramFolder(), "/usr/lib/p7zip/");
}

TEST_F(SevenZipRunnerTest, EmptyLineAndHelpDoNothing) {
  EXPECT_EQ(runner->Run(L""), kSevenZipNothingDone);
  EXPECT_EQ(runner->Run(L"   "), kSevenZipNothingDone);
  EXPECT_EQ(ReadFile(logPath), "");
  EXPECT_EQ(runner->Run(L"a x.7z -?"), kSevenZipNothingDone);
  EXPECT_EQ(ReadFile(logPath), "");
}

TEST_F(SevenZipRunnerTest, InlineListWithAnEmptyNameIsRefused) {
  WriteFile(dir + "f", "1");
  for (std::wstring line : {L"a \"" + W(dir) + L"x.7z\" @@\"" + W(dir) + L"f\",,\"" + W(dir) +
                                L"f\"",
                            L"a \"" + W(dir) + L"x.7z\" @@", L"a \"" + W(dir) + L"x.7z\" \"\""}) {
    try {
      runner->Run(line);
      ADD_FAILURE() << "no exception";
    } catch (const SevenZipException& e) {
      EXPECT_STREQ(e.what(), "Empty file path");
    }
  }
  EXPECT_FALSE(IsExistingFile(dir + "x.7z"));
}

TEST_F(SevenZipRunnerTest, SevenZipsOwnCommandLineErrorsBecomeExceptions) {
  WriteFile(dir + "f", "1");
  try {
    runner->Run(L"a \"" + W(dir) + L"x.7z\" \"" + W(dir) + L"f\" -qq");
    FAIL() << "no exception";
  } catch (const SevenZipException& e) {
    EXPECT_NE(std::string(e.what()).find("Unknown switch"), std::string::npos) << e.what();
  }
  try {
    runner->Run(L"a \"" + W(dir) + L"x.7z\" \"" + W(dir) + L"f\" -tnosuch");
    FAIL() << "no exception";
  } catch (const SevenZipException& e) {
    EXPECT_NE(std::string(e.what()).find("Unsupported archive type"), std::string::npos)
        << e.what();
  }
}

TEST_F(SevenZipRunnerTest, PacksFoldersAndOddNamesAndUpdatesAnExistingArchive) {
  std::string a = dir + "a/";
  MakeDirs(a + "rec/deep", false, true);
  WriteFile(a + "answer.xml", "<answer/>");
  WriteFile(a + "rec/1.wav", "RIFF");
  WriteFile(a + "rec/deep/2.wav", "RIFF2");
  WriteFile(a + "comma,name.txt", "c");
  WriteFile(a + "quote\"name.txt", "q");
  WriteFile(a + "答案.txt", "中文");
  std::string archive = a + "answer.apk";
  EXPECT_EQ(runner->Add(W(archive),
                        {W(a + "answer.xml"), W(a + "rec"), W(a + "comma,name.txt"),
                         W(a + "quote\"name.txt"), W(a + "答案.txt")},
                        L"", true),
            kSevenZipOk);
  std::vector<std::string> want{"answer.xml",     "comma,name.txt", "quote\"name.txt",
                                "rec",            "rec/1.wav",      "rec/deep",
                                "rec/deep/2.wav", "答案.txt"};
  EXPECT_EQ(List(archive), want);
  EXPECT_NE(ReadFile(logPath).find("Everything is Ok"), std::string::npos);

  // A later pack updates the archive: earlier entries stay.
  WriteFile(a + "later.txt", "l");
  EXPECT_EQ(runner->Add(W(archive), {W(a + "later.txt")}, L"", true), kSevenZipOk);
  want.push_back("later.txt");
  std::sort(want.begin(), want.end());
  EXPECT_EQ(List(archive), want);
}

TEST_F(SevenZipRunnerTest, TheArchiveIsNeverPackedIntoItself) {
  std::string a = dir + "a/";
  MakeDirs(a + "rec", false, true);
  WriteFile(a + "answer.xml", "<answer/>");
  WriteFile(a + "rec/1.wav", "RIFF");
  std::string archive = a + "answer.apk";
  ASSERT_EQ(runner->Add(W(archive), {W(a + "answer.xml")}, L"", true), kSevenZipOk);
  // The folder that holds the archive, once by its name and once through a wildcard.
  ASSERT_EQ(runner->Add(W(archive), {W(dir + "a")}, L"", true), kSevenZipOk);
  ASSERT_EQ(runner->Add(W(archive), {W(a + "*")}, L"", true), kSevenZipOk);
  std::vector<std::string> want{"a",   "a/answer.xml", "a/rec", "a/rec/1.wav",
                                "answer.xml", "rec", "rec/1.wav"};
  EXPECT_EQ(List(archive), want);
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir)) left.push_back(e.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"7z.log", "a"})) << "no staging file left behind";
}

TEST_F(SevenZipRunnerTest, MissingNamedFilesGiveWarningsAndExitCodeOne) {
  WriteFile(dir + "here.txt", "1");
  std::string archive = dir + "w.7z";
  EXPECT_EQ(runner->Add(W(archive), {W(dir + "here.txt"), W(dir + "gone.txt")}, L"", true),
            kSevenZipWarnings);
  std::string log = ReadFile(logPath);
  EXPECT_NE(log.find("WARNINGS for files:"), std::string::npos);
  EXPECT_NE(log.find(dir + "gone.txt"), std::string::npos);
  EXPECT_NE(log.find("----------------\nWARNING: Cannot find 1 file\n"), std::string::npos);

  EXPECT_EQ(runner->Add(W(archive), {W(dir + "gone1"), W(dir + "gone2")}, L"", false),
            kSevenZipWarnings);
  EXPECT_NE(ReadFile(logPath).find("WARNING: Cannot find 2 files"), std::string::npos);
}

TEST_F(SevenZipRunnerTest, ExtractOverwritesAndNeverWaitsForAPassword) {
  std::string src = dir + "src/";
  MakeDirs(src + "sub", false, true);
  WriteFile(src + "a.txt", "new");
  WriteFile(src + "sub/b.txt", "b");
  std::string plain = dir + "plain.7z";
  ASSERT_EQ(RunProgram({"7z", "a", plain, src + "a.txt", src + "sub"}), 0);
  std::string out = dir + "out/";
  MakeDirs(out, false, true);
  WriteFile(out + "a.txt", "old");
  EXPECT_EQ(runner->Extract(W(plain).c_str(), W(out).c_str(), nullptr, nullptr), kSevenZipOk);
  EXPECT_EQ(ReadFile(out + "a.txt"), "new");
  EXPECT_EQ(ReadFile(out + "sub/b.txt"), "b");

  // A password holding a quote and what looks like switches stays one password.
  std::string secret = "pa\"ss -x!* -o/tmp";
  std::string locked = dir + "locked.7z";
  ASSERT_EQ(runner->Add(W(locked), {W(src + "a.txt")}, W(secret), false), kSevenZipOk);
  EXPECT_TRUE(List(locked).empty()) << "headers are encrypted";
  EXPECT_EQ(List(locked, secret), std::vector<std::string>{"a.txt"});

  std::string out2 = dir + "out2/";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(runner->Extract(W(locked).c_str(), W(out2).c_str(), nullptr, nullptr),
            kSevenZipErrors);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_FALSE(IsExistingFile(out2 + "a.txt"));
  EXPECT_EQ(runner->Extract(W(locked).c_str(), W(out2).c_str(), L"", W(secret).c_str()),
            kSevenZipOk);
  EXPECT_EQ(ReadFile(out2 + "a.txt"), "new");

  EXPECT_EQ(runner->Extract(W(dir + "missing.7z").c_str(), W(out2).c_str(), nullptr, nullptr),
            kSevenZipErrors);
}

TEST_F(SevenZipRunnerTest, LogCollectsEveryOperationAndIsEmptiedByANewRunner) {
  WriteFile(dir + "f", "1");
  ASSERT_EQ(runner->Add(W(dir + "one.7z"), {W(dir + "f")}, L"", false), kSevenZipOk);
  ASSERT_EQ(runner->Add(W(dir + "two.7z"), {W(dir + "f")}, L"", false), kSevenZipOk);
  std::string log = ReadFile(logPath);
  EXPECT_NE(log.find("one.7z"), std::string::npos);
  EXPECT_NE(log.find("two.7z"), std::string::npos);
  runner = std::make_unique<SevenZipRunner>(logPath);
  EXPECT_EQ(ReadFile(logPath), "");
}

TEST_F(SevenZipRunnerTest, OperationsFromManyThreadsDoNotOverlap) {
  setenv("APPDATA", dir.c_str(), 1);  // the shared runner logs inside this test's folder
  WriteFile(dir + "f", std::string(200000, 'x'));
  std::vector<std::thread> threads;
  std::vector<int> results(6, -9);
  for (int i = 0; i < 6; ++i) {
    threads.emplace_back([&, i] {
      SevenZipRunner* shared = i % 2 ? GetSevenZipRunner() : runner.get();
      results[i] = shared->Add(W(dir + "t" + std::to_string(i) + ".7z"), {W(dir + "f")}, L"",
                               false);
    });
  }
  for (auto& t : threads) t.join();
  for (int r : results) EXPECT_EQ(r, kSevenZipOk);
  EXPECT_EQ(GetSevenZipRunner(), GetSevenZipRunner());
  // Each operation's output is whole: the summaries never interleave.
  std::string log = ReadFile(logPath);
  std::size_t count = 0;
  for (std::size_t at = log.find("Everything is Ok"); at != std::string::npos;
       at = log.find("Everything is Ok", at + 1))
    ++count;
  EXPECT_EQ(count, 3u);
}

TEST_F(SevenZipRunnerTest, AnUpdateThatFailsRaisesSevenZipsError) {
  WriteFile(dir + "f", "1");
  WriteFile(dir + "garbage.7z", "this is no archive");
  try {
    runner->Add(W(dir + "garbage.7z"), {W(dir + "f")}, L"", false);
    FAIL() << "no exception";
  } catch (const SevenZipException& e) {
    EXPECT_NE(std::string(e.what()).find("garbage.7z"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadFile(dir + "garbage.7z"), "this is no archive");
}

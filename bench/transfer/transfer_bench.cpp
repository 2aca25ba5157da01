// Hand-in and download against the tools a person would use instead, in one run on the same
// files and the same local server: uploadanswer of a 50 MB answer folder against "7z a" followed
// by "curl -F", and download of a 100 MB file against "curl -o". Prints the ratios at the end.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>

#include "exam_commands/transfer_commands.h"
#include "shell/commands/dispatcher.h"
#include "shell/commands/main_state.h"
#include "shell/core/helpers.h"
#include "shell/core/program_log.h"
#include "tests/transfer/local_http_server.h"

namespace fs = std::filesystem;
using namespace testing_http;

namespace {

constexpr std::size_t kMiB = 1 << 20;

struct Setup {
  std::string root;
  std::string pristine;  // the answer folder's files, linked into place before each hand-in
  std::string answers;
  std::string cache;
  std::unique_ptr<LocalHttpServer> server;
  MainDlgState state;
  std::vector<std::string> listed;
};

Setup* g_setup = nullptr;

void WriteRandom(const std::string& path, std::size_t size, std::mt19937_64& random) {
  std::vector<std::uint64_t> block(kMiB / 8);
  FILE* f = std::fopen(path.c_str(), "wb");
  for (std::size_t done = 0; done < size; done += kMiB) {
    for (auto& word : block) word = random();
    std::fwrite(block.data(), 1, std::min(kMiB, size - done), f);
  }
  std::fclose(f);
}

void Prepare() {
  auto* s = new Setup;
  char pattern[] = "/tmp/qwbench-XXXXXX";
  s->root = std::string(mkdtemp(pattern)) + "/";
  setenv("APPDATA", s->root.c_str(), 1);
  std::string data = GetAppDataDir();
  MakeDirs(data + "log", false, true);
  InitLog(data + "log/");
  s->cache = data + "cache/";
  s->answers = s->cache + "answer/E1/P1/";
  s->pristine = s->root + "pristine/";
  std::string files = s->root + "files/";
  std::string store = s->root + "store/";
  for (const std::string& d : {s->answers, s->pristine + "rec", files, store, s->root + "tmp"})
    MakeDirs(d, false, true);
  // Recordings do not compress: random bytes stand for them.
  std::mt19937_64 random(42);
  WriteRandom(s->pristine + "answer.xml", 64 * 1024, random);
  for (int i = 0; i < 10; ++i)
    WriteRandom(s->pristine + "rec/" + std::to_string(i) + ".wav", 5 * kMiB, random);
  WriteRandom(files + "big.bin", 100 * kMiB, random);
  s->listed = {"answer.xml", "rec"};

  s->server = std::make_unique<LocalHttpServer>(store, false, files);
  s->state.dataDir = data;
  s->state.UpdateSession([&](SessionState& session) {
    session.cacheFolder = s->cache;
    session.answerFolder = s->answers;
    session.appsFolder = data + "apps/";
    session.tempFolder = s->root + "tmp/";
    session.baseUrl = s->server->Base();
  });
  g_pMainDlg = &s->state;
  RegisterTransferCommands();
  g_setup = s;
}

// The answer folder as the candidate left it, without an archive.
void RestoreAnswers() {
  fs::remove_all(g_setup->answers);
  fs::create_directories(g_setup->answers + "rec");
  for (const auto& e : fs::recursive_directory_iterator(g_setup->pristine)) {
    if (!e.is_regular_file()) continue;
    fs::path relative = fs::relative(e.path(), g_setup->pristine);
    fs::create_hard_link(e.path(), g_setup->answers + relative.string());
  }
}

void ClearStore() {
  for (const auto& e : fs::directory_iterator(g_setup->root + "store/")) fs::remove(e.path());
}

void BM_UploadAnswer(benchmark::State& st) {
  for (auto _ : st) {
    st.PauseTiming();
    RestoreAnswers();
    ClearStore();
    st.ResumeTiming();
    std::string reply = DispatchCmd("Bench", "uploadanswer",
                                    "{\"url\":\"hand-in\",\"file\":[\"answer.xml\",\"rec\"]}", "0");
    if (reply.find("\"flag\":1") == std::string::npos) st.SkipWithError(reply.c_str());
  }
}

void BM_SevenZipThenCurl(benchmark::State& st) {
  for (auto _ : st) {
    st.PauseTiming();
    RestoreAnswers();
    ClearStore();
    st.ResumeTiming();
    std::string archive = g_setup->answers + "answer.apk";
    std::vector<std::string> pack{"7z", "a", archive};
    for (const std::string& f : g_setup->listed) pack.push_back(g_setup->answers + f);
    for (const char* o : {"-r", "-aoa", "-t7z", "-mx5", "-ms=off", "-mhe=on", "-y"})
      pack.push_back(o);
    if (RunProgram(pack) != 0) st.SkipWithError("7z failed");
    if (RunProgram({"curl", "-s", "-f", "-o", "/dev/null", "-F", "answer=@" + archive,
                    g_setup->server->Url("hand-in")}) != 0)
      st.SkipWithError("curl failed");
  }
}

void BM_Download(benchmark::State& st) {
  for (auto _ : st) {
    std::string reply = DispatchCmd(
        "Bench", "download",
        "{\"filelist\":[{\"url\":\"files/big.bin\",\"name\":\"big.bin\",\"force\":true}]}", "0");
    if (reply.find("\"flag\":1") == std::string::npos) st.SkipWithError(reply.c_str());
    st.PauseTiming();
    ClearStore();
    st.ResumeTiming();
  }
}

void BM_CurlDownload(benchmark::State& st) {
  for (auto _ : st) {
    if (RunProgram({"curl", "-s", "-f", "-o", g_setup->cache + "curl.bin",
                    g_setup->server->Url("files/big.bin")}) != 0)
      st.SkipWithError("curl failed");
    st.PauseTiming();
    ClearStore();
    st.ResumeTiming();
  }
}

// Keeps each benchmark's mean real time per repetition for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(1) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      Sum& sum = sums[run.run_name.function_name];
      sum.seconds += run.real_accumulated_time / run.iterations;
      ++sum.count;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double Mean(const std::string& name) const {
    auto it = sums.find(name);
    return it == sums.end() || it->second.count == 0 ? 0 : it->second.seconds / it->second.count;
  }

 private:
  struct Sum {
    double seconds = 0;
    int count = 0;
  };
  std::map<std::string, Sum> sums;
};

}  // namespace

int main(int argc, char** argv) {
  // The machine's load drifts: the repetitions of the four are interleaved so that each pair
  // sees the same conditions.
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  Prepare();
  const int rounds = 6;
  for (auto [name, function] : std::vector<std::pair<const char*, void (*)(benchmark::State&)>>{
           {"uploadanswer_50MB", BM_UploadAnswer},
           {"7z_a_then_curl_F_50MB", BM_SevenZipThenCurl},
           {"download_100MB", BM_Download},
           {"curl_o_100MB", BM_CurlDownload}}) {
    benchmark::RegisterBenchmark(name, function)
        ->Iterations(1)
        ->Repetitions(rounds)
        ->ReportAggregatesOnly(false)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  auto ratio = [&](const char* ours, const char* theirs, double target) {
    double a = reporter.Mean(ours);
    double b = reporter.Mean(theirs);
    if (a <= 0 || b <= 0) return;
    std::printf("%s %.0f ms / %s %.0f ms = %.3f (target at most %.2f)%s\n", ours, a * 1000,
                theirs, b * 1000, a / b, target, a / b <= target ? "" : "  MISSED");
  };
  ratio("uploadanswer_50MB", "7z_a_then_curl_F_50MB", 1.15);
  ratio("download_100MB", "curl_o_100MB", 1.10);

  g_pMainDlg = nullptr;
  ShutdownLog();
  g_setup->server.reset();
  fs::remove_all(g_setup->root);
  return 0;
}

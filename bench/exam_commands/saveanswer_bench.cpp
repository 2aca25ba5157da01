// One saveanswer into an answer document that already holds 500 questions, flushed to disk as
// every save is. The folder is made under $QW_BENCH_DIR (default: the current folder), so that
// the disk measured is a real one and not a memory-backed /tmp.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <boost/filesystem.hpp>
#include <string>

#include "exam_commands/exam_session_commands.h"
#include "shell/commands/dispatcher.h"
#include "shell/core/helpers.h"

namespace {

constexpr int kQuestions = 500;

std::string Item(int question, const std::string& value) {
  std::string id = std::to_string(question);
  return "{\"key\":\"/test/q" + id + "/response[id=" + id + "]/answer\",\"value\":\"" + value +
         "\"}";
}

class AnswerDocument {
 public:
  AnswerDocument() {
    const char* base = std::getenv("QW_BENCH_DIR");
    std::string pattern = std::string(base && *base ? base : ".") + "/qwbench-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    folder_ = pattern + "/";
    state_.dataDir = folder_;
    state_.UpdateSession([&](SessionState& s) { s.answerFolder = folder_; });
    g_pMainDlg = &state_;
    RegisterExamSessionCommands();
    std::string batch = "[";
    for (int q = 0; q < kQuestions; ++q) {
      if (q) batch += ",";
      batch += Item(q, "第" + std::to_string(q) + "题的答案，长度与真实作答相近的一段文字");
    }
    Save(batch + "]");
  }
  ~AnswerDocument() {
    StopAllCommands(state_, [] {});
    g_pMainDlg = nullptr;
    boost::system::error_code ec;
    boost::filesystem::remove_all(folder_, ec);
  }
  static bool Save(const std::string& params) {
    std::string reply = DispatchCmd("Bench", "saveanswer", params.c_str(), "0");
    return reply.find("\"flag\":1") != std::string::npos;
  }

 private:
  std::string folder_;
  MainDlgState state_;
};

void BM_SaveOneAnswerInto500(benchmark::State& state) {
  AnswerDocument document;
  int round = 0;
  for (auto _ : state) {
    std::string params = "[" + Item(round % kQuestions, "改过的答案" + std::to_string(round)) + "]";
    ++round;
    if (!AnswerDocument::Save(params)) {
      state.SkipWithError("saveanswer failed");
      break;
    }
  }
}
BENCHMARK(BM_SaveOneAnswerInto500)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);  // mean, median and deviation of the five runs

}  // namespace

BENCHMARK_MAIN();

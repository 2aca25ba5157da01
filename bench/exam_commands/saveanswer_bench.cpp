// One saveanswer into an answer document that already holds 500 questions, flushed to disk as
// every save is, against its floor: the same bytes written to a new file, flushed, renamed over
// the document and the folder flushed. Two documents: short answers (about 60 KB), and answers of
// about 8 KB each, an essay paper (about 4 MB), where every step that touches the whole file
// shows. The folder is made under $QW_BENCH_DIR (default: the current folder), so that the disk
// measured is a real one and not a memory-backed /tmp.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/common/figures.h"
#include "exam_commands/exam_session_commands.h"
#include "shell/commands/dispatcher.h"
#include "shell/core/helpers.h"

namespace {

constexpr int kQuestions = 500;

struct Case {
  const char* name;
  int answerRepeats;  // times the sample answer stands in each answer
  int savesPerRound;
  std::vector<double> saves, floor;
};
Case g_cases[] = {{"500 short answers", 1, 100, {}, {}},
                  {"500 answers of 8 KB", 180, 20, {}, {}}};

// A sample answer of 45 bytes, |repeats| times, then |tag|: every save keeps the size.
std::string Answer(int repeats, const std::string& tag) {
  std::string text;
  for (int i = 0; i < repeats; ++i) text += "长度与真实作答相近的一段文字，";
  return text + tag;
}

std::string Item(int question, const std::string& value) {
  std::string id = std::to_string(question);
  return "{\"key\":\"/test/q" + id + "/response[id=" + id + "]/answer\",\"value\":\"" + value +
         "\"}";
}

class AnswerDocument {
 public:
  explicit AnswerDocument(int answerRepeats) {
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
      batch += Item(q, Answer(answerRepeats, "第" + std::to_string(q) + "题"));
    }
    Save(batch + "]");
  }
  ~AnswerDocument() {
    StopAllCommands(state_, [] {});
    g_pMainDlg = nullptr;
    boost::system::error_code ec;
    boost::filesystem::remove_all(folder_, ec);
  }
  std::string folder() const { return folder_; }
  static bool Save(const std::string& params) {
    std::string reply = DispatchCmd("Bench", "saveanswer", params.c_str(), "0");
    return reply.find("\"flag\":1") != std::string::npos;
  }

 private:
  std::string folder_;
  MainDlgState state_;
};

bool ReplaceWith(const std::string& folder, const std::string& bytes) {
  std::string temp = folder + "floor.tmp";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
            fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), (folder + "floor.xml").c_str()) != 0) return false;
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ok = dir >= 0 && fsync(dir) == 0;
  if (dir >= 0) close(dir);
  return ok;
}

// One round: saves and their floor taken turn about on the same disk, so that a change of the
// disk's load meets both alike; each figure is the mean of the round in milliseconds.
void BM_SaveOneAnswerAndItsFloor(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  using Ms = std::chrono::duration<double, std::milli>;
  Case& c = g_cases[state.range(0)];
  state.SetLabel(c.name);
  AnswerDocument document(c.answerRepeats);
  int round = 0;
  size_t size = 0;
  for (auto _ : state) {
    Ms saving{0}, flooring{0};
    for (int i = 0; i < c.savesPerRound; ++i, ++round) {
      std::string params =
          "[" + Item(round % kQuestions, Answer(c.answerRepeats, "改" + std::to_string(round))) +
          "]";
      auto start = Clock::now();
      if (!AnswerDocument::Save(params)) {
        state.SkipWithError("saveanswer failed");
        return;
      }
      saving += Clock::now() - start;
      std::string bytes = ReadWholeFile(document.folder() + "answer.xml");
      size = bytes.size();
      start = Clock::now();
      if (!ReplaceWith(document.folder(), bytes)) {
        state.SkipWithError("write failed");
        return;
      }
      flooring += Clock::now() - start;
    }
    c.saves.push_back(saving.count() / c.savesPerRound);
    c.floor.push_back(flooring.count() / c.savesPerRound);
    state.counters["saveanswer_ms"] = c.saves.back();
    state.counters["floor_ms"] = c.floor.back();
    state.counters["bytes"] = static_cast<double>(size);
  }
}
BENCHMARK(BM_SaveOneAnswerAndItsFloor)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const Case& c : g_cases) {
    std::string name = c.name;
    figures::PrintRounds("saveanswer, " + name, c.saves, "ms");
    figures::PrintRounds("write + fsync + rename + folder fsync, " + name, c.floor, "ms");
    figures::PrintFigure("saveanswer median, " + name, figures::Median(c.saves),
                         figures::Median(c.floor), "ms");
  }
  return 0;
}

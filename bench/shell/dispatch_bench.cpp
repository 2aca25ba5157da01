// Dispatches per second of a trivial command through the whole dispatcher: with the program log
// written to disk as in the client against the same with the log off, and on eight threads
// against one (the bridge lock and the log must not serialise the workers into less than one).
// The log's own floor is measured beside them: the five flushed 100-byte write(2) calls that a
// dispatch's five records cost at the least, with nothing else. Each figure is the median of
// five rounds; the rounds of the set-ups alternate, so that a busy machine weighs on all alike.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/filesystem.hpp>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "shell/commands/dispatcher.h"
#include "shell/core/program_log.h"

namespace {

constexpr int kRounds = 5;
constexpr auto kRoundTime = std::chrono::milliseconds(400);

class TrivialCommand : public Command {
 public:
  explicit TrivialCommand(const CommandRequest& r) : Command("trivial", r) {}
  void execute(std::string& reply) override { BuildCallbackJson(1, "操作成功", "", reply); }
};

// Dispatches on |threads| workers for one round; the rate of all of them together.
double Round(int threads) {
  std::atomic<bool> go{false}, done{false};
  std::vector<long> counts(threads, 0);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      while (!go) std::this_thread::yield();
      long n = 0;
      while (!done) {
        const char* reply = DispatchCmd("SysCmd", "close", "", "0");
        if (!reply || reply[0] != '{') std::abort();
        ++n;
      }
      counts[t] = n;
    });
  }
  auto start = std::chrono::steady_clock::now();
  go = true;
  std::this_thread::sleep_for(kRoundTime);
  done = true;
  for (auto& w : workers) w.join();
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  long total = 0;
  for (long n : counts) total += n;
  return total / seconds;
}

// Five 100-byte lines written to one file with one write(2) each, as a dispatch's records are;
// the rate of such groups for one round.
double WriteFloorRound(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) std::abort();
  std::string line(99, 'x');
  line.push_back('\n');
  long n = 0;
  auto start = std::chrono::steady_clock::now();
  auto end = start + kRoundTime;
  while (std::chrono::steady_clock::now() < end) {
    for (int i = 0; i < 5; ++i) {
      if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) std::abort();
    }
    ++n;
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  close(fd);
  std::remove(path.c_str());
  return n / seconds;
}

struct Figures {
  std::vector<double> rates;
  double median() const {
    std::vector<double> sorted = rates;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
  }
  void Print(const char* what) const {
    std::printf("%-22s min %8.0f  median %8.0f  max %8.0f /s\n", what,
                *std::min_element(rates.begin(), rates.end()), median(),
                *std::max_element(rates.begin(), rates.end()));
  }
};

}  // namespace

int main(int argc, char** argv) {
  // "profile" (or "profile8"): only the log-on set-up on one (or eight) threads, for a few
  // seconds, for a profiler to watch.
  const std::string mode = argc > 1 ? argv[1] : "";
  const bool profile = mode == "profile" || mode == "profile8";
  char pattern[] = "/tmp/qwbench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string root = pattern;
  const std::string logDir = root + "/log/";
  static MainDlgState state;
  CommandFactory::Register("close", &MakeCommand<TrivialCommand>);
  g_pMainDlg = &state;

  if (profile) {
    InitLog(logDir);
    for (int i = 0; i < 8; ++i) Round(mode == "profile8" ? 8 : 1);
    ShutdownLog();
    boost::filesystem::remove_all(root);
    return 0;
  }

  Figures logOn, logOff, eightThreads, writeFloor;
  for (int round = 0; round < kRounds; ++round) {
    writeFloor.rates.push_back(WriteFloorRound(root + "/floor.log"));
    InitLog(logDir);
    logOn.rates.push_back(Round(1));
    eightThreads.rates.push_back(Round(8));
    ShutdownLog();
    logOff.rates.push_back(Round(1));
    // Each round begins with a fresh file, as the log's size would otherwise weigh on the last.
    boost::filesystem::remove_all(logDir);
  }
  boost::filesystem::remove_all(root);

  logOn.Print("log on, 1 thread:");
  logOff.Print("log off, 1 thread:");
  eightThreads.Print("log on, 8 threads:");
  writeFloor.Print("write floor, 1 thread:");
  std::printf("log on reaches %.2f of the write floor\n", logOn.median() / writeFloor.median());
  std::printf("dispatches per second, 1 thread: %.0f /s vs %.0f /s = %.2f\n", logOn.median(),
              logOff.median(), logOn.median() / logOff.median());
  std::printf("dispatches per second, 8 threads: %.0f /s vs %.0f /s = %.2f\n",
              eightThreads.median(), logOn.median(), eightThreads.median() / logOn.median());
  return 0;
}

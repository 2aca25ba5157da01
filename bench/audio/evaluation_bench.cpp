// Seconds per evaluated item and peak memory, against PocketSphinx's own decoder on the same 5 s
// recording in the same run:
//   decoder  "pocketsphinx_continuous -infile": model load and free decoding;
//   engine   mirvane.exe started, connected (handshake polled every 5 ms), one reading-aloud
//            item scored (free recognition and forced alignment), ended;
//   evaluate the whole item through the evaluate command: restart with the 200 ms handshake
//            poll, evaluation, restart, stop.
// Prints min/median/max of each and the ratios of the medians at the end.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "audio/evaluation_commands.h"
#include "audio/evaluator.h"
#include "platform/mirvane_transport/transport_client.h"
#include "shell/commands/dispatcher.h"
#include "shell/commands/main_state.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string g_folder;
std::map<std::string, std::vector<double>> g_seconds;
std::map<std::string, long> g_peakKb;

bool Run(const std::string& command) { return system(command.c_str()) == 0; }

void Prepare() {
  char pattern[] = "/tmp/evalbench-XXXXXX";
  g_folder = std::string(mkdtemp(pattern)) + "/";
  mkdir((g_folder + "run").c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", (g_folder + "run").c_str(), 1);
  const char text[] = "I usually drink a cup of tea with milk in the morning, then I walk to school.";
  if (!Run("flite -voice slt -t '" + std::string(text) + "' -o " + g_folder + "raw.wav") ||
      !Run("sox " + g_folder + "raw.wav -r 16000 -c 1 -b 16 " + g_folder +
           "item.wav pad 0.5 0"))
    std::abort();
  FILE* paper = std::fopen((g_folder + "paper.json").c_str(), "w");
  std::fprintf(paper, "{\"text\":\"%s\"}\n", text);
  std::fclose(paper);
}

// Starts a program, waits for it, and returns its peak resident memory in KiB.
long RunChild(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) std::abort();
  int status;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return usage.ru_maxrss;
}

void Decoder(benchmark::State& state) {
  for (auto _ : state) {
    auto start = Clock::now();
    long kb = RunChild({"pocketsphinx_continuous", "-infile", g_folder + "item.wav", "-logfn",
                        "/dev/null"});
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(s);
    g_seconds["decoder"].push_back(s);
    g_peakKb["decoder"] = std::max(g_peakKb["decoder"], kb);
  }
}

struct Inbox {
  std::mutex mutex;
  std::condition_variable changed;
  int handshakes = 0;
  int results = 0;
} g_inbox;

int Receive(int number, const wchar_t*) {
  std::lock_guard<std::mutex> lock(g_inbox.mutex);
  if (number == 8888) ++g_inbox.handshakes;
  if (number == 2900) ++g_inbox.results;
  g_inbox.changed.notify_all();
  return 0;
}

std::string Request() {
  return "{\"category\":\"read_aloud\",\"identity\":\"b\",\"paper_file\":\"" + g_folder +
         "paper.json\",\"snd_file\":\"" + g_folder + "item.wav\",\"dist_file\":\"" + g_folder +
         "dist.json\"}";
}

void Engine(benchmark::State& state) {
  std::string engine = std::string(ENGINE_FOLDER) + "mirvane.exe";
  for (auto _ : state) {
    {
      std::lock_guard<std::mutex> lock(g_inbox.mutex);
      g_inbox.handshakes = g_inbox.results = 0;
    }
    auto start = Clock::now();
    char* argv[] = {&engine[0], nullptr};
    pid_t pid;
    if (posix_spawn(&pid, engine.c_str(), nullptr, nullptr, argv, environ) != 0) std::abort();
    mirvane::TransportClient client;
    client.SetParam(L"recv_msg", std::to_wstring(reinterpret_cast<uintptr_t>(&Receive)));
    client.Open(L"ut_mirvane", 0);
    while (true) {
      client.Send(8888, L"ut");
      std::unique_lock<std::mutex> lock(g_inbox.mutex);
      if (g_inbox.changed.wait_for(lock, std::chrono::milliseconds(5),
                                   [] { return g_inbox.handshakes > 0; }))
        break;
    }
    std::string request = Request();
    client.Send(3, std::wstring(request.begin(), request.end()));
    {
      std::unique_lock<std::mutex> lock(g_inbox.mutex);
      g_inbox.changed.wait(lock, [] { return g_inbox.results > 0; });
    }
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    client.Close();
    kill(pid, SIGKILL);
    int status;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    state.SetIterationTime(s);
    g_seconds["engine"].push_back(s);
    g_peakKb["engine"] = std::max(g_peakKb["engine"], usage.ru_maxrss);
  }
}

void Evaluate(benchmark::State& state) {
  MainDlgState dialog;
  g_pMainDlg = &dialog;
  RegisterEvaluationCommands();
  CEvaluator evaluator(ENGINE_FOLDER, false);
  dialog.evaluator = &evaluator;
  EvalItem item;
  item.identity = "b";
  item.snd_file = g_folder + "item.wav";
  item.paper_file = g_folder + "paper.json";
  item.dist_file = g_folder + "dist.json";
  item.category = "read_aloud";
  dialog.evalQueue.push_back(item);
  for (auto _ : state) {
    auto start = Clock::now();
    std::string reply = DispatchCmd("Bench", "evaluate", "", "0");
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    if (reply.find("\\\"code\\\":0") == std::string::npos) state.SkipWithError(reply.c_str());
    state.SetIterationTime(s);
    g_seconds["evaluate"].push_back(s);
  }
  StopAllCommands(dialog, [] {});
  dialog.evaluator = nullptr;
  g_pMainDlg = nullptr;
}

BENCHMARK(Decoder)->UseManualTime()->Iterations(1)->Repetitions(7)->Unit(benchmark::kMillisecond);
BENCHMARK(Engine)->UseManualTime()->Iterations(1)->Repetitions(7)->Unit(benchmark::kMillisecond);
BENCHMARK(Evaluate)->UseManualTime()->Iterations(1)->Repetitions(7)->Unit(benchmark::kMillisecond);

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Prepare();
  benchmark::RunSpecifiedBenchmarks();
  std::printf("\nseconds per item (min / median / max), peak memory\n");
  for (const char* name : {"decoder", "engine", "evaluate"}) {
    std::vector<double> v = g_seconds[name];
    if (v.empty()) continue;
    std::printf("  %-9s %.3f / %.3f / %.3f", name, *std::min_element(v.begin(), v.end()),
                Median(v), *std::max_element(v.begin(), v.end()));
    if (g_peakKb.count(name)) std::printf("   %.1f MB", g_peakKb[name] / 1024.0);
    std::printf("\n");
  }
  if (!g_seconds["decoder"].empty()) {
    double decoder = Median(g_seconds["decoder"]);
    if (!g_seconds["engine"].empty())
      std::printf("  engine / decoder   %.2f (target at most 1.3)\n",
                  Median(g_seconds["engine"]) / decoder);
    if (!g_seconds["evaluate"].empty())
      std::printf("  evaluate / decoder %.2f (target at most 1.6)\n",
                  Median(g_seconds["evaluate"]) / decoder);
  }
  Run("rm -rf " + g_folder);
  return 0;
}

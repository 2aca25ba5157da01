// Dispatches per second of a trivial command through the whole dispatcher, with the program log
// written to disk as in the client.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <boost/filesystem.hpp>

#include "shell/commands/dispatcher.h"
#include "shell/core/helpers.h"
#include "shell/core/program_log.h"

namespace {

class TrivialCommand : public Command {
 public:
  explicit TrivialCommand(const CommandRequest& r) : Command("trivial", r) {}
  ~TrivialCommand() override { Log("destructor"); }
  void execute(std::string& reply) override {
    Log("execute");
    BuildCallbackJson(1, "操作成功", "", reply);
    running = false;
  }
  void stop() override { running = false; }
};

MainDlgState g_state;
std::string g_logDir;

void SetUp(const benchmark::State& state) {
  if (state.thread_index() != 0) return;
  char pattern[] = "/tmp/qwbench-XXXXXX";
  g_logDir = std::string(mkdtemp(pattern)) + "/log/";
  InitLog(g_logDir);
  CommandFactory::Register("close", &MakeCommand<TrivialCommand>);
  g_pMainDlg = &g_state;
}

void TearDown(const benchmark::State& state) {
  if (state.thread_index() != 0) return;
  ShutdownLog();
  boost::filesystem::remove_all(boost::filesystem::path(g_logDir).parent_path().parent_path());
}

void BM_DispatchTrivialCommand(benchmark::State& state) {
  for (auto _ : state) {
    const char* reply = DispatchCmd("SysCmd", "close", "", "0");
    benchmark::DoNotOptimize(reply);
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_DispatchTrivialCommand)->Setup(SetUp)->Teardown(TearDown)->UseRealTime();
BENCHMARK(BM_DispatchTrivialCommand)->Setup(SetUp)->Teardown(TearDown)->Threads(8)->UseRealTime();
BENCHMARK_MAIN();

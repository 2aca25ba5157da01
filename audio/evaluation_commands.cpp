#include "audio/evaluation_commands.h"

#include <mutex>
#include <vector>

#include "audio/evaluator.h"
#include "shell/commands/command_factory.h"
#include "shell/commands/main_state.h"
#include "shell/core/helpers.h"

namespace {

const char kEvaluationFailed[] = "评测过程出现异常";

class ConcreteCommandEvaluation : public Command {
 public:
  explicit ConcreteCommandEvaluation(const CommandRequest& r) : Command("evaluate", r) {}
  ~ConcreteCommandEvaluation() override { Log("destructor"); }

  void execute(std::string& reply) override {
    Log("execute");
    RunningGuard guard(*this);
    CEvaluator* evaluator = g_pMainDlg->evaluator;
    try {
      if (!evaluator) throw std::runtime_error("no evaluator");
      evaluator->Restart(&stopRequested);
      // A copy: record may queue and runapp may empty meanwhile without disturbing the walk.
      std::vector<EvalItem> items;
      {
        std::lock_guard<std::mutex> lock(g_pMainDlg->evalQueueLock);
        items = g_pMainDlg->evalQueue;
      }
      Json::Value results(Json::arrayValue);
      for (const EvalItem& item : items) {
        if (stopRequested) break;
        int code = evaluator->Evaluate(item, &stopRequested);
        evaluator->Restart(&stopRequested);
        Json::Value entry(Json::objectValue);
        entry["identity"] = item.identity;
        entry["code"] = code;
        results.append(entry);
      }
      std::string data = "{}";
      if (!results.empty()) {
        data = WriteJson(results);
        ReplaceAll(data, "\n", "");
      }
      BuildCallbackJson(1, data, "", reply);
    } catch (const std::exception& e) {
      Log(e.what());
      BuildCallbackJson(0, "", kEvaluationFailed, reply);
    }
    if (evaluator) evaluator->Stop();
  }

  void stop() override {
    Log("stop");
    running = false;
    stopRequested = true;
  }
};

class ConcreteCommandTest : public Command {
 public:
  explicit ConcreteCommandTest(const CommandRequest& r) : Command("test", r) {}
  ~ConcreteCommandTest() override { Log("destructor"); }

  void execute(std::string& reply) override {
    Log("execute");
    RunningGuard guard(*this);
    CEvaluator* evaluator = g_pMainDlg->evaluator;
    if (!evaluator) throw std::runtime_error(kEvaluationFailed);
    // The sample shipped with the engine.
    std::string folder = g_pMainDlg->moduleDir + "eval/test/";
    EvalItem item;
    item.identity = "111";
    item.snd_file = folder + "test.wav";
    item.paper_file = folder + "paper.json";
    item.dist_file = folder + "dist.json";
    item.category = "simple_expression";
    int code;
    try {
      code = evaluator->Evaluate(item, &stopRequested);
    } catch (...) {
      evaluator->Stop();
      throw;
    }
    // The engine is not left running after the check.
    evaluator->Stop();
    BuildCallbackJson(1, std::to_string(code), "", reply);
  }

  void stop() override {
    Log("stop");
    running = false;
    stopRequested = true;
  }
};

}  // namespace

void RegisterEvaluationCommands() {
  CommandFactory::Register("evaluate", &MakeCommand<ConcreteCommandEvaluation>);
  CommandFactory::Register("test", &MakeCommand<ConcreteCommandTest>);
}

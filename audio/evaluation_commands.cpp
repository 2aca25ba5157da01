#include "audio/evaluation_commands.h"

#include <mutex>
#include <vector>

#include "audio/evaluator.h"
#include "shell/commands/command_factory.h"
#include "shell/commands/main_state.h"
#include "shell/core/helpers.h"

namespace {

const char kEvaluationFailed[] = "评测过程出现异常";

// A stop gives up a handshake still awaited and ends the walk before its next item; an
// evaluation already sent finishes first.
class EvaluationCommand : public Command {
 public:
  using Command::Command;
  void stop() override {
    Command::stop();
    stopRequested = true;
  }
};

class ConcreteCommandEvaluation : public EvaluationCommand {
 public:
  explicit ConcreteCommandEvaluation(const CommandRequest& r) : EvaluationCommand("evaluate", r) {}

  void execute(std::string& reply) override {
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
};

class ConcreteCommandTest : public EvaluationCommand {
 public:
  explicit ConcreteCommandTest(const CommandRequest& r) : EvaluationCommand("test", r) {}

  void execute(std::string& reply) override {
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
};

}  // namespace

void RegisterEvaluationCommands() {
  CommandFactory::Register("evaluate", &MakeCommand<ConcreteCommandEvaluation>);
  CommandFactory::Register("test", &MakeCommand<ConcreteCommandTest>);
}

#include "shell/commands/window_commands.h"

#include <string>
#include <vector>

#include "shell/commands/command.h"
#include "shell/commands/command_factory.h"
#include "shell/commands/main_state.h"

namespace {

const char kDone[] = "操作成功";

IMainWindow* Window() { return g_pMainDlg ? g_pMainDlg->window : nullptr; }

class ConcreteCommandMaximize : public Command {
 public:
  explicit ConcreteCommandMaximize(const CommandRequest& request) : Command("Maximize", request) {
    Json::Value v;
    if (ParseParams(request, v) && v.isMember("lock")) lock = v["lock"].asBool();
  }
  void execute(std::string& reply) override {
    // A second request while full screen changes nothing, and does not lock either.
    if (IMainWindow* window = Window()) window->EnterFullScreen(lock);
    BuildCallbackJson(1, kDone, "", reply);
  }

 private:
  bool lock = false;
};

class ConcreteCommandRestore : public Command {
 public:
  explicit ConcreteCommandRestore(const CommandRequest& request) : Command("restore", request) {}
  void execute(std::string& reply) override {
    if (IMainWindow* window = Window()) window->LeaveFullScreen();
    BuildCallbackJson(1, kDone, "", reply);
  }
};

class ConcreteCommandClose : public Command {
 public:
  explicit ConcreteCommandClose(const CommandRequest& request) : Command("close", request) {}
  void execute(std::string& reply) override {
    // The reply does not wait for the candidate's answer to the question.
    if (IMainWindow* window = Window()) window->PostClose();
    BuildCallbackJson(1, kDone, "", reply);
  }
};

class ConcreteCommandDialog : public Command {
 public:
  explicit ConcreteCommandDialog(const CommandRequest& request) : Command("dialog", request) {
    Json::Value v;
    if (ParseParams(request, v)) multiselect = v.get("multiselect", false).asBool();
  }
  void execute(std::string& reply) override {
    std::vector<std::string> paths;
    IMainWindow* window = Window();
    if (window && window->ChooseFiles(multiselect, paths)) {
      Json::Value list(Json::arrayValue);
      for (const std::string& path : paths) list.append(path);
      BuildCallbackJson(1, WriteJson(list), "", reply);
    } else {
      // Cancelled, or the chooser could not open.
      BuildCallbackJson(1, "[]", "", reply);
    }
  }

 private:
  bool multiselect = false;
};

}  // namespace

void RegisterWindowCommands() {
  CommandFactory::Register("maximize", &MakeCommand<ConcreteCommandMaximize>);
  CommandFactory::Register("restored", &MakeCommand<ConcreteCommandRestore>);
  CommandFactory::Register("close", &MakeCommand<ConcreteCommandClose>);
  CommandFactory::Register("opendialog", &MakeCommand<ConcreteCommandDialog>);
}

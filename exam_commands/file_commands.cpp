#include "exam_commands/file_commands.h"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <vector>

#include "exam_commands/session_names.h"
#include "shell/commands/command_factory.h"
#include "shell/commands/main_state.h"
#include "shell/core/helpers.h"

namespace {

const char kCannotOpen[] = "打开文件出错";

class ConcreteCommandReadFile : public Command {
 public:
  explicit ConcreteCommandReadFile(const CommandRequest& r) : Command("read file", r) {
    Json::Value v;
    if (!ParseParams(r, v)) return;
    const Json::Value& list = v["filelist"];
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
      std::string name = list[i].asString();
      // Only the application's own files: nothing outside its two folders.
      if (!IsContainedName(name)) throw CmdException(kCannotOpen);
      paths.push_back(LocateFile(name));
    }
  }

  void execute(std::string& reply) override {
    Json::Value texts;
    for (const std::string& path : paths) {
      std::string raw;
      texts.append(ReadTextFile(path, raw));
    }
    BuildCallbackJson(1, WriteJson(texts), "", reply);
  }

 private:
  std::vector<std::string> paths;
};

class ConcreteCommandGetAppList : public Command {
 public:
  explicit ConcreteCommandGetAppList(const CommandRequest& r) : Command("get app list", r) {}

  void execute(std::string& reply) override {
    BuildCallbackJson(1, collectAppJson(g_pMainDlg->Session().appsFolder), "", reply);
  }

  // Its stop is logged under a word of its own.
  void stop() override {
    Log("Stop");
    running = false;
  }
};

}  // namespace

std::string collectAppJson(const std::string& appsFolder) {
  namespace fs = boost::filesystem;
  std::vector<std::string> folders;
  boost::system::error_code ec;
  if (fs::is_directory(appsFolder, ec)) {
    for (fs::directory_iterator it(appsFolder, ec), end; !ec && it != end; it.increment(ec)) {
      if (fs::is_directory(it->status())) folders.push_back(it->path().filename().string());
    }
  }
  // The listing's own order differs between file systems; name order is the one pages saw.
  std::sort(folders.begin(), folders.end());
  std::string text;
  for (const std::string& folder : folders) {
    std::string description = appsFolder + folder + "/app.json";
    if (!fs::exists(description, ec)) continue;
    std::string raw;
    text += ReadTextFile(description, raw) + ",";
  }
  if (!text.empty() && text.back() == ',') text.pop_back();
  return "[" + text + "]";
}

void RegisterFileCommands() {
  CommandFactory::Register("readfile", &MakeCommand<ConcreteCommandReadFile>);
  CommandFactory::Register("getapps", &MakeCommand<ConcreteCommandGetAppList>);
}

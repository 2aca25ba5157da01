#include "exam_commands/session_commands.h"

#include <boost/filesystem.hpp>
#include <boost/regex.hpp>
#include <cctype>

#include "exam_commands/session_folder.h"
#include "exam_commands/session_names.h"
#include "exam_commands/session_record.h"
#include "exam_commands/settings_commands.h"
#include "shell/commands/command_factory.h"
#include "shell/commands/main_state.h"
#include "shell/core/helpers.h"
#include "shell/core/profile.h"
#include "shell/core/program_log.h"

namespace {

const char kSuccess[] = "操作成功";
const char kNoStartPage[] = "首页不存在";
const char kBadStartParams[] = "命令行的启动参数格式不正确";

// The launcher's window as the first quoted token gives it: leading white space, then decimal
// digits up to the first other character; no digits (or a number no window id can be) gives 0.
unsigned long ParseWindowHandle(const std::string& token) {
  std::size_t i = 0;
  while (i < token.size() && std::isspace(static_cast<unsigned char>(token[i]))) ++i;
  unsigned long long number = 0;
  for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
    number = number * 10 + static_cast<unsigned>(token[i] - '0');
    if (number > 0xFFFFFFFFull) return 0;
  }
  return static_cast<unsigned long>(number);
}

// Every backslash is dropped and the character behind it kept.
std::string Unescape(const std::string& token) {
  std::string out;
  for (std::size_t i = 0; i < token.size(); ++i) {
    if (token[i] == '\\') {
      if (++i == token.size()) break;
    }
    out += token[i];
  }
  return out;
}

// The first two double-quoted tokens of the command line.
std::vector<std::string> QuotedTokens(const std::string& line) {
  static const boost::regex pattern("\"((?:\\\\?.)*?)\"");
  std::vector<std::string> tokens;
  for (boost::sregex_iterator it(line.begin(), line.end(), pattern), end;
       it != end && tokens.size() < 2; ++it)
    tokens.push_back((*it)[1].str());
  return tokens;
}

// The recordings queued for evaluation belong to the session that made them.
void EmptyEvaluationQueue() {
  std::lock_guard<std::mutex> lock(g_pMainDlg->evalQueueLock);
  g_pMainDlg->evalQueue.clear();
}

// A folder named by 32 hexadecimal digits directly inside the system's temporary folder: the
// only kind of folder that a session begins, and so the only kind that ending one may remove.
bool IsSessionFolder(const std::string& folder) {
  std::string temp = GetTempDir();
  return folder.size() == temp.size() + 33 && folder.compare(0, temp.size(), temp) == 0 &&
         folder.back() == '/' && IsGuidText(folder.substr(temp.size(), 32));
}

class ConcreteCommandRunApp : public Command {
 public:
  explicit ConcreteCommandRunApp(const CommandRequest& r) : Command("run app", r) {
    if (r.params.empty()) throw CmdException("启动参数为空");
    Json::Value v;
    ParseParams(r, v);
    key = v["key"].asString();
    index = v["index"].asString();
    if (index.empty()) index = "index.html";
  }

  void execute(std::string& reply) override {
    std::string start_page = g_pMainDlg->moduleDir + "apps/" + key + "/" + index;
    // A key or page name that leaves the apps folder names no application of ours. The empty
    // key names the apps folder itself.
    if ((!key.empty() && !IsContainedName(key)) || !IsContainedName(index) ||
        !IsExistingFile(start_page)) {
      g_pMainDlg->window->Navigate("about:blank");
      BuildCallbackJson(0, "", kNoStartPage, reply);
      return;
    }

    std::string cache_folder = g_pMainDlg->Session().appsFolder + key + "/cache/";
    MakeDirs(cache_folder, false, true);
    sessionGuid = NewGuidString();
    // Held before hash.cache names it: another client's start that reads the record then finds
    // the folder in use and leaves it alone.
    std::string temp_folder = GetTempDir() + sessionGuid + "/";
    MakeDirs(temp_folder, false, true);
    if (!HoldSessionFolder(temp_folder))
      LogError("run app", "cannot mark the session folder " + temp_folder);
    RecordSessionFolder(HashCachePath(), sessionGuid);

    std::string command_line;
    g_pMainDlg->UpdateSession([&](SessionState& s) {
      s.cacheFolder = cache_folder;
      s.tempFolder = temp_folder;
      s.values.clear();
      s.values["session"] = sessionGuid;
      command_line = s.commandLine;
    });
    EmptyEvaluationQueue();

    LogInfo("run app", "命令行启动参数:" + command_line);
    if (!command_line.empty()) ReadStartParameters(command_line);

    g_pMainDlg->window->Navigate(start_page);
    BuildCallbackJson(1, kSuccess, "", reply);
  }

 private:
  void ReadStartParameters(const std::string& line) {
    std::vector<std::string> tokens = QuotedTokens(line);
    if (tokens.empty()) return;
    unsigned long launcher = ParseWindowHandle(tokens[0]);
    g_pMainDlg->UpdateSession([&](SessionState& s) { s.launcherWindow = launcher; });
    if (launcher != 0) g_pMainDlg->window->NotifyLauncherClosed(launcher);
    if (tokens.size() < 2) return;

    std::string text = Unescape(tokens[1]);
    Json::Value params;
    if (!ParseJson(text, params)) {
      LogError("run app", std::string(kBadStartParams) + "：" + text);
      throw CmdException(kBadStartParams);
    }
    std::vector<std::pair<std::string, std::string>> entries;
    for (const std::string& name : params.getMemberNames())
      entries.emplace_back(LowerAscii(name), JsonValueToString(params[name]));
    g_pMainDlg->UpdateSession([&](SessionState& s) {
      for (const auto& entry : entries) s.values[entry.first] = entry.second;
    });
  }

  std::string key;
  std::string index;
  std::string sessionGuid;
};

class ConcreteCommandStopApp : public Command {
 public:
  explicit ConcreteCommandStopApp(const CommandRequest& r) : Command("stop app", r) {}

  void execute(std::string& reply) override {
    std::string temp_folder = g_pMainDlg->UpdateSession([&](SessionState& s) {
      s.answerFolder = s.cacheFolder + "answer/";
      s.values.clear();
      return s.tempFolder;
    });
    EmptyEvaluationQueue();
    // Before any session the folder text is the system's temporary folder itself.
    if (IsSessionFolder(temp_folder)) {
      // Another worker may be removing the same folder at this moment: what it took first is
      // no failure of ours. Anything else left behind is, and the page is told.
      boost::system::error_code ec;
      boost::filesystem::remove_all(temp_folder, ec);
      ReleaseSessionFolder(temp_folder);
      if (ec && ec != boost::system::errc::no_such_file_or_directory)
        throw boost::filesystem::filesystem_error("boost::filesystem::remove_all", temp_folder,
                                                  ec);
    }
    BuildCallbackJson(1, kSuccess, "", reply);
  }
};

}  // namespace

void RegisterSessionCommands() {
  CommandFactory::Register("runapp", &MakeCommand<ConcreteCommandRunApp>);
  CommandFactory::Register("stopapp", &MakeCommand<ConcreteCommandStopApp>);
}

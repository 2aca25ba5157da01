#include "exam_commands/settings_commands.h"

#include "exam_commands/session_names.h"
#include "exam_commands/session_record.h"
#include "shell/commands/command_factory.h"
#include "shell/commands/main_state.h"
#include "shell/core/profile.h"
#include "shell/core/program_log.h"

namespace {

const char kSuccess[] = "操作成功";
const char kUnsupported[] = "不支持的参数设置";
const char kMissing[] = "数据不存在";
const char kWriteFailed[] = "保存数据失败";
const char kCacheSection[] = "cache";
// A value is read into a buffer of this many characters, its terminator included.
constexpr std::size_t kValueCapacity = 1024;

// hash.cache is a line-based file: a line break anywhere, or a key that would read as another
// entry or a section header, would add lines the page never wrote.
bool FitsHashCache(const std::string& key, const std::string& value) {
  if (key.find_first_of("\r\n=[", 0) != std::string::npos) return false;
  if (key.find('\0') != std::string::npos) return false;
  std::size_t first = key.find_first_not_of(" \t");
  if (first == std::string::npos || key[first] == ';') return false;
  if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return false;
  // The next start of the program removes the temporary folder that "session" names: only a
  // session's own GUID (or nothing) may stand there.
  std::size_t last = key.find_last_not_of(" \t");
  if (LowerAscii(key.substr(first, last - first + 1)) == "session")
    return value.empty() || IsGuidText(value);
  return true;
}

class ConcreteCommandSetKey : public Command {
 public:
  explicit ConcreteCommandSetKey(const CommandRequest& r) : Command("setkey", r) {
    Json::Value v;
    if (ParseParams(r, v)) {
      key = v["key"].asString();
      value = v["value"].asString();
      type = v["type"].asInt();
    }
  }

  void execute(std::string& reply) override {
    if (type == 0) {
      if (!FitsHashCache(key, value)) {
        BuildCallbackJson(0, "", kUnsupported, reply);
        return;
      }
      WaitForSessionRecords();
      if (!WriteProfileString(HashCachePath(), kCacheSection, key, value)) {
        LogError("setkey", "hash.cache写入失败");
        BuildCallbackJson(0, "", kWriteFailed, reply);
        return;
      }
    } else if (type == 1) {
      if (LowerAscii(key) != "url") {
        BuildCallbackJson(0, "", kUnsupported, reply);
        return;
      }
      // An empty value clears the base URL: a lone "/" would turn every relative address into
      // an absolute path on no server.
      std::string url = value;
      if (!url.empty() && url.back() != '/') url += '/';
      g_pMainDlg->UpdateSession([&](SessionState& s) { s.baseUrl = url; });
    } else if (type == 2) {
      std::string lower = LowerAscii(key);
      g_pMainDlg->UpdateSession([&](SessionState& s) { s.values[lower] = value; });
    }
    BuildCallbackJson(1, kSuccess, "", reply);
  }

 private:
  std::string key;
  std::string value;
  int type = 0;
};

class ConcreteCommandReadKey : public Command {
 public:
  explicit ConcreteCommandReadKey(const CommandRequest& r) : Command("readkey", r) {
    Json::Value v;
    if (ParseParams(r, v)) {
      key = v["key"].asString();
      type = v["type"].asInt();
    }
  }

  void execute(std::string& reply) override {
    if (type == 0) {
      WaitForSessionRecords();
      std::string found = ReadProfileString(HashCachePath(), kCacheSection, key, "", kValueCapacity);
      if (found.empty())
        BuildCallbackJson(0, "", kMissing, reply);
      else
        BuildCallbackJson(1, found, "", reply);
    } else if (type == 1) {
      std::string lower = LowerAscii(key);
      if (lower == "url")
        BuildCallbackJson(1, g_pMainDlg->Session().baseUrl, "", reply);
      else if (lower == "fileversion")
        BuildCallbackJson(1, g_pMainDlg->fileVersion, "", reply);
      else
        BuildCallbackJson(0, "", kUnsupported, reply);
    } else if (type == 2) {
      std::string lower = LowerAscii(key);
      bool found = false;
      std::string text = g_pMainDlg->UpdateSession([&](SessionState& s) {
        auto it = s.values.find(lower);
        found = it != s.values.end();
        return found ? it->second : std::string();
      });
      if (found)
        BuildCallbackJson(1, text, "", reply);
      else
        BuildCallbackJson(0, "", kMissing, reply);
    }
    // Any other store has nothing to read, and the page receives an empty reply.
  }

 private:
  std::string key;
  int type = 0;
};

}  // namespace

std::string HashCachePath() { return g_pMainDlg->dataDir + "hash.cache"; }

void RegisterSettingsCommands() {
  CommandFactory::Register("setkey", &MakeCommand<ConcreteCommandSetKey>);
  CommandFactory::Register("readkey", &MakeCommand<ConcreteCommandReadKey>);
}

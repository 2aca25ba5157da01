#include "tests/fuzz/sandbox.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "exam_commands/exam_session_commands.h"
#include "exam_commands/machine_info_command.h"
#include "exam_commands/transfer_commands.h"
#include "shell/commands/dispatcher.h"
#include "shell/commands/window_commands.h"
#include "shell/core/helpers.h"
#include "transfer/retry_stop.h"

namespace {

// The window of a run without a display: it keeps only the one state that commands ask about,
// not a record of every call, which would grow for as long as the fuzzer runs.
class SandboxWindow : public IMainWindow {
 public:
  void PostClose() override {}
  bool EnterFullScreen(bool) override { return !std::exchange(fullScreen_, true); }
  bool LeaveFullScreen() override { return std::exchange(fullScreen_, false); }
  bool ChooseFiles(bool, std::vector<std::string>&) override { return false; }
  void Navigate(const std::string&) override {}
  void ExecJS(const std::string&) override {}
  void NotifyLauncherClosed(unsigned long) override {}

 private:
  bool fullScreen_ = false;
};

std::string MakeRoot() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/qwfuzz-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  return std::string(buffer.data()) + "/";
}

void SetFolders(FuzzSandbox& box) {
  box.state->UpdateSession([&](SessionState& s) {
    s.cacheFolder = box.dataDir + "cache/";
    s.answerFolder = s.cacheFolder + "answer/";
    s.appsFolder = box.dataDir + "apps/";
    s.tempFolder = box.root + "tmp/";
    // Nothing listens here, and no transfer is attempted anyway.
    s.baseUrl = "http://127.0.0.1:9/";
    s.values.clear();
  });
  MakeDirs(box.dataDir + "cache/answer/", false, true);
  MakeDirs(box.root + "tmp/", false, true);
}

void RemoveRoot() {
  if (Sandbox().root.size() > 8) std::system(("rm -rf '" + Sandbox().root + "'").c_str());
}

}  // namespace

FuzzSandbox& Sandbox() {
  static FuzzSandbox box = [] {
    FuzzSandbox b;
    b.root = MakeRoot();
    setenv("APPDATA", b.root.c_str(), 1);
    setenv("TMPDIR", (b.root + "tmp").c_str(), 1);
    b.dataDir = GetAppDataDir();
    static MainDlgState state;
    static SandboxWindow window;
    b.state = &state;
    state.dataDir = b.dataDir;
    state.moduleDir = b.root + "module/";
    state.fileVersion = "1.0.0.1";
    state.window = &window;
    g_pMainDlg = &state;
    RegisterWindowCommands();
    RegisterExamSessionCommands();
    RegisterMachineInfoCommand();
    RegisterTransferCommands();
    static org_trellik::RetryStop no_transfers;
    no_transfers.Request();
    static org_trellik::ScopedRetryStop scope(no_transfers);
    return b;
  }();
  static bool ready = [] {
    SetFolders(box);
    std::atexit(RemoveRoot);
    return true;
  }();
  (void)ready;
  return box;
}

void ResetSandbox() {
  FuzzSandbox& box = Sandbox();
  SetFolders(box);
  // One document and one settings file serve many inputs; past this size each command would
  // only read and write more.
  for (const std::string& file :
       {box.dataDir + "cache/answer/answer.xml", box.dataDir + "hash.cache"}) {
    struct stat st;
    if (stat(file.c_str(), &st) == 0 && st.st_size > 64 * 1024) std::remove(file.c_str());
  }
}

std::string FuzzDispatch(const std::string& name, const std::string& params,
                         const std::string& type) {
  MainDlgState& state = *Sandbox().state;
  std::string reply = DispatchCmd("Fuzz", name.c_str(), params.c_str(), type.c_str());
  // What the next dispatch would sweep goes now, so that nothing is left at the end of the run;
  // and the next exclusive dispatch would pause before it replaced the exclusive command.
  std::lock_guard<std::recursive_mutex> lock(state.bridgeLock);
  for (auto it = state.runningCommands.begin(); it != state.runningCommands.end();) {
    if (it->second && it->second->IsIdle())
      it = state.runningCommands.erase(it);
    else
      ++it;
  }
  if (state.exclusiveCommand && state.exclusiveCommand->IsIdle()) state.exclusiveCommand.reset();
  return reply;
}

// The state that page commands share for the whole run, and the narrow view of the main window
// and the browser that commands are allowed. The main dialog provides both; tests provide their
// own, with no display.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "shell/commands/command.h"
#include "shell/commands/command_factory.h"
#include "shell/commands/eval_item.h"

// What commands may ask of the main window and the browser. Every call may come from any thread
// and returns without waiting for the main thread, except ChooseFiles, which waits for the
// candidate's choice.
class IMainWindow {
 public:
  virtual ~IMainWindow() = default;
  // Asks the close question on the main thread.
  virtual void PostClose() = 0;
  // Takes the browser area full screen; with |lock| the keyboard is locked down too. False when
  // it was already full screen (then nothing changes).
  virtual bool EnterFullScreen(bool lock) = 0;
  // Brings the browser back into the window and releases the lock-down. False when it was not
  // full screen.
  virtual bool LeaveFullScreen() = 0;
  // Lets the candidate choose files to open; false when cancelled or the dialog failed.
  virtual bool ChooseFiles(bool multiselect, std::vector<std::string>& paths) = 0;
  // The browser host's navigation and script execution in the main frame.
  virtual void Navigate(const std::string& url) = 0;
  virtual void ExecJS(const std::string& script) = 0;
  // Tells the launcher window that started this run that the application has closed.
  virtual void NotifyLauncherClosed(unsigned long launcherWindow) = 0;
};

// The per-run texts that several commands read and write; taken and updated whole under the
// session lock, which is never held across file or network work.
struct SessionState {
  std::map<std::string, std::string> values;  // the session map, lower-case keys
  std::string commandLine;
  unsigned long launcherWindow = 0;
  std::string cacheFolder;    // every folder text ends in "/"
  std::string appsFolder;
  std::string answerFolder;
  std::string tempFolder;     // the temporary session folder
  std::string baseUrl;        // ends in "/" when set
};

struct DownloadRecord;  // one in-flight download, kept by the download commands
class SoundCallbacks;  // the sound library's notifications and their page functions
class CEvaluator;      // the speech-evaluation engine's client
namespace org_trellik {
class CVolumeCtrl;  // the speakers' and the microphone's volume
}

class MainDlgState {
 public:
  MainDlgState() = default;
  MainDlgState(const MainDlgState&) = delete;
  MainDlgState& operator=(const MainDlgState&) = delete;
  virtual ~MainDlgState();

  // The window and browser; null until the main dialog (or a test) provides one.
  IMainWindow* window = nullptr;

  SessionState Session() const {
    std::lock_guard<std::mutex> lock(sessionLock_);
    return session_;
  }
  template <typename Update>
  auto UpdateSession(Update&& update) {
    std::lock_guard<std::mutex> lock(sessionLock_);
    return update(session_);
  }

  // Set once at start-up, read-only afterwards.
  std::string fileVersion;
  std::string moduleDir;   // the executable's folder
  std::string dataDir;     // the per-user data folder

  // Downloads in flight, one record per local target path.
  std::mutex downloadLock;
  std::map<std::string, std::shared_ptr<DownloadRecord>> downloads;

  // Every read or write of an answer document.
  std::mutex answerLock;

  // Recordings queued for speech evaluation, in the order they were made: record appends,
  // evaluate walks a copy, runapp and stopapp empty it, each under the queue's lock.
  std::mutex evalQueueLock;
  std::vector<EvalItem> evalQueue;

  // The audio subsystem's services, owned by the main dialog (or a test); null when absent.
  SoundCallbacks* soundCallbacks = nullptr;
  org_trellik::CVolumeCtrl* volumeCtrl = nullptr;
  CEvaluator* evaluator = nullptr;

  // The dispatcher's state, all under the bridge lock; the dispatcher owns the commands.
  CommandFactory factory;
  std::recursive_mutex bridgeLock;
  std::map<std::string, std::unique_ptr<Command>> runningCommands;
  std::unique_ptr<Command> exclusiveCommand;
  bool closing = false;  // the teardown has begun: no command is started any more

 private:
  mutable std::mutex sessionLock_;
  SessionState session_;
};

extern MainDlgState* g_pMainDlg;

// The file in the temporary session folder when it exists there, otherwise the cache folder's.
std::string LocateFile(const std::string& name);

// What command tests share: a temporary folder that is removed afterwards, a window that records
// what commands ask of it, and the shared state wired to both, with no display.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "shell/commands/main_state.h"

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }  // ends in "/"

 private:
  std::string path_;
};

class FakeWindow : public IMainWindow {
 public:
  void PostClose() override;
  bool EnterFullScreen(bool lock) override;
  bool LeaveFullScreen() override;
  bool ChooseFiles(bool multiselect, std::vector<std::string>& paths) override;
  void Navigate(const std::string& url) override;
  void ExecJS(const std::string& script) override;
  void NotifyLauncherClosed(unsigned long launcherWindow) override;

  // Every call, as "name(argument)", in order.
  std::vector<std::string> Calls() const;
  bool fullScreen = false;
  bool chooseResult = false;
  std::vector<std::string> chosenFiles;

 private:
  void Record(const std::string& call);
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

// The shared state of one test: folders inside a fresh temporary folder (made), APPDATA pointing
// into it, g_pMainDlg set, every command word the linked subsystems offer registered by the
// caller. The program log is written to |logDir| when |withLog| is set.
class StateFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The text of today's program log (empty when the log is off).
  std::string LogText() const;
  // The reply of one dispatch, as the page would receive it.
  static std::string Dispatch(const std::string& name, const std::string& params,
                              const std::string& type = "0", const std::string& region = "Test");

  bool withLog = false;
  TempDir root;
  std::string dataDir;  // APPDATA/Quellwick/
  std::string logDir;
  MainDlgState state;
  FakeWindow window;
};

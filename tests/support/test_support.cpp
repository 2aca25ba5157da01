#include "tests/support/test_support.h"

#include <stdlib.h>

#include <boost/filesystem.hpp>
#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

#include "shell/commands/dispatcher.h"
#include "shell/core/helpers.h"
#include "shell/core/program_log.h"

TempDir::TempDir() {
  std::string pattern = GetTempDir() + "qwtest-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(buffer.data()) + "/";
}

TempDir::~TempDir() {
  boost::system::error_code ec;
  boost::filesystem::remove_all(path_, ec);
}

void FakeWindow::Record(const std::string& call) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(call);
}

std::vector<std::string> FakeWindow::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

void FakeWindow::PostClose() { Record("PostClose()"); }

bool FakeWindow::EnterFullScreen(bool lock) {
  Record(std::string("EnterFullScreen(") + (lock ? "lock" : "") + ")");
  if (fullScreen) return false;
  fullScreen = true;
  return true;
}

bool FakeWindow::LeaveFullScreen() {
  Record("LeaveFullScreen()");
  if (!fullScreen) return false;
  fullScreen = false;
  return true;
}

bool FakeWindow::ChooseFiles(bool multiselect, std::vector<std::string>& paths) {
  Record(std::string("ChooseFiles(") + (multiselect ? "multi" : "") + ")");
  paths = chosenFiles;
  return chooseResult;
}

void FakeWindow::Navigate(const std::string& url) { Record("Navigate(" + url + ")"); }
void FakeWindow::ExecJS(const std::string& script) { Record("ExecJS(" + script + ")"); }
void FakeWindow::NotifyLauncherClosed(unsigned long launcherWindow) {
  Record("NotifyLauncherClosed(" + std::to_string(launcherWindow) + ")");
}

void StateFixture::SetUp() {
  setenv("APPDATA", root.path().c_str(), 1);
  dataDir = GetAppDataDir();
  logDir = dataDir + "log/";
  state.dataDir = dataDir;
  state.moduleDir = GetModuleDir();
  state.window = &window;
  std::string temp = root.path() + "tmp/";
  MakeDirs(temp, false, true);
  state.UpdateSession([&](SessionState& s) {
    s.cacheFolder = dataDir + "cache/";
    s.answerFolder = s.cacheFolder + "answer/";
    s.appsFolder = dataDir + "apps/";
    s.tempFolder = temp;
  });
  MakeDirs(dataDir, false, true);
  if (withLog) InitLog(logDir);
  g_pMainDlg = &state;
}

void StateFixture::TearDown() {
  StopAllCommands(state, [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); });
  g_pMainDlg = nullptr;
  if (withLog) ShutdownLog();
  unsetenv("APPDATA");
}

std::string StateFixture::LogText() const {
  std::time_t now = std::time(nullptr);
  std::tm local;
  localtime_r(&now, &local);
  char name[32];
  std::strftime(name, sizeof name, "QNT-%Y%m%d.log", &local);
  std::ifstream in(logDir + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string StateFixture::Dispatch(const std::string& name, const std::string& params,
                                   const std::string& type, const std::string& region) {
  return DispatchCmd(region.c_str(), name.c_str(), params.c_str(), type.c_str());
}

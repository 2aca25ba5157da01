// What the end-to-end tests use: a copy of the client's bin folder with its own config.ini and
// folders, the client started from it, a local HTTP server that pages report to and take
// commands from, and looks at the display through the X tools.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// A small HTTP server on 127.0.0.1. GET /loaded?u=... records a page that loaded; GET /next
// hands the next queued command to the driver page (204 when none comes within a second);
// GET /reply?w=...&r=... records a command's reply; any other path answers the page set for it.
class TestServer {
 public:
  TestServer();
  ~TestServer();
  int port() const { return port_; }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

  void SetPage(const std::string& path, const std::string& html);
  void Queue(const std::string& word, const std::string& params, const std::string& type = "0");
  // Waits for a page whose address satisfies |match|; the address, or "" after the time.
  std::string WaitLoaded(const std::function<bool(const std::string&)>& match, int seconds);
  // Waits for the next reply to |word|; "" after the time.
  std::string WaitReply(const std::string& word, int seconds);
  std::vector<std::string> Requests() const;
  // How many loads reported an address holding |part|.
  int CountLoaded(const std::string& part) const;

 private:
  void Serve();
  void Answer(int fd);

  int listen_ = -1;
  int port_ = 0;
  bool stopping_ = false;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::set<int> connections_;  // each is answered by a thread of its own, which the server outlives
  std::map<std::string, std::string> pages_;
  std::deque<std::string> commands_;
  std::vector<std::string> loaded_;
  std::multimap<std::string, std::string> replies_;
  std::vector<std::string> requests_;
};

// The driver page: reports its address, then runs the commands the server hands out through
// the page bridge and reports each reply. |script| is run in the page as well; it may report
// with report(word, text), as a reply to |word|.
std::string DriverPage(const std::string& serverBase, const std::string& script = "");

// A private installation: bin/ (the executable copied, everything else linked from the build's
// bin folder), appdata/, run/ (the lock folder), tmp/.
class ClientInstall {
 public:
  explicit ClientInstall(const std::string& configIni);
  ~ClientInstall();
  const std::string& root() const { return root_; }
  std::string bin() const { return root_ + "bin/"; }
  std::string dataDir() const { return root_ + "appdata/Quellwick/"; }
  std::string tempDir() const { return root_ + "tmp/"; }
  void WriteFile(const std::string& relative, const std::string& text) const;

  // Starts the client (in a process group of its own); returns its pid.
  pid_t Start(const std::vector<std::string>& args = {});
  // Waits for |pid| to end; its exit code, or -1 after the time (it is then still running).
  int WaitExit(pid_t pid, int seconds);
  bool Running(pid_t pid);
  std::string ProgramLog() const;

 private:
  std::string root_;
  std::vector<pid_t> started_;
  std::map<pid_t, int> exited_;
};

// --- The display.
std::string RunCommand(const std::string& command);  // stdout of a shell command
// Visible windows whose name matches |pattern| (xdotool's regular expression).
std::vector<unsigned long> FindWindows(const std::string& pattern);
// Waits for such a window; 0 after the time.
unsigned long WaitWindow(const std::string& pattern, int seconds, pid_t owner = 0);
pid_t WindowPid(unsigned long window);
struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
  bool mapped = false;
};
Geometry WindowGeometry(unsigned long window);
// Gives the window the focus and types |keys| (xdotool key names) into it.
void SendKeys(unsigned long window, const std::string& keys);
// Gives the window the focus and types |text| into it.
void TypeText(unsigned long window, const std::string& text);
// 0: nobody holds the keyboard; 3: some client grabbed it.
int ProbeKeyboard();
// Polls |done| until it holds or the time is up.
bool Eventually(const std::function<bool()>& done, int seconds);
// Processes whose parent is |pid|.
std::vector<pid_t> ChildrenOf(pid_t pid);

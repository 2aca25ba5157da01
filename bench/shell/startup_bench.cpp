// Start-up of the client, from its launch to its home page loaded, against a minimal WebKitGTK
// program of ours on the same road (startup_floor), both launched the same way. The home page is
// an "app://" application whose load event fetches a beacon from this program over loopback;
// the beacon's arrival ends the measurement. Five rounds, each launching both three times.
// The install is made under $QW_BENCH_DIR (default: the current folder), on a real disk.
// Run on a display: scripts/xvfb-test build/bench/bin/bench_startup
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/common/figures.h"
#include "platform/base/executable_folder.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLaunchesPerRound = 3;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A loopback listener for the page's beacon.
class Beacon {
 public:
  Beacon() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(fd_, 16) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      std::abort();
    port_ = ntohs(a.sin_port);
  }
  ~Beacon() { close(fd_); }
  int port() const { return port_; }
  // Waits for the beacon; false after |ms|.
  bool Wait(int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return false;
    int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) return false;
    static const char kReply[] = "HTTP/1.0 204 No Content\r\nContent-Length: 0\r\n\r\n";
    if (write(c, kReply, sizeof kReply - 1) < 0) {
      // The page has sent its beacon either way.
    }
    close(c);
    return true;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// An installed client of its own: the built program linked in, its files beside it, a config
// whose home page is the bench application, and data, home and temporary folders of its own.
class Install {
 public:
  explicit Install(int port) {
    const char* base = std::getenv("QW_BENCH_DIR");
    std::string pattern = std::string(base && *base ? base : ".") + "/qwstart-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    char real[PATH_MAX];
    if (!realpath(pattern.c_str(), real)) std::abort();
    root_ = std::string(real) + "/";
    // The client's own folder, where the build put it.
    const std::string bin = QW_CLIENT_DIR;
    if (link((bin + "quellwick").c_str(), (root_ + "quellwick").c_str()) != 0) std::abort();
    for (const char* item : {"Skins", "eval", "webext", "libOrvalis.so", "libQuintrel.so",
                             "libmirvane_transport.so"})
      if (symlink((bin + item).c_str(), (root_ + item).c_str()) != 0) std::abort();
    for (const char* folder : {"apps", "apps/bench", "data", "home", "tmp"})
      mkdir((root_ + folder).c_str(), 0700);
    page_ = root_ + "apps/bench/index.html";
    WriteText(page_,
              "<html><body>bench<script>addEventListener('load',function(){"
              "new Image().src='http://127.0.0.1:" +
                  std::to_string(port) + "/loaded';});</script></body></html>");
    WriteText(root_ + "config.ini",
              "[HomePage]\nhome=app://bench\n[Config]\nMutex=0\nNavigationBar=0\n");
  }
  ~Install() { std::system(("rm -rf '" + root_ + "'").c_str()); }
  std::string client() const { return root_ + "quellwick"; }
  std::string floor() const { return ExecutableFolder() + "startup_floor"; }
  std::string pageUrl() const { return "file://" + page_; }

  // The environment both are launched with.
  std::vector<std::string> Environment() const {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string v = *e;
      for (const char* own : {"HOME=", "XDG_DATA_HOME=", "APPDATA=", "TMPDIR=", "XDG_CACHE_HOME="})
        if (v.rfind(own, 0) == 0) v.clear();
      if (!v.empty()) env.push_back(v);
    }
    env.push_back("HOME=" + root_ + "home");
    env.push_back("XDG_DATA_HOME=" + root_ + "data");
    env.push_back("XDG_CACHE_HOME=" + root_ + "home/.cache");
    env.push_back("TMPDIR=" + root_ + "tmp");
    return env;
  }

 private:
  std::string root_;
  std::string page_;
};

// Milliseconds from the launch of |argv| to the beacon; -1 when none came.
double Launch(const std::vector<std::string>& argv, const std::vector<std::string>& env,
              Beacon& beacon) {
  std::vector<char*> a, e;
  for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  for (const auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
  e.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // A process group of its own, so that the program and its web processes end together.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = 0;
  auto start = Clock::now();
  int rc = posix_spawn(&pid, a[0], &actions, &attributes, a.data(), e.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  bool arrived = beacon.Wait(30000);
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  // The next launch starts only when nothing of this one runs any more.
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  for (int i = 0; i < 500 && kill(-pid, 0) == 0; ++i) usleep(10 * 1000);
  return arrived ? ms : -1;
}

std::vector<double> g_client, g_floor;

void BM_StartUpToHomePage(benchmark::State& state) {
  Beacon beacon;
  Install install(beacon.port());
  std::vector<std::string> env = install.Environment();
  // One launch each first: the disk cache holds the programs' files for every round after.
  Launch({install.client()}, env, beacon);
  Launch({install.floor(), install.pageUrl()}, env, beacon);
  for (auto _ : state) {
    double client = 0, floor = 0;
    for (int i = 0; i < kLaunchesPerRound; ++i) {
      double c = Launch({install.client()}, env, beacon);
      double f = Launch({install.floor(), install.pageUrl()}, env, beacon);
      if (c < 0 || f < 0) {
        state.SkipWithError("no beacon from the page");
        return;
      }
      client += c / kLaunchesPerRound;
      floor += f / kLaunchesPerRound;
    }
    g_client.push_back(client);
    g_floor.push_back(floor);
    state.counters["client_ms"] = client;
    state.counters["floor_ms"] = floor;
  }
}
BENCHMARK(BM_StartUpToHomePage)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  figures::PrintRounds("client", g_client, "ms");
  figures::PrintRounds("minimal WebKitGTK program", g_floor, "ms");
  figures::PrintFigure("start-up to home page", figures::Median(g_client), figures::Median(g_floor),
                       "ms");
  return 0;
}

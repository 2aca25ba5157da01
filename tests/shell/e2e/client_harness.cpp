#include "tests/shell/e2e/client_harness.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "shell/core/helpers.h"

extern char** environ;

namespace fs = boost::filesystem;

namespace {

std::string UrlDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else if (text[i] == '+') {
      out += ' ';
    } else {
      out += text[i];
    }
  }
  return out;
}

std::map<std::string, std::string> Query(const std::string& target) {
  std::map<std::string, std::string> values;
  std::size_t q = target.find('?');
  if (q == std::string::npos) return values;
  std::stringstream in(target.substr(q + 1));
  std::string pair;
  while (std::getline(in, pair, '&')) {
    std::size_t eq = pair.find('=');
    if (eq != std::string::npos) values[pair.substr(0, eq)] = UrlDecode(pair.substr(eq + 1));
  }
  return values;
}

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

void SendAll(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

}  // namespace

TestServer::TestServer() {
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_, 64) != 0)
    throw std::runtime_error("cannot listen");
  socklen_t length = sizeof address;
  getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

TestServer::~TestServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  shutdown(listen_, SHUT_RDWR);
  close(listen_);
  thread_.join();
  // A connection's thread uses the server to its end: wait for every one, ending the reads of
  // clients that are still connected.
  std::unique_lock<std::mutex> lock(mutex_);
  for (int fd : connections_) shutdown(fd, SHUT_RDWR);
  changed_.wait(lock, [this] { return connections_.empty(); });
}

void TestServer::Serve() {
  while (true) {
    int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd < 0) {
      if (stopping_) return;
      continue;
    }
    connections_.insert(fd);
    std::thread([this, fd] {
      Answer(fd);
      std::lock_guard<std::mutex> lock(mutex_);
      close(fd);
      connections_.erase(fd);
      changed_.notify_all();
    }).detach();
  }
}

void TestServer::Answer(int fd) {
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  std::istringstream line(request.substr(0, request.find("\r\n")));
  std::string method, target;
  line >> method >> target;
  std::string path = target.substr(0, target.find('?'));
  auto query = Query(target);
  int status = 200;
  std::string type = "text/plain", body;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    requests_.push_back(target);
    if (path == "/loaded") {
      loaded_.push_back(query["u"]);
      changed_.notify_all();
    } else if (path == "/reply") {
      replies_.emplace(query["w"], query["r"]);
      changed_.notify_all();
    } else if (path == "/next") {
      changed_.wait_for(lock, std::chrono::seconds(1),
                        [&] { return stopping_ || !commands_.empty(); });
      if (commands_.empty()) {
        status = 204;
      } else {
        body = commands_.front();
        commands_.pop_front();
        type = "application/json";
      }
    } else if (pages_.count(path)) {
      body = pages_[path];
      type = "text/html; charset=utf-8";
    } else {
      status = 404;
    }
  }
  std::string head = "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " X") +
                     "\r\nContent-Type: " + type + "\r\nContent-Length: " +
                     std::to_string(body.size()) +
                     "\r\nAccess-Control-Allow-Origin: *\r\nCache-Control: no-store\r\n"
                     "Connection: close\r\n\r\n";
  SendAll(fd, head + body);
}

void TestServer::SetPage(const std::string& path, const std::string& html) {
  std::lock_guard<std::mutex> lock(mutex_);
  pages_[path] = html;
}

void TestServer::Queue(const std::string& word, const std::string& params,
                       const std::string& type) {
  std::lock_guard<std::mutex> lock(mutex_);
  commands_.push_back("{\"word\":" + JsonText(word) + ",\"params\":" + JsonText(params) +
                      ",\"type\":" + JsonText(type) + "}");
  changed_.notify_all();
}

std::string TestServer::WaitLoaded(const std::function<bool(const std::string&)>& match,
                                   int seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::string found;
  changed_.wait_for(lock, std::chrono::seconds(seconds), [&] {
    for (const std::string& url : loaded_)
      if (match(url)) {
        found = url;
        return true;
      }
    return false;
  });
  return found;
}

std::string TestServer::WaitReply(const std::string& word, int seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::string reply;
  changed_.wait_for(lock, std::chrono::seconds(seconds), [&] {
    auto it = replies_.find(word);
    if (it == replies_.end()) return false;
    reply = it->second;
    replies_.erase(it);
    return true;
  });
  return reply;
}

int TestServer::CountLoaded(const std::string& part) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int count = 0;
  for (const std::string& url : loaded_) count += url.find(part) != std::string::npos;
  return count;
}

std::vector<std::string> TestServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::string DriverPage(const std::string& serverBase, const std::string& script) {
  return R"(<!DOCTYPE html><html><head><meta charset="utf-8"><title>driver</title></head>
<body style="background:#fff"><p id="state">driver</p><script>
var base = ")" + serverBase + R"(";
new Image().src = base + "/loaded?u=" + encodeURIComponent(location.href);
function report(word, text) {
  new Image().src = base + "/reply?w=" + encodeURIComponent(word) + "&r=" +
      encodeURIComponent(text) + "&t=" + Date.now() + Math.random();
}
function run(cmd) {
  var name = "E2E." + cmd.word;
  try {
    cef.message.sendMessage(name, [cmd.params, cmd.type]);
    cef.message.setMessageCallback(name, function (n, args) {
      report(cmd.word, args[0]);
      return true;
    });
  } catch (e) {
    report(cmd.word, "bridge: " + e.message);
  }
}
function poll() {
  fetch(base + "/next", {cache: "no-store"}).then(function (r) {
    return r.status == 200 ? r.json() : null;
  }).then(function (cmd) {
    if (cmd) run(cmd);
    setTimeout(poll, 20);
  }).catch(function () { setTimeout(poll, 200); });
}
poll();
)" + script + R"(
</script></body></html>
)";
}

ClientInstall::ClientInstall(const std::string& configIni) {
  fs::create_directories(E2E_TMP_DIR);
  std::string pattern = std::string(E2E_TMP_DIR) + "client-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  root_ = std::string(buffer.data()) + "/";
  for (const char* folder : {"bin", "appdata", "run", "tmp", "home"})
    fs::create_directories(root_ + folder);
  chmod((root_ + "run").c_str(), 0700);
  // The program finds everything beside its own file, so the executable itself is copied
  // (a link would lead back to the build's folder); the rest is shared.
  for (fs::directory_iterator it(CLIENT_BIN_DIR), end; it != end; ++it) {
    std::string name = it->path().filename().string();
    if (name == "config.ini" || name == "apps") continue;
    if (name == "quellwick") {
      boost::system::error_code ec;
      fs::create_hard_link(it->path(), bin() + name, ec);
      if (ec) fs::copy_file(it->path(), bin() + name);
    } else {
      fs::create_symlink(it->path(), bin() + name);
    }
  }
  fs::create_directories(bin() + "apps");
  if (fs::is_directory(std::string(CLIENT_BIN_DIR) + "apps"))
    for (fs::directory_iterator it(std::string(CLIENT_BIN_DIR) + "apps"), end; it != end; ++it)
      fs::create_symlink(it->path(), bin() + "apps/" + it->path().filename().string());
  WriteFile("bin/config.ini", configIni);
}

ClientInstall::~ClientInstall() {
  for (pid_t pid : started_) {
    if (Running(pid)) {
      kill(-pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  // What the clients printed is the first thing to read when a test of them fails.
  if (::testing::Test::HasFailure()) {
    for (std::size_t i = 0; i < started_.size(); ++i) {
      std::string out = ReadWholeFile(root_ + "client-" + std::to_string(i) + ".out");
      if (out.size() > 16000) out = "[...]" + out.substr(out.size() - 16000);
      std::fprintf(stderr, "--- client %zu (pid %d) printed:\n%s--- end of client %zu\n", i,
                   int(started_[i]), out.c_str(), i);
    }
  }
  if (!std::getenv("QW_KEEP_E2E")) {
    boost::system::error_code ec;
    fs::remove_all(root_, ec);
  }
}

void ClientInstall::WriteFile(const std::string& relative, const std::string& text) const {
  fs::path path(root_ + relative);
  fs::create_directories(path.parent_path());
  std::ofstream out(path.string(), std::ios::binary);
  out << text;
}

pid_t ClientInstall::Start(const std::vector<std::string>& args) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    std::size_t eq = entry.find('=');
    if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  env["APPDATA"] = root_ + "appdata";
  env["XDG_RUNTIME_DIR"] = root_ + "run";
  env["TMPDIR"] = root_ + "tmp";
  env["HOME"] = root_ + "home";
  env["GSETTINGS_BACKEND"] = "memory";
  env["NO_AT_BRIDGE"] = "1";
  std::vector<std::string> env_text, argv_text{bin() + "quellwick"};
  for (auto& [key, value] : env) env_text.push_back(key + "=" + value);
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> envp, argv;
  for (auto& s : env_text) envp.push_back(&s[0]);
  envp.push_back(nullptr);
  for (auto& s : argv_text) argv.push_back(&s[0]);
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::string out = root_ + "client-" + std::to_string(started_.size()) + ".out";
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = 0;
  int error = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) throw std::runtime_error("cannot start the client");
  started_.push_back(pid);
  return pid;
}

int ClientInstall::WaitExit(pid_t pid, int seconds) {
  auto found = exited_.find(pid);
  if (found != exited_.end()) return found->second;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      exited_[pid] = code;
      return code;
    }
    usleep(20000);
  }
  return -1;
}

bool ClientInstall::Running(pid_t pid) {
  if (exited_.count(pid)) return false;
  int status = 0;
  pid_t result = waitpid(pid, &status, WNOHANG);
  if (result == pid) {
    exited_[pid] = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  return result == 0;
}

std::string ClientInstall::ProgramLog() const {
  std::time_t now = std::time(nullptr);
  std::tm local;
  localtime_r(&now, &local);
  char name[32];
  std::strftime(name, sizeof name, "log/QNT-%Y%m%d.log", &local);
  std::ifstream in(dataDir() + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string RunCommand(const std::string& command) {
  std::string out;
  // No tool may hang a test: each gets a minute at most.
  if (FILE* pipe = popen(("timeout 60 " + command + " 2>/dev/null").c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out;
}

std::vector<unsigned long> FindWindows(const std::string& pattern) {
  std::vector<unsigned long> windows;
  std::istringstream in(RunCommand("xdotool search --onlyvisible --name '" + pattern + "'"));
  unsigned long id;
  while (in >> id) windows.push_back(id);
  return windows;
}

pid_t WindowPid(unsigned long window) {
  return static_cast<pid_t>(std::atoi(RunCommand("xdotool getwindowpid " + std::to_string(window)).c_str()));
}

unsigned long WaitWindow(const std::string& pattern, int seconds, pid_t owner) {
  unsigned long found = 0;
  Eventually([&] {
    for (unsigned long window : FindWindows(pattern))
      if (!owner || WindowPid(window) == owner) {
        found = window;
        return true;
      }
    return false;
  }, seconds);
  return found;
}

Geometry WindowGeometry(unsigned long window) {
  Geometry g;
  std::istringstream in(RunCommand("xwininfo -id " + std::to_string(window)));
  std::string line;
  while (std::getline(in, line)) {
    auto value = [&](const char* label) {
      std::size_t at = line.find(label);
      return at == std::string::npos ? std::string() : line.substr(at + std::strlen(label));
    };
    if (!value("Absolute upper-left X:").empty()) g.x = std::atoi(value("Absolute upper-left X:").c_str());
    if (!value("Absolute upper-left Y:").empty()) g.y = std::atoi(value("Absolute upper-left Y:").c_str());
    if (!value("Width:").empty()) g.width = std::atoi(value("Width:").c_str());
    if (!value("Height:").empty()) g.height = std::atoi(value("Height:").c_str());
    if (line.find("Map State: IsViewable") != std::string::npos) g.mapped = true;
  }
  return g;
}

void SendKeys(unsigned long window, const std::string& keys) {
  RunCommand("xdotool windowfocus --sync " + std::to_string(window) + " sleep 0.2 key --clearmodifiers " +
      keys);
}

void TypeText(unsigned long window, const std::string& text) {
  RunCommand("xdotool windowfocus --sync " + std::to_string(window) + " sleep 0.2 type --delay 20 '" +
             text + "'");
}

int ProbeKeyboard() {
  int status = std::system(KEYBOARD_PROBE);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Eventually(const std::function<bool()>& done, int seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    usleep(100000);
  }
  return done();
}

std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  DIR* proc = opendir("/proc");
  if (!proc) return children;
  while (dirent* entry = readdir(proc)) {
    pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (pid <= 0) continue;
    // A process that ends meanwhile reads as empty.
    std::string text = ReadWholeFile(std::string("/proc/") + entry->d_name + "/stat");
    std::size_t close_paren = text.rfind(')');
    if (close_paren == std::string::npos) continue;
    std::istringstream rest(text.substr(close_paren + 2));
    std::string state;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent && state != "Z") children.push_back(pid);
  }
  closedir(proc);
  return children;
}

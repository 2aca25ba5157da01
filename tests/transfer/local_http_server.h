// A real HTTP/1.1 server on 127.0.0.1 for tests and benchmarks (http_test_server.py beside this
// file), with what it received, and the helpers to read multipart bodies and run programs.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <json/json.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace testing_http {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

// Runs a program found on PATH, its output into |output| (standard error too); the exit code.
inline int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  std::vector<char*> raw;
  for (const std::string& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
  raw.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, raw[0], &actions, nullptr, raw.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string text;
  char buffer[8192];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, n);
  close(fds[0]);
  if (output) *output = text;
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A port on 127.0.0.1 where nothing listens (it was free a moment ago).
inline int ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

struct RecordedRequest {
  std::string method;
  std::string path;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string bodyFile;
  std::string Body() const { return ReadFile(bodyFile); }
};

struct FormPart {
  std::string name;
  std::string fileName;  // empty for a text field
  std::string contentType;
  std::string data;
};

// The parts of a multipart/form-data body, in order.
inline std::vector<FormPart> ParseMultipart(const RecordedRequest& request) {
  std::vector<FormPart> parts;
  auto type = request.headers.find("content-type");
  if (type == request.headers.end()) return parts;
  std::size_t at = type->second.find("boundary=");
  if (at == std::string::npos) return parts;
  std::string boundary = "--" + type->second.substr(at + 9);
  std::string body = request.Body();
  std::size_t pos = body.find(boundary);
  while (pos != std::string::npos) {
    pos += boundary.size();
    if (body.compare(pos, 2, "--") == 0) break;
    pos += 2;  // CRLF
    std::size_t headers_end = body.find("\r\n\r\n", pos);
    if (headers_end == std::string::npos) break;
    std::string head = body.substr(pos, headers_end - pos);
    std::size_t next = body.find("\r\n" + boundary, headers_end + 4);
    if (next == std::string::npos) break;
    FormPart part;
    part.data = body.substr(headers_end + 4, next - headers_end - 4);
    std::istringstream lines(head);
    std::string line;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::string lower = line;
      std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
      if (lower.rfind("content-type:", 0) == 0) {
        part.contentType = line.substr(line.find(':') + 1);
        part.contentType.erase(0, part.contentType.find_first_not_of(' '));
      }
      auto quoted = [&](const std::string& key) {
        std::size_t k = line.find(key + "=\"");
        if (k == std::string::npos) return std::string();
        std::size_t start = k + key.size() + 2;
        return line.substr(start, line.find('"', start) - start);
      };
      if (lower.rfind("content-disposition:", 0) == 0) {
        part.name = quoted(" name");
        part.fileName = quoted("filename");
      }
    }
    parts.push_back(part);
    pos = next + 2;
  }
  return parts;
}

class LocalHttpServer {
 public:
  // Serves |filesDir| under /files/ and records into |storeDir| (both exist). With |tls| the
  // server speaks HTTPS with a self-signed certificate for 127.0.0.1 made now, and with
  // |clientCa| it accepts only clients whose certificate that file holds.
  LocalHttpServer(const std::string& storeDir, bool tls = false, std::string filesDir = "",
                  const std::string& clientCa = "")
      : store_(storeDir) {
    std::string script = ScriptPath();
    std::vector<std::string> argv{"python3", script, "--store", storeDir};
    if (!filesDir.empty()) {
      argv.push_back("--files");
      argv.push_back(filesDir);
    }
    if (tls) {
      cert_ = storeDir + "../server-cert.pem";
      key_ = storeDir + "../server-key.pem";
      std::string output;
      int rc = RunProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                           "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key_, "-out",
                           cert_, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                           "subjectAltName=IP:127.0.0.1"},
                          &output);
      if (rc != 0) throw std::runtime_error("openssl failed: " + output);
      argv.insert(argv.end(), {"--cert", cert_, "--key", key_});
      if (!clientCa.empty()) argv.insert(argv.end(), {"--client-ca", clientCa});
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    std::vector<char*> raw;
    for (const std::string& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
    raw.push_back(nullptr);
    int rc = posix_spawnp(&pid_, "python3", &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      close(fds[0]);
      throw std::runtime_error("python3 could not be started");
    }
    std::string line;
    pollfd p{fds[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&p, 1, 30000) > 0) {
      char c[64];
      ssize_t n = read(fds[0], c, sizeof c);
      if (n <= 0) break;
      line.append(c, n);
    }
    close(fds[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) {
      Stop();
      throw std::runtime_error("the test server did not start");
    }
  }
  ~LocalHttpServer() { Stop(); }
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  int port() const { return port_; }
  std::string Base() const {
    return std::string(cert_.empty() ? "http" : "https") + "://127.0.0.1:" +
           std::to_string(port_) + "/";
  }
  std::string Url(const std::string& path) const { return Base() + path; }
  const std::string& certFile() const { return cert_; }

  // Every answered request so far, in order of arrival.
  std::vector<RecordedRequest> Requests() const {
    std::vector<RecordedRequest> requests;
    for (int n = 1;; ++n) {
      std::string base = store_ + std::to_string(n);
      std::ifstream in(base + ".json");
      if (!in) break;
      Json::Value meta;
      in >> meta;
      RecordedRequest r;
      r.method = meta["method"].asString();
      r.path = meta["path"].asString();
      for (const Json::Value& h : meta["headers"]) {
        std::string name = h[0].asString();
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        r.headers[name] = h[1].asString();
      }
      r.bodyFile = base + ".body";
      requests.push_back(r);
    }
    return requests;
  }
  std::size_t CountFor(const std::string& path) const {
    std::size_t count = 0;
    for (const RecordedRequest& r : Requests()) count += r.path == "/" + path;
    return count;
  }

 private:
  static std::string ScriptPath() {
    std::string here = __FILE__;
    return here.substr(0, here.rfind('/') + 1) + "http_test_server.py";
  }
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }

  std::string store_;
  std::string cert_;
  std::string key_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace testing_http

#include "shell/core/helpers.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <boost/regex.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/base/executable_folder.h"
#include "shell/core/version.h"

extern char** environ;

namespace {

std::string CutAtNul(const std::string& text) {
  std::size_t nul = text.find('\0');
  return nul == std::string::npos ? text : text.substr(0, nul);
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// Name of the executable of process |pid| as the process list shows it, or "" when the process
// is gone, belongs to another user or is a zombie.
std::string OwnProcessName(const std::string& pid) {
  struct stat st;
  std::string dir = "/proc/" + pid;
  if (stat(dir.c_str(), &st) != 0 || st.st_uid != getuid()) return "";
  std::string stat_text = ReadWholeFile(dir + "/stat");
  std::size_t open = stat_text.find('(');
  std::size_t close = stat_text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return "";
  if (close + 2 < stat_text.size() && stat_text[close + 2] == 'Z') return "";
  // The kernel's comm is cut at 15 characters; the executable's own name is not.
  char target[4096];
  ssize_t n = readlink((dir + "/exe").c_str(), target, sizeof target - 1);
  if (n > 0) {
    std::string exe(target, static_cast<std::size_t>(n));
    const std::string deleted = " (deleted)";
    if (exe.size() > deleted.size() &&
        exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
      exe.resize(exe.size() - deleted.size());
    return exe.substr(exe.rfind('/') + 1);
  }
  return stat_text.substr(open + 1, close - open - 1);
}

// $HOME, else the user's home folder in the password database; "" when neither names one.
std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 4096);
  passwd entry;
  passwd* found = nullptr;
  while (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
    buffer.resize(buffer.size() * 2);
  return found && found->pw_dir ? found->pw_dir : "";
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

template <typename Visit>
void ForEachOwnProcess(const std::string& exeName, Visit visit) {
  DIR* proc = opendir("/proc");
  if (!proc) return;
  while (dirent* entry = readdir(proc)) {
    const char* name = entry->d_name;
    if (!*name || std::strspn(name, "0123456789") != std::strlen(name)) continue;
    pid_t pid = static_cast<pid_t>(std::atoi(name));
    if (pid == getpid()) continue;
    if (SameNameIgnoringCase(OwnProcessName(name), exeName) && !visit(pid)) break;
  }
  closedir(proc);
}

}  // namespace

std::string ReadWholeFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  // One read into a buffer of the file's size; files under /proc and /sys say 0 or a page
  // whatever they hold, so reading goes on until the end the reads report, growing as needed.
  struct stat st;
  std::size_t size = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0
                         ? static_cast<std::size_t>(st.st_size)
                         : 0;
  std::string text(std::max<std::size_t>(size + 1, 4096), '\0');
  std::size_t used = 0;
  ssize_t got;
  do {
    if (used == text.size()) text.resize(text.size() * 2);
    got = read(fd, &text[used], text.size() - used);
    if (got > 0) used += static_cast<std::size_t>(got);
  } while (got > 0 || (got < 0 && errno == EINTR));
  close(fd);
  // A read that failed part way gives nothing rather than a piece of the file.
  if (got < 0) return "";
  text.resize(used);
  return text;
}

std::string AnsiToUtf8(const std::string& text) { return CutAtNul(text); }
std::string Utf8ToAnsi(const std::string& text) { return CutAtNul(text); }

// The command layer's convention: a NUL or an unconvertible character ends the text.
constexpr TextConversion kCommandText = {NulCharacter::kEndsText, BadCharacter::kEndsText};

std::wstring NarrowToWide(const std::string& text) { return ConvertUtf8ToWide(text, kCommandText); }

std::string WideToNarrow(const std::wstring& text) { return ConvertWideToUtf8(text, kCommandText); }

std::string GetModuleDir() {
  std::string folder = ExecutableFolder();
  return folder.empty() ? "./" : folder;
}

std::string GetAppDataDir() {
  const char* appdata = std::getenv("APPDATA");
  if (appdata && *appdata) return WithSlash(appdata) + "Quellwick/";
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg) return WithSlash(xdg) + "Quellwick/";
  // A user without any home keeps the folder in the private temporary folder: a fixed folder
  // such as "/tmp/" would be shared with every other user.
  std::string home = HomeFolder();
  return WithSlash(home.empty() ? PrivateTempDir("/tmp/") : home) + ".local/share/Quellwick/";
}

std::string GetTempDir() {
  const char* tmp = std::getenv("TMPDIR");
  if (tmp && *tmp) return WithSlash(tmp);
  return PrivateTempDir("/tmp/");
}

std::string PrivateTempDir(const std::string& parent) {
  // A folder that the first check refused is replaced once per run; every later call of the run
  // gets the same replacement, so the session folders stay where they began.
  static std::mutex lock;
  static std::map<std::string, std::string> replacements;
  std::lock_guard<std::mutex> guard(lock);
  auto made = replacements.find(parent);
  if (made != replacements.end()) return made->second;

  const std::string name = WithSlash(parent) + "quellwick-" + std::to_string(getuid());
  mkdir(name.c_str(), 0700);
  struct stat st;
  // Anyone may make this name first in a shared folder: only our own real folder will do.
  if (lstat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid())
    return name + "/";
  std::string pattern = name + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) return name + "/";
  std::string replacement = std::string(buffer.data()) + "/";
  replacements.emplace(parent, replacement);
  return replacement;
}

bool IsExistingFile(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsExistingDir(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::size_t NormalizePath(std::string& path, char separator) {
  std::size_t start = (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') ? 2 : 0;
  std::string out = path.substr(0, start);
  for (std::size_t i = start; i < path.size(); ++i) {
    if (IsSeparator(path[i])) {
      if (out.size() > start && out.back() == separator) continue;
      out.push_back(separator);
    } else {
      out.push_back(path[i]);
    }
  }
  path.swap(out);
  return path.size();
}

int SplitPath(const std::string& path, std::vector<std::string>& out) {
  if (path.empty()) return -1;
  std::size_t pos = 0;
  if (path.size() > 2 && path[0] == '\\' && path[1] == '\\')
    pos = 2;
  else if (path.size() > 2 && path[1] == ':')
    pos = 3;
  else if (IsSeparator(path[0]))
    pos = 1;  // an absolute path: its first part is "/a", never the empty root
  while (true) {
    std::size_t sep = path.find_first_of("/\\", pos);
    if (sep == std::string::npos) {
      out.push_back(path);
      return 0;
    }
    out.push_back(path.substr(0, sep));
    if (sep + 1 == path.size()) return 0;
    pos = sep + 1;
  }
}

int MakeDirs(const std::string& path, bool failIfExists, bool withParents) {
  if (IsExistingDir(path)) return failIfExists ? -1 : 0;
  std::vector<std::string> parts;
  if (SplitPath(path, parts) != 0) return -1;
  if (!withParents && parts.size() >= 2) return -1;
  for (const std::string& part : parts) {
    if (part.empty() || IsExistingDir(part)) continue;
    if (mkdir(part.c_str(), 0777) != 0 && !(errno == EEXIST && IsExistingDir(part)))
      return errno ? errno : -1;
  }
  return 0;
}

std::string ReadTextFile(const std::string& path, std::string& raw) {
  std::ifstream in;
  if (!IsExistingFile(path) || (in.open(path, std::ios::binary), !in.is_open()))
    throw std::runtime_error("打开文件出错");
  char bom[3] = {0, 0, 0};
  in.read(bom, 3);
  bool has_bom = in.gcount() == 3 && static_cast<unsigned char>(bom[0]) == 0xEF &&
                 static_cast<unsigned char>(bom[1]) == 0xBB &&
                 static_cast<unsigned char>(bom[2]) == 0xBF;
  in.clear();
  in.seekg(has_bom ? 3 : 0);
  std::string line;
  while (std::getline(in, line)) {
    raw += line;
    raw += '\n';
  }
  return Utf8ToAnsi(raw);
}

std::string GetFileVersionString(const std::string& path) {
  struct stat file, self;
  if (stat(path.c_str(), &file) != 0 || stat("/proc/self/exe", &self) != 0) return "";
  if (file.st_dev != self.st_dev || file.st_ino != self.st_ino) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", kVersionMajor, kVersionMinor, kVersionBuild,
                kVersionRevision);
  return text;
}

bool IsProcessRunning(const std::string& exeName) {
  bool found = false;
  ForEachOwnProcess(exeName, [&](pid_t) {
    found = true;
    return false;
  });
  return found;
}

int KillProcessByName(const std::string& exeName) {
  int result = 0;
  ForEachOwnProcess(exeName, [&](pid_t pid) {
    result = kill(pid, SIGKILL) == 0 ? 1 : 0;
    // Ended means gone or a zombie: reaping a child stays its parent's business.
    while (result && !OwnProcessName(std::to_string(pid)).empty())
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return true;
  });
  return result;
}

bool ShellOpen(const std::string& path, bool show) {
  (void)show;  // programs started here have no window of their own to hide
  if (!IsExistingFile(path)) return false;
  std::string a1 = "-a", a2 = "a";
  std::string arg0 = path;
  char* argv[] = {&arg0[0], &a1[0], &a2[0], nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid;
  if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ) == 0) {
    // Reap it in the background so that it never lingers as a zombie of ours.
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  }
  posix_spawn_file_actions_destroy(&actions);
  return true;
}

std::string DefaultRouteInterface(const std::string& routeTable) {
  std::istringstream lines(routeTable);
  std::string line;
  std::getline(lines, line);  // header
  std::string best;
  long best_metric = -1;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string iface, dest, gateway, flags, refcnt, use, metric, mask;
    if (!(fields >> iface >> dest >> gateway >> flags >> refcnt >> use >> metric >> mask))
      continue;
    unsigned long flag_bits = std::strtoul(flags.c_str(), nullptr, 16);
    if (dest != "00000000" || mask != "00000000" || !(flag_bits & 0x1)) continue;
    long m = std::strtol(metric.c_str(), nullptr, 10);
    if (best_metric < 0 || m < best_metric) {
      best = iface;
      best_metric = m;
    }
  }
  return best;
}

bool GetLocalIp(std::string& ip) {
  std::string iface = DefaultRouteInterface(ReadWholeFile("/proc/net/route"));
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (ifaddrs* a = list; a && !found; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    // Without a default route, the first address that is not loopback will do.
    bool wanted = iface.empty() ? !(a->ifa_flags & IFF_LOOPBACK) : iface == a->ifa_name;
    if (!wanted) continue;
    char text[INET_ADDRSTRLEN];
    auto* in = reinterpret_cast<sockaddr_in*>(a->ifa_addr);
    if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) {
      ip = text;
      found = true;
    }
  }
  freeifaddrs(list);
  return found;
}

std::string FormatMac(const unsigned char* bytes, std::size_t length) {
  std::string out;
  char pair[4];
  for (std::size_t i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, i + 1 < length ? "%02X-" : "%02X", bytes[i]);
    out += pair;
  }
  return out;
}

namespace {
bool ParseColonMac(const std::string& text, std::string& out) {
  unsigned int b[6];
  char tail;
  if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5],
                  &tail) != 6)
    return false;
  unsigned char bytes[6];
  bool all_zero = true;
  for (int i = 0; i < 6; ++i) {
    if (b[i] > 0xFF) return false;
    bytes[i] = static_cast<unsigned char>(b[i]);
    all_zero = all_zero && bytes[i] == 0;
  }
  if (all_zero) return false;
  out = FormatMac(bytes, 6);
  return true;
}
}  // namespace

bool MacFromArpTable(const std::string& arpTable, const std::string& ip, std::string& out) {
  std::istringstream lines(arpTable);
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string addr, hwtype, flags, mac;
    if (!(fields >> addr >> hwtype >> flags >> mac) || addr != ip) continue;
    // Flag 0x2 marks a completed entry; an incomplete one has no address yet.
    if (!(std::strtoul(flags.c_str(), nullptr, 16) & 0x2)) return false;
    return ParseColonMac(mac, out);
  }
  return false;
}

bool InterfaceMac(const std::string& sysRoot, const std::string& interfaceName, std::string& out) {
  const std::string name = interfaceName.substr(0, interfaceName.find(':'));
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
    return false;
  std::string mac = ReadWholeFile(sysRoot + "/class/net/" + name + "/address");
  while (!mac.empty() && (mac.back() == '\n' || mac.back() == ' ')) mac.pop_back();
  return ParseColonMac(mac, out);
}

bool GetMacByArp(const std::string& ip, std::string& out) {
  in_addr wanted;
  if (inet_pton(AF_INET, ip.c_str(), &wanted) != 1) return false;
  ifaddrs* list = nullptr;
  std::string local_iface;
  if (getifaddrs(&list) == 0) {
    for (ifaddrs* a = list; a; a = a->ifa_next) {
      if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
      if (reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr == wanted.s_addr) {
        local_iface = a->ifa_name;
        break;
      }
    }
    freeifaddrs(list);
  }
  if (!local_iface.empty()) return InterfaceMac("/sys", local_iface, out);
  return MacFromArpTable(ReadWholeFile("/proc/net/arp"), ip, out);
}

bool IsAppUrl(const std::string& text) { return text.compare(0, 6, "app://") == 0; }

bool IsValidUrl(const std::string& text) {
  static const boost::regex pattern(
      "^(((ht|f)tp(s?))\\://)?(www.|[a-zA-Z].)[a-zA-Z0-9\\-\\.]+\\.([a-zA-Z]{2,4})(:\\d+)?(/"
      "[a-zA-Z0-9\\.\\-~!@#$%^&*+?:_/=<>]*)?");
  return boost::regex_match(text, pattern);
}

std::string NumberToString(unsigned int number) {
  std::ostringstream out;
  out << std::dec << number;
  return out.str();
}

int AppendResponseBody(const void* data, std::size_t size, std::size_t count, std::string* body) {
  (void)size;
  if (!data || !body) return -1;
  body->append(static_cast<const char*>(data), count);
  return static_cast<int>(count);
}

std::string& ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  std::size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

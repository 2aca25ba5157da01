#include "shell/startup_rules.h"

#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cctype>

#include "exam_commands/session_folder.h"
#include "shell/core/helpers.h"
#include "shell/core/profile.h"
#include "shell/core/program_log.h"

namespace {

std::string ReadConfigKey(const std::string& path, const char* section, const char* key,
                          std::size_t capacity) {
  return ReadProfileString(path, section, key, "", capacity);
}

std::string FileUri(const std::string& path) {
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  if (!uri) return "file://" + path;
  std::string text(uri);
  g_free(uri);
  return text;
}

// False only when the folder should have gone and could not; each end is logged.
bool RemoveSessionFolder(const std::string& folder) {
  std::string error;
  switch (RemoveUnheldSessionFolder(folder, error)) {
    case SessionFolderRemoval::kRemoved:
      return true;
    case SessionFolderRemoval::kLeftAlone:
      LogInfo("session", "in use by a running client, left alone: " + folder);
      return true;
    case SessionFolderRemoval::kFailed:
      break;
  }
  LogError("session", "cannot remove " + folder + ": " + error);
  return false;
}

}  // namespace

std::string NormalizeBaseUrl(std::string url) {
  if (url.empty()) return url;
  if (url.back() == '\\') url.back() = '/';
  if (url.back() != '/') url += '/';
  return url;
}

ClientConfig ReadClientConfig(const std::string& configPath) {
  ClientConfig config;
  config.mutex = ReadConfigKey(configPath, "Config", "Mutex", 16) == "1";
  config.homePage = ReadConfigKey(configPath, "HomePage", "home", 1024);
  config.baseUrl = NormalizeBaseUrl(ReadConfigKey(configPath, "Config", "ServiceUrl", 1024));
  config.navigationBar = ReadConfigKey(configPath, "Config", "NavigationBar", 16) == "1";
  return config;
}

std::string RuntimeDir() {
  std::string folder = g_get_user_runtime_dir();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

InstanceLock AcquireInstanceLock(const std::string& folder, const std::string& name) {
  MakeDirs(folder, false, true);
  int fd = open((folder + name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return InstanceLock::kFailed;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? InstanceLock::kAlreadyRunning : InstanceLock::kFailed;
  }
  return InstanceLock::kAcquired;  // |fd| stays open: the lock lasts as long as the process
}

std::string JoinCommandLine(int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += '"';
    for (const char* c = argv[i]; *c; ++c) {
      if (*c == '"' || *c == '\\') line += '\\';
      line += *c;
    }
    line += '"';
  }
  return line;
}

NavigationTarget ResolveNavigation(const std::string& address, const std::string& moduleDir) {
  NavigationTarget target;
  if (address.empty()) {
    target.text = "about:blank";
  } else if (IsAppUrl(address)) {
    target.isApp = true;
    target.text = address.substr(6);
  } else if (IsValidUrl(address)) {
    target.text = address;
  } else if (address[0] == '/') {
    target.text = FileUri(address);
  } else if (address.find(':') != std::string::npos) {
    target.text = address;
  } else {
    target.text = FileUri(moduleDir + address);
  }
  return target;
}

bool IsSessionGuid(const std::string& text) {
  if (text.size() != 32) return false;
  for (unsigned char c : text)
    if (!std::isxdigit(c)) return false;
  return true;
}

bool RemovePreviousSessionFolder(const std::string& dataDir, const std::string& tempFolder) {
  std::string session = ReadProfileString(dataDir + "hash.cache", "cache", "session", "", 1024);
  if (session.empty()) return true;
  if (!IsSessionGuid(session)) {
    LogError("session", "not a session folder, left alone: " + session);
    return true;
  }
  // A folder of an earlier version carries no mark and goes all the same; one that a running
  // client holds (several may run at once) stays with it.
  return RemoveSessionFolder(tempFolder + session);
}

std::vector<std::string> FindSessionFolders(const std::string& tempFolder) {
  std::vector<std::string> folders;
  boost::system::error_code ec;
  for (boost::filesystem::directory_iterator it(tempFolder, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::string path = it->path().string();
    struct stat st;
    if (IsSessionGuid(it->path().filename().string()) && lstat(path.c_str(), &st) == 0 &&
        S_ISDIR(st.st_mode) && st.st_uid == getuid() && IsMarkedSessionFolder(path))
      folders.push_back(path);
  }
  return folders;
}

bool RemoveSessionFolders(const std::vector<std::string>& folders) {
  bool removed = true;
  for (const std::string& folder : folders) removed = RemoveSessionFolder(folder) && removed;
  return removed;
}

// The parts of the start-up that decide from text and files alone: config.ini, the
// single-instance lock, the command line as the launcher wrote it, where an address leads, and
// the clean-up of the previous run's temporary session folder.
#pragma once

#include <string>
#include <vector>

// config.ini beside the executable, never written; a missing file or key reads as empty.
struct ClientConfig {
  bool mutex = false;          // "Config"/"Mutex" is exactly "1"
  std::string homePage;        // "HomePage"/"home"
  std::string baseUrl;         // "Config"/"ServiceUrl", ending in "/" when set
  bool navigationBar = false;  // "Config"/"NavigationBar" is exactly "1"
};
ClientConfig ReadClientConfig(const std::string& configPath);
// A server base URL as stored: a final "\" becomes "/", and "/" is appended when missing.
std::string NormalizeBaseUrl(std::string url);

enum class InstanceLock { kAcquired, kAlreadyRunning, kFailed };
// Takes the lock file |name| in |folder| (made when missing). The lock is held until the
// process ends; the file is never closed.
InstanceLock AcquireInstanceLock(const std::string& folder, const std::string& name);
// The per-user runtime folder that holds the lock, ending in "/".
std::string RuntimeDir();

// The arguments after the program's name as one line, each in double quotes with its quotes
// and backslashes escaped by a backslash, so a launcher's quoted tokens come out unchanged.
std::string JoinCommandLine(int argc, const char* const* argv);

// Where an address from the address bar or the home page goes.
struct NavigationTarget {
  bool isApp = false;  // run the application |text| names (its key)
  std::string text;    // otherwise the address the browser loads
};
// Empty: "about:blank"; "app://key": the application; a web address or a text holding ":": as
// it stands; an absolute path, or a path relative to |moduleDir|: its file:// URI.
NavigationTarget ResolveNavigation(const std::string& address, const std::string& moduleDir);

// 32 hexadecimal digits, as a session GUID is written.
bool IsSessionGuid(const std::string& text);
// Removes the temporary session folder that hash.cache in |dataDir| names, when the name is a
// session GUID and the folder lies directly in |tempFolder|, unless a running client holds it.
// Anything else a page may have written there is left alone. False when a folder was named but
// could not be removed.
bool RemovePreviousSessionFolder(const std::string& dataDir, const std::string& tempFolder);
// The session folders directly in |tempFolder|: real folders of this user named by a session
// GUID that carry the client's mark. Those that no running client holds are left over from
// earlier runs, including a run ended before hash.cache recorded its session.
std::vector<std::string> FindSessionFolders(const std::string& tempFolder);
// Removes each of |folders| with everything in it, unless a running client holds it; false when
// one could not be removed.
bool RemoveSessionFolders(const std::vector<std::string>& folders);

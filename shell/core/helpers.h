// Shared helpers of the shell: text encodings, paths and folders, processes, local network
// identity, the URL check and small string utilities. They keep no state of their own beyond the
// run's replacement temporary folder.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/base/utf8_text.h"

// --- Text encodings. The narrow "ANSI" texts of the command layer are UTF-8 on this platform,
// so the ANSI <-> UTF-8 pair only cuts the text at its first NUL. The wide converters translate
// UTF-8 <-> UTF-32 without touching the process locale, so threads never race on it; an
// unconvertible character ends the result.
std::string AnsiToUtf8(const std::string& text);
std::string Utf8ToAnsi(const std::string& text);
std::wstring NarrowToWide(const std::string& text);
std::string WideToNarrow(const std::wstring& text);

// --- Paths and folders. Every folder text ends in "/".
std::string GetModuleDir();    // the executable's folder
std::string GetAppDataDir();   // the per-user data folder ".../Quellwick/"
// The temporary folder: $TMPDIR when set, else the user's private folder in "/tmp/".
std::string GetTempDir();
// The user's private folder "quellwick-<uid>/" inside |parent|, made with mode 0700 when missing.
// When that name is a link, no folder, or another user's, a new private folder made with mkdtemp
// beside it serves instead, the same one for the rest of the run.
std::string PrivateTempDir(const std::string& parent);
// Regular files only (a link is followed): a FIFO or a device would block whoever opens it, and
// every caller goes on to open the file.
bool IsExistingFile(const std::string& path);
bool IsExistingDir(const std::string& path);
// Replaces "/" and "\" by |separator| and collapses runs of separators; a leading pair of
// backslashes (a network path) is kept as it is. Returns the new length.
std::size_t NormalizePath(std::string& path, char separator);
// Appends every leading part of |path| that ends before a separator, then the whole path.
// Returns 0, or -1 for an empty path.
int SplitPath(const std::string& path, std::vector<std::string>& out);
// Creates |path| (and, with |withParents|, its missing parents). Returns 0, -1 (already there
// with |failIfExists|, empty path, or parents missing without |withParents|) or the errno of the
// first folder that could not be made.
int MakeDirs(const std::string& path, bool failIfExists, bool withParents);
// The whole file's bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Reads a UTF-8 text file without its byte-order mark, line by line, each line followed by one
// line feed, appending to |raw|; returns the text. Throws std::runtime_error("打开文件出错") when
// the file cannot be opened.
std::string ReadTextFile(const std::string& path, std::string& raw);
// "%d.%d.%d.%d" of the file's version; only the client's own executable carries one.
std::string GetFileVersionString(const std::string& path);

// --- Processes (of the calling user; zombies do not count).
bool IsProcessRunning(const std::string& exeName);
// Kills every process of that name and waits for each to end. Returns 1 when the last kill
// attempted succeeded, 0 when none matched.
int KillProcessByName(const std::string& exeName);
// Starts the file as a program with the arguments "-a a"; false when it is not an existing file.
bool ShellOpen(const std::string& path, bool show);

// --- Network identity.
// The IPv4 address of the interface that holds the default route.
bool GetLocalIp(std::string& ip);
// The MAC address ("00-1A-2B-3C-4D-5E") for an IPv4 address: a local address answers with its
// interface's own MAC, a neighbour from the ARP table. |out| is unchanged on failure.
bool GetMacByArp(const std::string& ip, std::string& out);
// The pieces of the two above that read the kernel's tables, for tests with canned text.
std::string DefaultRouteInterface(const std::string& routeTable);  // text of /proc/net/route
bool MacFromArpTable(const std::string& arpTable, const std::string& ip, std::string& out);
// The MAC of a local interface from sysfs under |sysRoot|; an address label ("eth0:1", as the
// interface list names a labelled address) stands for its interface. False for interfaces
// without one (loopback).
bool InterfaceMac(const std::string& sysRoot, const std::string& interfaceName, std::string& out);
std::string FormatMac(const unsigned char* bytes, std::size_t length);

// --- Other.
bool IsAppUrl(const std::string& text);
bool IsValidUrl(const std::string& text);
std::string NumberToString(unsigned int number);
// The response sink handed to the HTTP provider: appends |count| bytes to |*body|.
int AppendResponseBody(const void* data, std::size_t size, std::size_t count, std::string* body);
// Replaces every occurrence of |from| (non-empty) by |to|, never searching inserted text again.
std::string& ReplaceAll(std::string& text, const std::string& from, const std::string& to);

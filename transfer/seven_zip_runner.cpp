#include "transfer/seven_zip_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <functional>
#include <mutex>
#include <new>
#include <utility>

#include "shell/core/helpers.h"
#include "shell/core/profile.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Guards the runner's creation and every operation: 7-Zip's console works with process-wide
// streams and settings, so two archive operations must never run at once.
std::mutex& ArchiveLock() {
  static std::mutex lock;
  return lock;
}

const char kNoCode[] = "7-Zip cannot find the code that works with archives.";

bool IsWildcard(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

// A relative name that would read as a switch or a list file, made plainly a name.
std::wstring AsName(const std::wstring& name) {
  if (!name.empty() && (name[0] == L'-' || name[0] == L'@')) return L"./" + name;
  return name;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

bool IsHelpSwitch(const std::wstring& s) {
  std::wstring lower = Lower(s);
  return lower == L"-?" || lower == L"-h" || lower == L"--help";
}

// Commands whose second argument is an archive followed by names.
bool TakesArchive(const std::wstring& command) { return command != L"i" && command != L"b"; }
bool IsUpdate(const std::wstring& command) { return command == L"a" || command == L"u"; }
bool IsReading(const std::wstring& command) {
  return command == L"x" || command == L"e" || command == L"t" || command == L"l" ||
         command == L"h";
}

// 7-Zip's explanation after the first |marker| of its output, up to the next empty line, on one
// line (the first report names the file; later ones only sum up).
std::string ErrorText(const std::string& output, const char* marker) {
  std::size_t at = output.find(marker);
  if (at == std::string::npos) return std::string();
  std::string text;
  std::size_t pos = at + std::strlen(marker);
  while (pos < output.size()) {
    std::size_t end = output.find('\n', pos);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(pos, end - pos);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    std::size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos) {
      if (!text.empty()) text += ' ';
      text += line.substr(first);
    } else if (!text.empty()) {
      break;
    }
    pos = end + 1;
  }
  return text;
}

struct SpawnActions {
  posix_spawn_file_actions_t actions;
  SpawnActions() { posix_spawn_file_actions_init(&actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};

// Runs |argv| with standard input from /dev/null. With |outputPipe| >= 0 standard output and
// error go into it; otherwise they stay the process's own. Returns the child's wait status.
int SpawnAndWait(const std::vector<std::string>& argv, int outputPipe,
                 const std::function<void(const char*, std::size_t)>& onOutput, int readEnd) {
  std::vector<char*> raw;
  for (const std::string& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
  raw.push_back(nullptr);
  SpawnActions spawn;
  posix_spawn_file_actions_addopen(&spawn.actions, 0, "/dev/null", O_RDONLY, 0);
  if (outputPipe >= 0) {
    posix_spawn_file_actions_adddup2(&spawn.actions, outputPipe, 1);
    posix_spawn_file_actions_adddup2(&spawn.actions, outputPipe, 2);
  }
  posix_spawn_file_actions_addclosefrom_np(&spawn.actions, 3);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, raw[0], &spawn.actions, nullptr, raw.data(), environ);
  if (outputPipe >= 0) close(outputPipe);
  if (rc != 0) {
    if (readEnd >= 0) close(readEnd);
    throw SevenZipException(std::string("7-Zip could not be started: ") + std::strerror(rc));
  }
  if (readEnd >= 0) {
    char buffer[16384];
    while (true) {
      ssize_t n = read(readEnd, buffer, sizeof buffer);
      if (n > 0) {
        onOutput(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
    close(readEnd);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

std::string WarningBlock(const std::vector<std::string>& files, const char* reason,
                         const char* kind) {
  std::string text = "\nWARNINGS for files:\n\n";
  for (const std::string& f : files) text += f + " : " + reason + "\n";
  text += "----------------\nWARNING: ";
  text += kind;
  text += std::to_string(files.size()) + " file" + (files.size() > 1 ? "s" : "") + "\n";
  return text;
}

std::string Narrow(const std::wstring& text) { return WideToNarrow(text); }

// Absolute path without "." and "..", symbolic links resolved where the path exists, and no
// trailing separator.
fs::path Resolved(const fs::path& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) absolute = path;
  fs::path resolved = fs::weakly_canonical(absolute, ec);
  if (ec) resolved = absolute.lexically_normal();
  std::string text = resolved.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return fs::path(text);
}

bool Contains(const fs::path& folder, const fs::path& inner) {
  std::string f = folder.string();
  std::string i = inner.string();
  if (f == "/") return i.size() > 1 && i[0] == '/';
  return i.size() > f.size() + 1 && i.compare(0, f.size(), f) == 0 && i[f.size()] == '/';
}

// The outermost packed folder that holds the archive, or an empty path.
fs::path FolderHoldingArchive(const fs::path& archive, const std::vector<std::wstring>& files) {
  fs::path outermost;
  for (const std::wstring& file : files) {
    fs::path name(Narrow(file));
    if (IsWildcard(name.string())) {
      // A wildcard selects inside the folder before its first wildcard part.
      fs::path folder;
      for (const fs::path& part : name) {
        if (IsWildcard(part.string())) break;
        folder /= part;
      }
      name = folder.empty() ? fs::path(".") : folder;
    }
    fs::path resolved = Resolved(name);
    if (Contains(resolved, archive) &&
        (outermost.empty() || resolved.string().size() < outermost.string().size()))
      outermost = resolved;
  }
  return outermost;
}

// Moves a file, copying when the two places lie on different file systems.
void MoveFile(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (!ec) return;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) throw SevenZipException("Cannot move " + from.string() + ": " + ec.message());
  fs::remove(from, ec);
}


// One command line: its switches, and the rest in order, each marked when it came behind "--".
struct ParsedLine {
  struct Positional {
    std::wstring text;
    bool literal;  // behind "--"
  };
  std::vector<std::wstring> switches;
  std::vector<Positional> positional;
};

ParsedLine ParseArguments(const std::vector<std::wstring>& arguments) {
  ParsedLine line;
  bool switches_ended = false;
  for (const std::wstring& argument : arguments) {
    if (!switches_ended && argument == L"--") {
      switches_ended = true;
    } else if (!switches_ended && !argument.empty() && argument[0] == L'-') {
      line.switches.push_back(argument);
    } else {
      line.positional.push_back({argument, switches_ended});
    }
  }
  return line;
}

// The names of an inline list "a,b,c"; none of them may be empty.
void AppendListedNames(const std::wstring& list, std::vector<std::string>& names) {
  std::size_t start = 0;
  while (true) {
    std::size_t comma = list.find(L',', start);
    std::wstring piece =
        list.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
    if (piece.empty()) throw SevenZipException("Empty file path");
    names.push_back(Narrow(piece));
    if (comma == std::wstring::npos) return;
    start = comma + 1;
  }
}

// The program's argument vector: command, switches, archive, list files, and the file names
// behind "--" so that none of them reads as a switch. |names| receives the file names.
std::vector<std::string> ProgramArguments(const std::string& program, const ParsedLine& line,
                                          const std::wstring& command,
                                          std::vector<std::string>& names) {
  const auto& positional = line.positional;
  std::vector<std::string> argv{program};
  if (!positional.empty()) argv.push_back(Narrow(positional[0].text));
  for (const std::wstring& s : line.switches) argv.push_back(Narrow(s));
  if (TakesArchive(command) && positional.size() > 1) {
    std::string archive = Narrow(positional[1].text);
    if (!archive.empty() && archive[0] == '-') archive = "./" + archive;
    argv.push_back(archive);
    for (std::size_t i = 2; i < positional.size(); ++i) {
      const std::wstring& text = positional[i].text;
      if (text.empty()) throw SevenZipException("Empty file path");
      if (!positional[i].literal && text.compare(0, 2, L"@@") == 0)
        AppendListedNames(text.substr(2), names);
      else if (!positional[i].literal && text[0] == L'@')
        argv.push_back(Narrow(text));  // a list file, read by 7-Zip itself
      else
        names.push_back(Narrow(text));
    }
  } else {
    for (std::size_t i = 1; i < positional.size(); ++i) argv.push_back(Narrow(positional[i].text));
  }
  if (!names.empty()) {
    argv.push_back("--");
    argv.insert(argv.end(), names.begin(), names.end());
  }
  return argv;
}

// The named files (not patterns) that do not exist, and the regular ones that cannot be read.
void SortOutUnusable(const std::vector<std::string>& names, std::vector<std::string>& missing,
                     std::vector<std::string>& unreadable) {
  for (const std::string& name : names) {
    if (IsWildcard(name)) continue;
    struct stat st;
    if (lstat(name.c_str(), &st) != 0) {
      missing.push_back(name);
    } else if (S_ISREG(st.st_mode)) {
      int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0)
        unreadable.push_back(name);
      else
        close(fd);
    }
  }
}

// The operation's result from 7-Zip's exit code; failures throw with 7-Zip's own text.
int ExitResult(int code, const std::wstring& command, const std::string& output,
               bool allNamesUsable) {
  auto failure = [&](const char* marker) {
    std::string text = ErrorText(output, marker);
    return SevenZipException(text.empty() ? "7-Zip ended with code " + std::to_string(code)
                                          : text);
  };
  switch (code) {
    case 0:
      return allNamesUsable ? kSevenZipOk : kSevenZipWarnings;
    case 1:
      return kSevenZipWarnings;
    case 2:
      if (IsReading(command)) return kSevenZipErrors;
      throw failure("ERROR:");
    case 7:
      throw failure("Command Line Error:");
    case 8:
      throw std::bad_alloc();
    default:
      throw failure("ERROR:");
  }
}

}  // namespace

SevenZipRunner::SevenZipRunner() : SevenZipRunner(GetAppDataDir() + "log/7z.log") {}

SevenZipRunner::SevenZipRunner(const std::string& logPath) {
  // When the log cannot be opened the output is dropped and the operations still run.
  log_ = std::fopen(logPath.c_str(), "we");
}

SevenZipRunner::~SevenZipRunner() {
  if (log_) std::fclose(log_);
}

SevenZipRunner* GetSevenZipRunner() {
  std::lock_guard<std::mutex> lock(ArchiveLock());
  static SevenZipRunner* runner = nullptr;
  if (!runner) runner = new SevenZipRunner();
  return runner;
}

void SevenZipRunner::WriteLog(const std::string& text) {
  if (!log_ || text.empty()) return;
  std::fwrite(text.data(), 1, text.size(), log_);
  std::fflush(log_);
}

std::vector<std::wstring> SevenZipRunner::SplitCommandLine(const std::wstring& line) {
  std::vector<std::wstring> arguments;
  std::size_t i = 0;
  const std::size_t n = line.size();
  auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
  while (true) {
    while (i < n && blank(line[i])) ++i;
    if (i >= n) break;
    std::wstring argument;
    bool quoted = false;
    for (; i < n && (quoted || !blank(line[i])); ++i) {
      if (line[i] == L'"')
        quoted = !quoted;
      else
        argument.push_back(line[i]);
    }
    arguments.push_back(argument);
  }
  return arguments;
}

std::vector<std::wstring> SevenZipRunner::ExtractArguments(const wchar_t* archive,
                                                           const wchar_t* outDir,
                                                           const wchar_t* filter,
                                                           const wchar_t* password) {
  std::vector<std::wstring> arguments{L"x", AsName(archive ? archive : L""),
                                      std::wstring(L"-o") + (outDir ? outDir : L"")};
  if (filter && *filter) arguments.push_back(AsName(filter));
  // An empty password rather than none: 7-Zip would otherwise ask for one.
  arguments.push_back(std::wstring(L"-p") + (password ? password : L""));
  arguments.push_back(L"-aoa");
  arguments.push_back(L"-y");
  return arguments;
}

std::vector<std::wstring> SevenZipRunner::AddArguments(const std::wstring& archive,
                                                       const std::vector<std::wstring>& files,
                                                       const std::wstring& password,
                                                       bool recursive) {
  std::vector<std::wstring> arguments{L"a", AsName(archive)};
  // A name holding a comma cannot be part of the inline list: it goes as its own argument.
  std::wstring list = L"@@";
  std::vector<std::wstring> own;
  bool listed = false;
  for (const std::wstring& file : files) {
    if (file.find(L',') != std::wstring::npos) {
      own.push_back(AsName(file));
    } else {
      if (listed) list += L',';
      list += file;
      listed = true;
    }
  }
  if (listed || own.empty()) arguments.push_back(list);
  arguments.insert(arguments.end(), own.begin(), own.end());
  if (!password.empty()) arguments.push_back(L"-p" + password);
  if (recursive) arguments.push_back(L"-r");
  for (const wchar_t* option : {L"-aoa", L"-t7z", L"-mx5", L"-ms=off", L"-mhe=on", L"-y"})
    arguments.push_back(option);
  arguments.push_back(L"-x!" + archive);
  return arguments;
}

std::string SevenZipRunner::ProgramFolder() {
  std::string module = GetModuleDir();
  if (IsExistingFile(module + "7z")) return module;
  std::string configured = ReadProfileString(module + "config.ini", "7-zip", "Path", "", 1024);
  if (!configured.empty()) {
    if (configured.back() != '/') configured += '/';
    return configured;
  }
  return "/usr/lib/p7zip/";
}

int SevenZipRunner::Run(const std::wstring& line) {
  std::lock_guard<std::mutex> lock(ArchiveLock());
  return Execute(SplitCommandLine(line));
}

int SevenZipRunner::Extract(const wchar_t* archive, const wchar_t* outDir, const wchar_t* filter,
                            const wchar_t* password) {
  std::lock_guard<std::mutex> lock(ArchiveLock());
  return Execute(ExtractArguments(archive, outDir, filter, password));
}

int SevenZipRunner::Add(const std::wstring& archive, std::vector<std::wstring> files,
                        const std::wstring& password, bool recursive) {
  std::lock_guard<std::mutex> lock(ArchiveLock());
  fs::path target = Resolved(fs::path(Narrow(archive)));
  fs::path holder = FolderHoldingArchive(target, files);
  if (holder.empty()) return Execute(AddArguments(archive, files, password, recursive));

  // The archive lies inside a folder being packed: 7-Zip would pack the old archive into the
  // new one. It is updated outside that folder instead and put back afterwards.
  static std::atomic<unsigned> counter{0};
  fs::path place = holder.has_parent_path() && holder != holder.root_path()
                       ? holder.parent_path()
                       : fs::path(GetTempDir());
  fs::path staged = place / ("." + target.filename().string() + "." +
                             std::to_string(getpid()) + "-" + std::to_string(++counter) + ".tmp");
  std::error_code ec;
  if (fs::exists(target, ec)) MoveFile(target, staged);
  struct PutBack {
    const fs::path& from;
    const fs::path& to;
    ~PutBack() {
      std::error_code e;
      if (!fs::exists(from, e)) return;
      try {
        MoveFile(from, to);
      } catch (...) {
        // Left beside the folder under its staging name rather than lost.
      }
    }
  } put_back{staged, target};
  return Execute(AddArguments(NarrowToWide(staged.string()), files, password, recursive));
}

int SevenZipRunner::Execute(const std::vector<std::wstring>& arguments) {
  if (arguments.empty()) return kSevenZipNothingDone;
  const ParsedLine line = ParseArguments(arguments);
  const std::string program = ProgramFolder() + "7z";
  const bool have_program = access(program.c_str(), X_OK) == 0;
  for (const std::wstring& s : line.switches) {
    if (!IsHelpSwitch(s)) continue;
    if (have_program) SpawnAndWait({program, "--help"}, -1, nullptr, -1);
    return kSevenZipNothingDone;
  }
  const std::wstring command =
      line.positional.empty() ? std::wstring() : Lower(line.positional[0].text);
  std::vector<std::string> names;
  std::vector<std::string> argv = ProgramArguments(program, line, command, names);
  if (!have_program) throw SevenZipException(kNoCode);

  // Under -r 7-Zip passes over a named file that does not exist without a word: the names
  // are checked here, so that such an update reports its warnings.
  std::vector<std::string> missing;
  std::vector<std::string> unreadable;
  if (IsUpdate(command)) SortOutUnusable(names, missing, unreadable);

  std::string output;
  const int status = RunProgram(argv, output);
  if (!missing.empty()) WriteLog(WarningBlock(missing, "No such file or directory", "Cannot find "));
  if (!unreadable.empty()) WriteLog(WarningBlock(unreadable, "Permission denied", "Cannot open "));
  if (!WIFEXITED(status))
    throw SevenZipException("7-Zip ended by signal " + std::to_string(WTERMSIG(status)));
  return ExitResult(WEXITSTATUS(status), command, output, missing.empty() && unreadable.empty());
}

int SevenZipRunner::RunProgram(const std::vector<std::string>& argv, std::string& output) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    throw SevenZipException(std::string("7-Zip could not be started: ") + std::strerror(errno));
  int status = SpawnAndWait(
      argv, fds[1],
      [&](const char* data, std::size_t size) {
        output.append(data, size);
        if (log_) std::fwrite(data, 1, size, log_);
      },
      fds[0]);
  if (log_) std::fflush(log_);
  return status;
}

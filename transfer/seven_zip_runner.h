// Packs and unpacks archives for the page commands. Each operation is one 7-Zip command line,
// parsed here (7-Zip's argument splitting plus the inline name list "@@a,b,c") and carried out
// by the 7-Zip console program as a child process with an argument vector of our own: no shell,
// standard input from /dev/null, its console output appended to "7z.log" in the per-user log
// folder. Archive operations of the process never overlap.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

// A refused command line ("Empty file path", 7-Zip's own command-line errors), missing 7-Zip
// code ("7-Zip cannot find the code that works with archives."), or an archive handler's error
// during an update; the text is 7-Zip's.
class SevenZipException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Exit codes of Run, Extract and Add.
enum SevenZipExit {
  kSevenZipNothingDone = -1,  // no arguments, or a help request
  kSevenZipOk = 0,
  kSevenZipWarnings = 1,      // an update finished, but named files were missing or unreadable
  kSevenZipErrors = 2,        // an extract, test or list finished with errors
};

class SevenZipRunner {
 public:
  // Opens "log/7z.log" of the per-user data folder, emptying it.
  SevenZipRunner();
  // The same with a log file of the caller's choice.
  explicit SevenZipRunner(const std::string& logPath);
  ~SevenZipRunner();
  SevenZipRunner(const SevenZipRunner&) = delete;
  SevenZipRunner& operator=(const SevenZipRunner&) = delete;

  // Extracts with full paths into |outDir|, overwriting without asking. Without a password an
  // empty one is given, so an encrypted archive fails instead of waiting for an answer.
  // |filter| and |password| may be null or empty.
  int Extract(const wchar_t* archive, const wchar_t* outDir, const wchar_t* filter,
              const wchar_t* password);
  // Packs |files| into the 7z archive |archive| (updated when it exists). The archive is never
  // packed into itself, even when it lies inside a folder that is packed.
  int Add(const std::wstring& archive, std::vector<std::wstring> files,
          const std::wstring& password, bool recursive);
  // Parses and carries out one command line (no program name in front).
  int Run(const std::wstring& line);

  // The arguments that the line of each operation splits into; every piece stays one argument
  // whatever characters it holds, so a quote in a path or password cannot add switches.
  static std::vector<std::wstring> ExtractArguments(const wchar_t* archive,
                                                    const wchar_t* outDir,
                                                    const wchar_t* filter,
                                                    const wchar_t* password);
  static std::vector<std::wstring> AddArguments(const std::wstring& archive,
                                                const std::vector<std::wstring>& files,
                                                const std::wstring& password, bool recursive);
  // 7-Zip's rule: blanks separate arguments outside double quotes; a double quote switches
  // quoting and is dropped.
  static std::vector<std::wstring> SplitCommandLine(const std::wstring& line);
  // The folder of the 7-Zip program: the executable's own folder when it holds "7z", else the
  // folder named by "Path" in section "7-zip" of config.ini beside the executable, else
  // "/usr/lib/p7zip/".
  static std::string ProgramFolder();

 private:
  int Execute(const std::vector<std::wstring>& arguments);
  // Runs 7-Zip to its end, its console output collected and logged; the wait status.
  int RunProgram(const std::vector<std::string>& argv, std::string& output);
  void WriteLog(const std::string& text);

  FILE* log_ = nullptr;
};

// The process-wide runner, made (and its log emptied) at the first archive operation.
SevenZipRunner* GetSevenZipRunner();

// The browser host's own line log, "libkvb.log" beside the executable. One temporary logger
// object collects one line and writes it, flushed at once, when it goes.
#pragma once

#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>

enum TLogLevel { logNULL = 0, logERROR, logWARNING, logINFO, logDEBUG };

// The stamp "[yy/MM/dd-HH:mm:ss mmm]", whose last field is the time since the first stamp of the
// process, modulo one second.
std::string NowTime();

// Lines go to the log file while one is open, else to the standard error stream: also after
// the file was closed, so no line is ever written to a closed stream.
class Output2FILE {
 public:
  static void Write(const std::string& text);
  // The file becomes the stream; a previous one is closed.
  static void SetFile(FILE* file);
  static void CloseFile();
  static bool HasFile();

 private:
  static std::mutex& Mutex();
  static FILE*& File();
};

template <class T>
class Log {
 public:
  Log() = default;
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  virtual ~Log() {
    os_ << '\n';
    T::Write(os_.str());
  }
  std::ostringstream& StartLine(TLogLevel level = logINFO) {
    if (level != logNULL) os_ << NowTime() << "[" << LevelName(level) << "] ";
    return os_;
  }
  static TLogLevel ReportingLevel() { return logDEBUG; }
  static const char* LevelName(TLogLevel level) {
    static const char* const names[] = {"NULL", "ERROR", "WARNING", "INFO", "DEBUG"};
    return (level >= logNULL && level <= logDEBUG) ? names[level] : "";
  }

 private:
  std::ostringstream os_;
};

class FILELog : public Log<Output2FILE> {};

// Usable as a statement anywhere, also as the body of an if without braces.
#define KVB_LOG(level)                                                         \
  for (bool kvb_log_once = (level) <= FILELog::ReportingLevel(); kvb_log_once; \
       kvb_log_once = false)                                                   \
  FILELog().StartLine(level)

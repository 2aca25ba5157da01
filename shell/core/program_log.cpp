#include "shell/core/program_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <boost/log/attributes/attribute_value_impl.hpp>
#include <boost/log/core.hpp>
#include <boost/log/detail/default_attribute_names.hpp>
#include <boost/log/expressions/message.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/unlocked_frontend.hpp>
#include <boost/make_shared.hpp>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace logging = boost::log;
namespace sinks = boost::log::sinks;
namespace expr = boost::log::expressions;
namespace attrs = boost::log::attributes;
namespace fs = boost::filesystem;

ProgramLogger g_logger;

namespace {

// The kernel's id of the calling thread as "0x" and eight hexadecimal digits, made once per
// thread: a system call per record would cost more than the record itself. The sink is
// synchronous, so the thread that formats a record is the one that logged it.
const std::string& ThreadIdText() {
  thread_local const std::string text = [] {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%08lx",
                  static_cast<unsigned long>(syscall(SYS_gettid)));
    return std::string(buffer);
  }();
  return text;
}

const char* SeverityName(logging::trivial::severity_level level) {
  static const char* const names[] = {"trace", "debug", "info", "warning", "error", "fatal"};
  auto index = static_cast<unsigned>(level);
  return index < sizeof names / sizeof names[0] ? names[index] : "info";
}

// One record's line, "[" time "][" thread "][" severity "] " message and a line feed, made by
// the thread that logs it. The local date and time down to the second are made once per second
// and thread; only the microseconds change between its records.
class LineMaker {
 public:
  const std::string& Make(const logging::record_view& record) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec != second_) NewSecond(now.tv_sec);
    auto message = record[expr::smessage];
    auto severity = record[logging::trivial::severity];
    line_.assign(stamp_, sizeof stamp_ - 1);
    char micros[7];
    long us = now.tv_nsec / 1000;
    for (int i = 6; i >= 1; --i, us /= 10) micros[i] = static_cast<char>('0' + us % 10);
    micros[0] = '.';
    line_.append(micros, sizeof micros).append("][").append(ThreadIdText()).append("][");
    line_.append(severity ? SeverityName(*severity) : "info").append("] ");
    if (message) line_.append(*message);
    line_.push_back('\n');
    return line_;
  }
  // The day of the last line and the name of its day's file.
  int day() const { return day_; }
  const char* fileName() const { return fileName_; }

 private:
  void NewSecond(std::time_t second) {
    std::tm local;
    localtime_r(&second, &local);
    std::strftime(stamp_, sizeof stamp_, "[%Y/%m/%d-%H:%M:%S", &local);
    std::strftime(fileName_, sizeof fileName_, "/QNT-%Y%m%d.log", &local);
    day_ = local.tm_year * 1000 + local.tm_yday;
    second_ = second;
  }

  std::string line_;
  std::time_t second_ = -1;
  char stamp_[sizeof "[YYYY/MM/DD-HH:MM:SS"] = "";
  char fileName_[32] = "";
  int day_ = -1;
};

// Writes each record's line with one system call to the file of its day, opened for appending.
// A file that reaches the rotation size is kept aside as "QNT-YYYYMMDD.N.log" and the day goes
// on in a fresh file of the day's own name (reopening that name would let it grow without end);
// at local midnight the next record opens the new day's file. The line is made before the lock
// is taken, so that the lock, which every thread's records pass through one at a time, is held
// for little more than the write(2) itself.
class DailyFileBackend : public sinks::basic_sink_backend<sinks::concurrent_feeding> {
 public:
  explicit DailyFileBackend(std::string folder) : folder_(std::move(folder)) {}
  ~DailyFileBackend() {
    if (fd_ >= 0) close(fd_);
  }

  void consume(const logging::record_view& record) {
    thread_local LineMaker maker;
    const std::string& line = maker.Make(record);
    std::lock_guard<std::mutex> lock(lock_);
    if (fd_ >= 0 && day_ != maker.day()) Close();
    if (fd_ >= 0 && size_ > 0 && size_ + line.size() > kLogRotationSize) {
      Close();
      KeepAside();
    }
    if (fd_ < 0 && !Open(maker.fileName(), maker.day())) return;  // best effort, never a failure
    std::size_t done = 0;
    while (done < line.size()) {
      ssize_t n = write(fd_, line.data() + done, line.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    size_ += done;
  }

 private:
  bool Open(const char* fileName, int day) {
    path_ = folder_ + fileName;
    fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) return false;
    struct stat st;
    size_ = fstat(fd_, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    day_ = day;
    return true;
  }

  void Close() {
    close(fd_);
    fd_ = -1;
  }

  void KeepAside() {
    std::string stem = path_.substr(0, path_.size() - 4);
    boost::system::error_code ec;
    for (int n = 1; n < 100000; ++n) {
      std::string aside = stem + "." + std::to_string(n) + ".log";
      if (!fs::exists(aside, ec)) {
        fs::rename(path_, aside, ec);
        return;
      }
    }
  }

  std::mutex lock_;  // guards everything below
  const std::string folder_;
  std::string path_;
  int fd_ = -1;
  int day_ = -1;  // the day of the open file
  std::uint64_t size_ = 0;
};

using FileSink = sinks::unlocked_sink<DailyFileBackend>;

std::mutex g_sinkMutex;
boost::shared_ptr<FileSink> g_sink;

// Records made before the sink exists go nowhere (not to the library's console sink).
const bool g_disabledUntilInit = [] {
  logging::core::get()->set_logging_enabled(false);
  return true;
}();

}  // namespace

void InitLog(const std::string& folder) {
  fs::path dir(folder);
  boost::system::error_code ec;
  fs::file_status status = fs::status(dir, ec);
  if (ec || status.type() == fs::file_not_found || status.type() == fs::status_error)
    fs::create_directories(dir);

  auto backend = boost::make_shared<DailyFileBackend>(folder);
  auto sink = boost::make_shared<FileSink>(backend);
  // The line's time stamp and thread id are the sink's own: the library's attributes for them
  // would be made for every record, at a cost above that of writing it.
  auto core = logging::core::get();
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  if (g_sink) core->remove_sink(g_sink);
  core->add_sink(sink);
  g_sink = sink;
  core->set_logging_enabled(true);
}

void ShutdownLog() {
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  if (!g_sink) return;
  auto core = logging::core::get();
  core->set_logging_enabled(false);
  core->remove_sink(g_sink);
  g_sink->flush();
  g_sink.reset();
}

std::string FormatLogTag(std::string tag, std::string text, std::string& scratch) {
  scratch.clear();
  std::string line;
  line.reserve(tag.size() + text.size() + 4);
  line.append("[").append(tag).append("]: ").append(text);
  return line;
}

bool LogEnabled() { return logging::core::get()->get_logging_enabled(); }

namespace {

// The program's own lines go through a logger of each thread: the shared one would make every
// thread take its lock for every record.
logging::sources::severity_logger<logging::trivial::severity_level>& ThreadLogger() {
  thread_local logging::sources::severity_logger<logging::trivial::severity_level> logger;
  return logger;
}

void Push(logging::record& record, std::string message) {
  record.attribute_values().insert(logging::aux::default_attribute_names::message(),
                                   attrs::make_attribute_value(std::move(message)));
  ThreadLogger().push_record(std::move(record));
}

}  // namespace

void LogMessage(logging::trivial::severity_level severity, std::string message) {
  logging::record record = ThreadLogger().open_record(logging::keywords::severity = severity);
  if (record) Push(record, std::move(message));
}

void LogTagged(logging::trivial::severity_level severity, std::string_view tag,
               std::string_view text) {
  logging::record record = ThreadLogger().open_record(logging::keywords::severity = severity);
  if (!record) return;
  std::string message;
  message.reserve(tag.size() + text.size() + 4);
  message.append("[").append(tag).append("]: ").append(text);
  Push(record, std::move(message));
}

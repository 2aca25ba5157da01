#include "shell/core/program_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/filesystem.hpp>
#include <boost/log/attributes/clock.hpp>
#include <boost/log/attributes/counter.hpp>
#include <boost/log/attributes/current_process_id.hpp>
#include <boost/log/attributes/function.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/expressions/formatters/date_time.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/support/date_time.hpp>
#include <boost/make_shared.hpp>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <sstream>

namespace logging = boost::log;
namespace sinks = boost::log::sinks;
namespace expr = boost::log::expressions;
namespace attrs = boost::log::attributes;
namespace fs = boost::filesystem;

ProgramLogger g_logger;

namespace {

// Writes each record with one system call to the day's file, opened for appending. A file that
// reaches the rotation size is kept aside as "QNT-YYYYMMDD.N.log" and the day goes on in a fresh
// file of the day's own name (reopening that name would let it grow without end); at local
// midnight the next record opens the new day's file.
class DailyFileBackend
    : public sinks::basic_formatted_sink_backend<char, sinks::synchronized_feeding> {
 public:
  explicit DailyFileBackend(std::string folder) : folder_(std::move(folder)) {}
  ~DailyFileBackend() {
    if (fd_ >= 0) close(fd_);
  }

  void consume(const logging::record_view&, const string_type& message) {
    std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    int day = local.tm_year * 1000 + local.tm_yday;
    if (fd_ >= 0 && day != day_) Close();
    if (fd_ >= 0 && size_ > 0 && size_ + message.size() + 1 > kLogRotationSize) {
      Close();
      KeepAside();
    }
    if (fd_ < 0 && !Open(local, day)) return;  // the log is best effort, never a failure
    line_.assign(message).push_back('\n');
    std::size_t done = 0;
    while (done < line_.size()) {
      ssize_t n = write(fd_, line_.data() + done, line_.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    size_ += done;
  }

 private:
  bool Open(const std::tm& local, int day) {
    char name[32];
    std::strftime(name, sizeof name, "/QNT-%Y%m%d.log", &local);
    path_ = folder_ + name;
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

  const std::string folder_;
  std::string path_;
  std::string line_;
  int fd_ = -1;
  int day_ = -1;
  std::uint64_t size_ = 0;
};

using FileSink = sinks::synchronous_sink<DailyFileBackend>;

std::mutex g_sinkMutex;
boost::shared_ptr<FileSink> g_sink;

// Records made before the sink exists go nowhere (not to the library's console sink).
const bool g_disabledUntilInit = [] {
  logging::core::get()->set_logging_enabled(false);
  return true;
}();

// The kernel's id of the calling thread, as the process list and debuggers show it.
std::string ThreadIdText() {
  // Made once per thread: a system call per record would cost more than the record itself.
  thread_local const std::string text = [] {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%08lx",
                  static_cast<unsigned long>(syscall(SYS_gettid)));
    return std::string(buffer);
  }();
  return text;
}

}  // namespace

void InitLog(const std::string& folder) {
  fs::path dir(folder);
  boost::system::error_code ec;
  fs::file_status status = fs::status(dir, ec);
  if (ec || status.type() == fs::file_not_found || status.type() == fs::status_error)
    fs::create_directories(dir);

  auto backend = boost::make_shared<DailyFileBackend>(folder);
  auto sink = boost::make_shared<FileSink>(backend);
  sink->set_formatter(expr::stream
                      << "["
                      << expr::format_date_time<boost::posix_time::ptime>(
                             "TimeStamp", "%Y/%m/%d-%H:%M:%S.%f")
                      << "][" << expr::attr<std::string>("ThreadID") << "]["
                      << logging::trivial::severity << "] " << expr::smessage);

  auto core = logging::core::get();
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  if (g_sink) core->remove_sink(g_sink);
  core->add_global_attribute("LineID", attrs::counter<unsigned int>(1));
  core->add_global_attribute("TimeStamp", attrs::local_clock());
  core->add_global_attribute("ProcessID", attrs::current_process_id());
  core->add_global_attribute("ThreadID", attrs::make_function(&ThreadIdText));
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
  std::ostringstream line;
  line << "[" << tag << "]: " << text;
  return line.str();
}

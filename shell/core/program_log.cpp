#include "shell/core/program_log.h"

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
#include <boost/log/sinks/text_file_backend.hpp>
#include <boost/log/support/date_time.hpp>
#include <boost/make_shared.hpp>
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

using FileSink = sinks::synchronous_sink<sinks::text_file_backend>;

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

std::string TodaysName() {
  std::time_t now = std::time(nullptr);
  std::tm local;
  localtime_r(&now, &local);
  char name[32];
  std::strftime(name, sizeof name, "QNT-%Y%m%d.log", &local);
  return name;
}

// A file closed for its size would be reopened under the same name, so it grows without end;
// it is kept aside as "QNT-YYYYMMDD.N.log" instead and the day goes on in a fresh file.
void KeepFullFileAside(sinks::text_file_backend& backend) {
  fs::path current = backend.get_current_file_name();
  if (current.empty() || current.filename().string() != TodaysName()) return;  // midnight
  boost::system::error_code ec;
  if (fs::file_size(current, ec) < kLogRotationSize || ec) return;
  std::string stem = current.stem().string();
  for (int n = 1; n < 100000; ++n) {
    fs::path aside = current.parent_path() / (stem + "." + std::to_string(n) + ".log");
    if (!fs::exists(aside, ec)) {
      fs::rename(current, aside, ec);
      return;
    }
  }
}

}  // namespace

void InitLog(const std::string& folder) {
  fs::path dir(folder);
  boost::system::error_code ec;
  fs::file_status status = fs::status(dir, ec);
  if (ec || status.type() == fs::file_not_found || status.type() == fs::status_error)
    fs::create_directories(dir);

  auto backend = boost::make_shared<sinks::text_file_backend>(
      logging::keywords::file_name = folder + "/QNT-%Y%m%d.log",
      logging::keywords::rotation_size = kLogRotationSize,
      logging::keywords::open_mode = std::ios_base::out | std::ios_base::app,
      logging::keywords::time_based_rotation =
          sinks::file::rotation_at_time_point(0, 0, 0));
  backend->auto_flush(true);
  sinks::text_file_backend* raw = backend.get();
  backend->set_close_handler([raw](std::ostream&) { KeepFullFileAside(*raw); });

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

// The program's daily log: "QNT-%Y%m%d.log" in the per-user log folder, one line per record,
// each written with its own write(2) before the logging call returns; rotated at 10 MiB and at
// local midnight.
#pragma once

#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_logger.hpp>
#include <boost/log/trivial.hpp>
#include <string>
#include <string_view>

using ProgramLogger =
    boost::log::sources::severity_logger_mt<boost::log::trivial::severity_level>;
extern ProgramLogger g_logger;

#define QLOG_INFO BOOST_LOG_SEV(g_logger, boost::log::trivial::info)
#define QLOG_ERROR BOOST_LOG_SEV(g_logger, boost::log::trivial::error)

// Sets up the file sink in |folder| (made with its parents when missing). Throws the file
// system's error when the folder cannot be made. Until it has run, nothing is logged.
void InitLog(const std::string& folder);
// Flushes and removes the file sink; later records are dropped.
void ShutdownLog();

// "[" tag "]: " text; |scratch| is emptied.
std::string FormatLogTag(std::string tag, std::string text, std::string& scratch);

// Writes |message| as one record at |severity|.
void LogMessage(boost::log::trivial::severity_level severity, std::string message);
// Writes "[" tag "]: " text as one record; the line is made only when the log is on.
void LogTagged(boost::log::trivial::severity_level severity, std::string_view tag,
               std::string_view text);
inline void LogInfo(std::string_view tag, std::string_view text) {
  LogTagged(boost::log::trivial::info, tag, text);
}
inline void LogError(std::string_view tag, std::string_view text) {
  LogTagged(boost::log::trivial::error, tag, text);
}
// Whether a record made now would be written; for messages that cost something to make.
bool LogEnabled();

// The size at which a day's file is closed and a fresh one begun.
constexpr unsigned long kLogRotationSize = 10485760;

#include "browser_host/host_log.h"

#include <cstdint>
#include <ctime>

namespace {

int64_t MonotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

std::string NowTime() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  char date[200], time[200];
  if (!localtime_r(&now.tv_sec, &local) || strftime(date, sizeof date, "%y/%m/%d", &local) == 0 ||
      strftime(time, sizeof time, "%H:%M:%S", &local) == 0)
    return "Error in NowTime()";
  // Set once, by whichever thread stamps first.
  static const int64_t start = MonotonicMs();
  long ms = static_cast<long>(static_cast<int32_t>(MonotonicMs() - start) % 1000);
  char out[460];
  snprintf(out, sizeof out, "[%s-%s %03ld]", date, time, ms);
  return out;
}

std::mutex& Output2FILE::Mutex() {
  static std::mutex m;
  return m;
}

FILE*& Output2FILE::File() {
  static FILE* file = nullptr;
  return file;
}

void Output2FILE::Write(const std::string& text) {
  std::lock_guard<std::mutex> lock(Mutex());
  FILE* stream = File() ? File() : stderr;
  fprintf(stream, "%s", text.c_str());
  fflush(stream);
}

void Output2FILE::SetFile(FILE* file) {
  std::lock_guard<std::mutex> lock(Mutex());
  if (File()) fclose(File());
  File() = file;
}

void Output2FILE::CloseFile() { SetFile(nullptr); }

bool Output2FILE::HasFile() {
  std::lock_guard<std::mutex> lock(Mutex());
  return File() != nullptr;
}

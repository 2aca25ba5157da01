#include "platform/mirvane/result_files.h"

#include <fcntl.h>
#include <json/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <fstream>
#include <sstream>

#include "platform/mirvane/json_input.h"

namespace mirvane {

namespace {

void MakeParents(const std::string& path) {
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
    mkdir(path.substr(0, at).c_str(), 0777);
}

}  // namespace

bool OutputAllowed(const std::string& output, const std::vector<std::string>& inputs) {
  if (output.empty()) return true;
  if (output.back() == '/') return false;
  for (const std::string& input : inputs)
    if (input == output) return false;
  struct stat out;
  if (stat(output.c_str(), &out) != 0) return errno == ENOENT;
  if (!S_ISREG(out.st_mode)) return false;
  for (const std::string& input : inputs) {
    struct stat in;
    if (!input.empty() && stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev &&
        in.st_ino == out.st_ino)
      return false;
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& text) {
  MakeParents(path);
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) return false;
  bool ok = fchmod(fd, 0644) == 0;
  for (std::size_t done = 0; ok && done < text.size();) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
  unlink(temp.c_str());
  return false;
}

bool ReadUserModel(const std::string& path, std::vector<float>& mean, bool& damaged) {
  damaged = false;
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return false;
  std::ifstream in(path, std::ios::binary);
  Json::Value root;
  damaged = true;
  if (!S_ISREG(st.st_mode) || !in || !ReadBoundedJson(in, root) ||
      !root.isObject() || !root["cepstral_mean"].isArray())
    return false;
  std::vector<float> values;
  for (const Json::Value& v : root["cepstral_mean"]) {
    if (!v.isNumeric() || !std::isfinite(v.asDouble())) return false;
    values.push_back(v.asFloat());
  }
  if (values.empty()) return false;
  damaged = false;
  mean = values;
  return true;
}

bool WriteUserModel(const std::string& path, const std::vector<float>& mean) {
  Json::Value root(Json::objectValue);
  Json::Value values(Json::arrayValue);
  for (float v : mean) values.append(std::round(static_cast<double>(v) * 1000) / 1000);
  root["cepstral_mean"] = values;
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return WriteFileAtomically(path, Json::writeString(builder, root) + "\n");
}

}  // namespace mirvane

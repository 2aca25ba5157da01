// Blocking HTTP(S) requests over libcurl for the page commands, and exported from the executable
// for the examination applications' own native parts. Every operation runs one transfer on the
// calling thread, retrying failed transfers with a doubling pause, and hands the response body to
// the caller's write function untouched.
#pragma once

#include <cstddef>
#include <string>

namespace org_trellik {

// Configuration of one request. The caller owns every text for the duration of the call.
struct HttpCfg {
  bool reserved = false;              // read by nothing
  const char* caInfo = nullptr;       // CA bundle; null switches peer and host checks off
  const char* sslCertType = nullptr;  // client certificate type
  const char* sslCert = nullptr;      // client certificate file
  const char* keyPasswd = nullptr;    // pass phrase of the private key
  const char* sslKeyType = nullptr;   // private key type
  const char* sslKey = nullptr;       // private key file
  int timeout = 0;                    // whole transfer, seconds; below 1 means 30
  int connectTimeout = 0;             // connection, seconds; below 1 means 30
  int retry = 0;                      // most attempts; 0 and 1 both mean one
  const char* cookieList = nullptr;   // one line for libcurl's cookie engine
};

// libcurl's write-callback shape: take |size| * |count| bytes, return how many were taken
// (anything else aborts the transfer with libcurl's write error).
using WriteFunction = std::size_t (*)(char* data, std::size_t size, std::size_t count,
                                      void* userData);

// Only http and https addresses are fetched, also through redirects; a transfer that no HTTP
// server answered is a failure. A page command's stop ends the pause between attempts and starts
// no further one (retry_stop.h).
// Results: 0 for a finished transfer answered with status 200; 2 when no libcurl handle can be
// made; otherwise the libcurl code of the last failed attempt, or the HTTP status itself.
// |params| is a JSON object whose members (in name order) become multipart text fields; |files|
// is {"name": part name, "file": local path}. Unparsable JSON throws std::runtime_error
// ("Post参数解析失败"), a root of the wrong type jsoncpp's own error; nothing is sent then.
class __attribute__((visibility("default"))) HttpProvider {
 public:
  static int getRequest(const std::string& url, void* userData, WriteFunction writeFunction,
                        const HttpCfg* cfg);
  static int getsRequest(const std::string& url, void* userData, WriteFunction writeFunction,
                         const HttpCfg* cfg);
  // Asks for a compressed response and decodes it.
  static int postRequest(const std::string& url, const std::string& params, void* userData,
                         WriteFunction writeFunction, const HttpCfg* cfg);
  static int postsRequest(const std::string& url, const std::string& params, void* userData,
                          WriteFunction writeFunction, const HttpCfg* cfg);
  // The file part first, then the text fields.
  static int uploadRequest(const std::string& url, const std::string& files,
                           const std::string& params, void* userData,
                           WriteFunction writeFunction, const HttpCfg* cfg);
  // As postRequest; the caller's write function stores the body in a file.
  static int downloadRequest(const std::string& url, const std::string& params, void* userData,
                             WriteFunction writeFunction, const HttpCfg* cfg);
};

// The pause before the |repetition|-th repeated attempt (1, 2, ...): 2^repetition seconds, at
// most kMaxRetryPauseMs, computed without overflow whatever the page asked for.
constexpr long long kMaxRetryPauseMs = 60000;
long long RetryPauseMs(int repetition);

}  // namespace org_trellik

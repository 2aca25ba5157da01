#include "transfer/http_provider.h"

#include <json/json.h>

#include <memory>
#include <stdexcept>

#include "shell/core/helpers.h"
#include "shell/core/json_text.h"
#include "transfer/curl_library.h"
#include "transfer/retry_stop.h"

namespace org_trellik {

namespace {

struct EasyDeleter {
  void operator()(CURL* handle) const { Curl()->easy_cleanup(handle); }
};
struct MimeDeleter {
  void operator()(curl_mime* mime) const { Curl()->mime_free(mime); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { Curl()->slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using Mime = std::unique_ptr<curl_mime, MimeDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

enum PartMode { kContentParts = 4, kFilePart = 10 };

// Null when libcurl cannot be loaded; once a handle exists, Curl() is the library.
Easy NewEasy() {
  const CurlLibrary* lib = Curl();
  return Easy(lib ? lib->easy_init() : nullptr);
}

// Appends the parts described by the JSON |text| to |mime|.
void ParsePostParams(curl_mime* mime, const std::string& text, PartMode mode) {
  if (text.empty()) return;
  Json::CharReaderBuilder builder;
  builder["allowComments"] = true;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors))
    throw std::runtime_error("Post参数解析失败");
  if (root.empty()) return;
  const Json::Value& fields = root;
  if (mode == kContentParts) {
    for (const std::string& name : fields.getMemberNames()) {
      std::string field_name = AnsiToUtf8(name);
      std::string contents = AnsiToUtf8(JsonValueText(fields[name], JsonTextFor::kFormField));
      curl_mimepart* part = Curl()->mime_addpart(mime);
      Curl()->mime_name(part, field_name.c_str());
      Curl()->mime_data(part, contents.data(), contents.size());
    }
  } else if (mode == kFilePart) {
    std::string name = fields["name"].asString();
    std::string file = fields["file"].asString();
    curl_mimepart* part = Curl()->mime_addpart(mime);
    Curl()->mime_name(part, name.c_str());
    Curl()->mime_filedata(part, file.c_str());
  }
}

void ApplyConfig(CURL* handle, const HttpCfg* cfg) {
  if (!cfg) return;
  if (cfg->caInfo) {
    Curl()->easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    Curl()->easy_setopt(handle, CURLOPT_CAINFO, cfg->caInfo);
  } else {
    Curl()->easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
    Curl()->easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
  }
  if (cfg->sslCertType) Curl()->easy_setopt(handle, CURLOPT_SSLCERTTYPE, cfg->sslCertType);
  if (cfg->sslCert) Curl()->easy_setopt(handle, CURLOPT_SSLCERT, cfg->sslCert);
  if (cfg->keyPasswd) Curl()->easy_setopt(handle, CURLOPT_KEYPASSWD, cfg->keyPasswd);
  if (cfg->sslKeyType) Curl()->easy_setopt(handle, CURLOPT_SSLKEYTYPE, cfg->sslKeyType);
  if (cfg->sslKey) Curl()->easy_setopt(handle, CURLOPT_SSLKEY, cfg->sslKey);
  if (cfg->cookieList) Curl()->easy_setopt(handle, CURLOPT_COOKIELIST, cfg->cookieList);
  Curl()->easy_setopt(handle, CURLOPT_CONNECTTIMEOUT,
                      cfg->connectTimeout < 1 ? 30L : static_cast<long>(cfg->connectTimeout));
  Curl()->easy_setopt(handle, CURLOPT_TIMEOUT,
                      cfg->timeout < 1 ? 30L : static_cast<long>(cfg->timeout));
}

// Runs the prepared transfer with the configured attempts and turns the outcome into a result.
// A stop of the calling command (see retry_stop.h) ends the pause between attempts and begins no
// further attempt.
int Perform(CURL* handle, const HttpCfg* cfg) {
  ApplyConfig(handle, cfg);
  // Pages and servers name the address: only web requests go out, never a local file or another
  // protocol that libcurl knows, also not through a redirect.
  Curl()->easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  Curl()->easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  const int retry = cfg ? cfg->retry : 0;
  int attempts = 0;
  CURLcode code = CURLE_ABORTED_BY_CALLBACK;
  while (!RetryStopRequested() && (code = Curl()->easy_perform(handle)) != CURLE_OK) {
    ++attempts;
    if (attempts >= retry || !PauseBeforeRetry(RetryPauseMs(attempts)))
      return static_cast<int>(code);
  }
  if (code != CURLE_OK) return static_cast<int>(code);
  long status = 0;
  code = Curl()->easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  if (code != CURLE_OK) return static_cast<int>(code);
  // A transfer that no HTTP server answered has not succeeded, whatever libcurl made of it.
  if (status == 0) return static_cast<int>(CURLE_WEIRD_SERVER_REPLY);
  return status == 200 ? 0 : static_cast<int>(status);
}

enum class PostKind { kCompressed, kPlain, kUpload };

// The multipart POSTs differ only in compression and in the file part.
int Post(const std::string& url, const std::string& files, const std::string& params,
         void* userData, WriteFunction writeFunction, const HttpCfg* cfg, PostKind kind) {
  Easy handle = NewEasy();
  if (!handle) return 2;
  CURL* h = handle.get();
  Mime form(Curl()->mime_init(h));
  HeaderList headers;
  Curl()->easy_setopt(h, CURLOPT_URL, url.c_str());
  if (kind == PostKind::kUpload) {
    Curl()->easy_setopt(h, CURLOPT_HEADER, 0L);
    ParsePostParams(form.get(), files, kFilePart);
  } else {
    Curl()->easy_setopt(h, CURLOPT_POST, 1L);
  }
  ParsePostParams(form.get(), params, kContentParts);
  // Always a form, even an empty one: a POST without one would read its body from stdin.
  Curl()->easy_setopt(h, CURLOPT_MIMEPOST, form.get());
  if (kind == PostKind::kCompressed) {
    headers.reset(Curl()->slist_append(nullptr, "Accept-Encoding:gzip"));
    Curl()->easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    Curl()->easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  }
  Curl()->easy_setopt(h, CURLOPT_WRITEFUNCTION, writeFunction);
  Curl()->easy_setopt(h, CURLOPT_WRITEDATA, userData);
  Curl()->easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  return Perform(h, cfg);
}

}  // namespace

long long RetryPauseMs(int repetition) {
  if (repetition < 1) return 0;
  // 2^16 seconds is far beyond the cap already; larger shifts are never computed.
  if (repetition > 16) return kMaxRetryPauseMs;
  long long pause = (1LL << repetition) * 1000;
  return pause < kMaxRetryPauseMs ? pause : kMaxRetryPauseMs;
}

int HttpProvider::getRequest(const std::string& url, void* userData, WriteFunction writeFunction,
                             const HttpCfg* cfg) {
  Easy handle = NewEasy();
  if (!handle) return 2;
  CURL* h = handle.get();
  Curl()->easy_setopt(h, CURLOPT_URL, url.c_str());
  Curl()->easy_setopt(h, CURLOPT_WRITEFUNCTION, writeFunction);
  Curl()->easy_setopt(h, CURLOPT_WRITEDATA, userData);
  Curl()->easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  return Perform(h, cfg);
}

int HttpProvider::getsRequest(const std::string& url, void* userData, WriteFunction writeFunction,
                              const HttpCfg* cfg) {
  return getRequest(url, userData, writeFunction, cfg);
}

int HttpProvider::postRequest(const std::string& url, const std::string& params, void* userData,
                              WriteFunction writeFunction, const HttpCfg* cfg) {
  return Post(url, std::string(), params, userData, writeFunction, cfg, PostKind::kCompressed);
}

int HttpProvider::postsRequest(const std::string& url, const std::string& params, void* userData,
                               WriteFunction writeFunction, const HttpCfg* cfg) {
  return Post(url, std::string(), params, userData, writeFunction, cfg, PostKind::kPlain);
}

int HttpProvider::uploadRequest(const std::string& url, const std::string& files,
                                const std::string& params, void* userData,
                                WriteFunction writeFunction, const HttpCfg* cfg) {
  return Post(url, files, params, userData, writeFunction, cfg, PostKind::kUpload);
}

int HttpProvider::downloadRequest(const std::string& url, const std::string& params,
                                  void* userData, WriteFunction writeFunction,
                                  const HttpCfg* cfg) {
  return Post(url, std::string(), params, userData, writeFunction, cfg, PostKind::kCompressed);
}

}  // namespace org_trellik

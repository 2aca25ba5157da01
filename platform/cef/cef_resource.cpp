// The plain pieces of scheme resources: responses and URL parts.
#include "platform/cef/cef_resource.h"

#include <glib.h>

#include <mutex>

namespace {

class Response : public CefResponse, public CefRefCounted<Response> {
 public:
  int GetStatus() override {
    std::lock_guard<std::mutex> guard(lock_);
    return status_;
  }
  void SetStatus(int status) override {
    std::lock_guard<std::mutex> guard(lock_);
    status_ = status;
  }
  CefString GetStatusText() override {
    std::lock_guard<std::mutex> guard(lock_);
    return status_text_;
  }
  void SetStatusText(const CefString& text) override {
    std::lock_guard<std::mutex> guard(lock_);
    status_text_ = text;
  }
  CefString GetMimeType() override {
    std::lock_guard<std::mutex> guard(lock_);
    return mime_type_;
  }
  void SetMimeType(const CefString& mime_type) override {
    std::lock_guard<std::mutex> guard(lock_);
    mime_type_ = mime_type;
  }
  void GetHeaderMap(HeaderMap& map) override {
    std::lock_guard<std::mutex> guard(lock_);
    map = headers_;
  }
  void SetHeaderMap(const HeaderMap& map) override {
    std::lock_guard<std::mutex> guard(lock_);
    headers_ = map;
  }

 private:
  std::mutex lock_;  // guards every field below
  int status_ = 0;
  CefString status_text_;
  CefString mime_type_;
  HeaderMap headers_;
};

CefString Part(const char* text) { return CefString(text ? text : ""); }

}  // namespace

CefRefPtr<CefResponse> CefResponse::Create() { return new Response(); }

bool CefParseURL(const CefString& url, CefURLParts& parts) {
  GError* error = nullptr;
  // Escapes are kept as the URL has them; parsing resolves "." and "..".
  GUri* uri = g_uri_parse(
      url.c_str(), static_cast<GUriFlags>(G_URI_FLAGS_ENCODED | G_URI_FLAGS_HAS_PASSWORD), &error);
  if (!uri) {
    g_error_free(error);
    return false;
  }
  parts.spec = url;
  parts.scheme = Part(g_uri_get_scheme(uri));
  parts.username = Part(g_uri_get_user(uri));
  parts.password = Part(g_uri_get_password(uri));
  parts.host = Part(g_uri_get_host(uri));
  int port = g_uri_get_port(uri);
  parts.port = port > 0 ? std::to_string(port) : std::string();
  parts.path = Part(g_uri_get_path(uri));
  parts.query = Part(g_uri_get_query(uri));
  g_uri_unref(uri);
  return true;
}

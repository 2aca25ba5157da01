// Resources of the "qnt" scheme. The URL names a resource by three texts; the host program
// gives its size and bytes through its two resource callbacks. Video is served in byte
// ranges read from the host as the browser reads, everything else whole from memory.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "browser_host/host_callbacks.h"
#include "platform/cef/cef_resource.h"

// Splits a "qnt://exam/..." URL into the texts the host callbacks take and the MIME type of
// its extension. False when the path is too short or the extension is not served.
bool ResolveSchemeRequest(const std::string& url, std::string& package, std::string& mime,
                          std::string& path, std::string& first);

// A "Range" value as the handler reads it: one range "bytes=START-LAST" (LAST 0 or missing:
// to the end); |end| is exclusive, 0 meaning to the end. Several ranges, or a value that is
// not a byte range, are unsatisfiable.
struct ByteRange {
  uint32_t start = 0;
  uint32_t end = 0;
  bool invalid = false;
};
ByteRange ParseRangeHeader(const std::string& value);

class ClientSchemeHandler : public CefResourceHandler, public CefRefCounted<ClientSchemeHandler> {
 public:
  // |callbacks| are read at each request and must outlive the handler.
  explicit ClientSchemeHandler(const HostCallbacks& callbacks) : callbacks_(callbacks) {}

  bool ProcessRequest(CefRefPtr<CefRequest> request, CefRefPtr<CefCallback> callback) override;
  void GetResponseHeaders(CefRefPtr<CefResponse> response, int64_t& response_length,
                          CefString& redirect_url) override;
  bool ReadResponse(void* data_out, int bytes_to_read, int& bytes_read,
                    CefRefPtr<CefCallback> callback) override;
  bool CanGetCookie(const CefCookie&) override { return true; }
  bool CanSetCookie(const CefCookie&) override { return true; }
  void Cancel() override {}

 private:
  bool BeginRange(const CefRefPtr<CefRequest>& request);
  bool LoadWhole();
  bool ReadRange(void* data_out, int bytes_to_read, int& bytes_read);
  bool ReadWhole(void* data_out, int bytes_to_read, int& bytes_read);

  const HostCallbacks& callbacks_;
  // Orders the calls on this request; held while the host callbacks run.
  std::mutex lock_;
  std::string content_;  // the whole resource, outside range mode
  std::string mime_;
  std::string first_;
  std::string package_;
  std::string path_;
  uint32_t position_ = 0;
  uint32_t total_ = 0;  // above 0 only in range mode
  uint32_t range_start_ = 0;
  uint32_t range_end_ = 0;  // exclusive
  bool range_invalid_ = false;
};

class ClientSchemeHandlerFactory : public CefSchemeHandlerFactory,
                                   public CefRefCounted<ClientSchemeHandlerFactory> {
 public:
  CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, const CefString&,
                                       CefRefPtr<CefRequest>) override;
};

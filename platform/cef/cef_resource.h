// Resources of a custom URL scheme served by the program: a factory registered for a scheme
// (and domain) makes one resource handler per request, which answers with a response and
// then the body, read by the browser as it goes.
//
// Threads: WebKit asks for a scheme's resources on the main thread; the layer hands each
// request to its one IO thread, where the factory, ProcessRequest, GetResponseHeaders, the
// body's reads and Cancel run, one call at a time for all requests. A slow handler never blocks
// the window.
#pragma once

#include <cstdint>
#include <map>

#include "platform/cef/cef_base.h"
#include "platform/cef/cef_browser.h"
#include "platform/cef/cef_client.h"
#include "platform/cef/cef_string.h"

class CefCallback : public virtual CefBase {
 public:
  // The first of the two calls counts; either may come from any thread.
  virtual void Continue() = 0;
  virtual void Cancel() = 0;
};

class CefResponse : public virtual CefBase {
 public:
  typedef std::multimap<CefString, CefString> HeaderMap;

  static CefRefPtr<CefResponse> Create();

  virtual int GetStatus() = 0;
  virtual void SetStatus(int status) = 0;
  virtual CefString GetStatusText() = 0;
  virtual void SetStatusText(const CefString& text) = 0;
  virtual CefString GetMimeType() = 0;
  virtual void SetMimeType(const CefString& mime_type) = 0;
  virtual void GetHeaderMap(HeaderMap& map) = 0;
  virtual void SetHeaderMap(const HeaderMap& map) = 0;
};

struct CefCookie {
  CefString name;
  CefString value;
  CefString domain;
  CefString path;
};

class CefResourceHandler : public virtual CefBase {
 public:
  // True: the request is handled, and |callback|'s Continue follows (possibly from inside
  // this call) once the response is known. False cancels the request: the page sees a
  // failed load.
  virtual bool ProcessRequest(CefRefPtr<CefRequest> request, CefRefPtr<CefCallback> callback) = 0;
  // Status, MIME type and headers of the response, and the body's length (-1: unknown).
  // This layer cannot redirect a scheme request: a redirect address fails the request.
  virtual void GetResponseHeaders(CefRefPtr<CefResponse> response, int64_t& response_length,
                                  CefString& redirect_url) = 0;
  // Up to |bytes_to_read| bytes into |data_out|; false at the end of the data. Reads are
  // answered at once: true with no bytes is taken as the end too. |callback|'s Cancel fails
  // the rest of the body.
  virtual bool ReadResponse(void* data_out, int bytes_to_read, int& bytes_read,
                            CefRefPtr<CefCallback> callback) = 0;
  // WebKit keeps cookies for "http" and "https" only, so the layer never asks these.
  virtual bool CanGetCookie(const CefCookie&) { return true; }
  virtual bool CanSetCookie(const CefCookie&) { return true; }
  // The request ended before its body was read through (the page went, a fetch was aborted).
  virtual void Cancel() = 0;
};

class CefSchemeHandlerFactory : public virtual CefBase {
 public:
  // |browser| and |frame| are null: WebKit does not say which frame asked. A null handler
  // fails the request.
  virtual CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser> browser,
                                               CefRefPtr<CefFrame> frame,
                                               const CefString& scheme_name,
                                               CefRefPtr<CefRequest> request) = 0;
};

// Serves requests of |scheme_name| whose host is |domain_name| (empty: any host) through
// |factory|, replacing an earlier factory of the same pair. Needs the started layer; false
// before CefInitialize or for an empty scheme.
bool CefRegisterSchemeHandlerFactory(const CefString& scheme_name, const CefString& domain_name,
                                     CefRefPtr<CefSchemeHandlerFactory> factory);

struct CefURLParts {
  CefString spec;
  CefString scheme;
  CefString username;
  CefString password;
  CefString host;
  CefString port;
  CefString path;   // percent escapes kept, "." and ".." segments resolved
  CefString query;  // without the '?'
};

// False when |url| is not an absolute URL.
bool CefParseURL(const CefString& url, CefURLParts& parts);

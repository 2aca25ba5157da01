// Custom schemes over WebKit: WebKit asks on the main thread, the handlers answer on the
// layer's IO thread, and the answer goes back to WebKit on the main thread.
#include <webkit2/webkit2.h>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/cef/cef_app.h"
#include "platform/cef/cef_gtk_internal.h"
#include "platform/cef/cef_resource.h"
#include "platform/cef/cef_resource_stream.h"

namespace {

class Request : public CefRequest, public CefRefCounted<Request> {
 public:
  Request(std::string url, HeaderMap headers)
      : url_(std::move(url)), headers_(std::move(headers)) {}
  CefString GetURL() override { return url_; }
  void GetHeaderMap(HeaderMap& map) override { map = headers_; }

 private:
  const std::string url_;
  const HeaderMap headers_;
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return g_ascii_tolower(c); });
  return text;
}

// Factories by (scheme, domain); an empty domain serves every host of its scheme.
std::mutex g_factories_lock;
std::map<std::pair<std::string, std::string>, CefRefPtr<CefSchemeHandlerFactory>> g_factories;

CefRefPtr<CefSchemeHandlerFactory> FindFactory(const std::string& scheme, const std::string& host) {
  std::lock_guard<std::mutex> guard(g_factories_lock);
  auto it = g_factories.find({scheme, host});
  if (it == g_factories.end()) it = g_factories.find({scheme, ""});
  return it == g_factories.end() ? nullptr : it->second;
}

// Main thread: the page sees a failed load. Takes the reference to |request|.
void FailRequest(WebKitURISchemeRequest* request) {
  GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_FAILED, "The request was refused");
  webkit_uri_scheme_request_finish_error(request, error);
  g_error_free(error);
  g_object_unref(request);
}

// One request of a scheme, from WebKit's question to the response handed back. It is the
// callback its handler continues or cancels.
class SchemeTask : public CefCallback, public CefRefCounted<SchemeTask> {
 public:
  SchemeTask(WebKitURISchemeRequest* request, CefRefPtr<CefSchemeHandlerFactory> factory,
             CefRefPtr<CefRequest> cef_request)
      : request_(WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request))),
        scheme_(webkit_uri_scheme_request_get_scheme(request)),
        factory_(factory),
        cef_request_(cef_request) {}
  ~SchemeTask() override {
    // A handler that let go of its callback without an answer: the request fails.
    if (WebKitURISchemeRequest* request = request_)
      CefPostTask(TID_UI, [request]() { FailRequest(request); });
  }

  // On the IO thread.
  void Run();

  void Continue() override { Decide(kContinued); }
  void Cancel() override { Decide(kCancelled); }

 private:
  enum State { kWaiting, kContinued, kCancelled };

  void Decide(State decision);
  void Respond();
  void Fail();
  // Main thread: hands the answer to WebKit and lets go of its request.
  void FinishOnUi(WebKitURISchemeResponse* response);

  WebKitURISchemeRequest* request_;  // main thread only; null once answered
  const std::string scheme_;
  CefRefPtr<CefSchemeHandlerFactory> factory_;
  CefRefPtr<CefRequest> cef_request_;
  CefRefPtr<CefResourceHandler> handler_;

  std::mutex lock_;          // guards the two below
  State state_ = kWaiting;   // the first decision of the handler
  bool processing_ = false;  // inside ProcessRequest, which acts on its own decision after it
};

void SchemeTask::Run() {
  bool accepted = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    processing_ = true;
  }
  try {
    handler_ = factory_->Create(nullptr, nullptr, scheme_, cef_request_);
    accepted = handler_ && handler_->ProcessRequest(cef_request_, this);
  } catch (...) {
    accepted = false;  // nothing may unwind into the IO thread
  }
  State state;
  {
    std::lock_guard<std::mutex> guard(lock_);
    processing_ = false;
    if (!accepted) state_ = kCancelled;
    state = state_;
  }
  if (state == kContinued)
    Respond();
  else if (state == kCancelled)
    Fail();
}

void SchemeTask::Decide(State decision) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (state_ != kWaiting) return;
    state_ = decision;
    // Inside ProcessRequest the handler may still hold its own lock; Run acts afterwards.
    if (processing_) return;
  }
  CefRefPtr<SchemeTask> self = this;
  cef_internal::PostToIo([self, decision]() {
    if (decision == kContinued)
      self->Respond();
    else
      self->Fail();
  });
}

void SchemeTask::Respond() {
  CefRefPtr<CefResponse> response = CefResponse::Create();
  int64_t length = -1;
  CefString redirect;
  try {
    handler_->GetResponseHeaders(response, length, redirect);
  } catch (...) {
    Fail();
    return;
  }
  if (!redirect.empty()) {
    Fail();
    return;
  }
  int status = response->GetStatus();
  std::string status_text = response->GetStatusText().ToString();
  std::string mime = response->GetMimeType().ToString();
  CefResponse::HeaderMap headers;
  response->GetHeaderMap(headers);
  GInputStream* stream = cef_internal::NewResourceStream(handler_, this);
  CefRefPtr<SchemeTask> self = this;
  CefPostTask(TID_UI, [self, stream, length, status, status_text, mime, headers]() {
    WebKitURISchemeResponse* answer = webkit_uri_scheme_response_new(stream, length);
    g_object_unref(stream);
    webkit_uri_scheme_response_set_status(answer, status > 0 ? status : 200,
                                          status_text.empty() ? nullptr : status_text.c_str());
    if (!mime.empty()) webkit_uri_scheme_response_set_content_type(answer, mime.c_str());
    SoupMessageHeaders* h = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    std::string exposed;
    for (const auto& header : headers) {
      soup_message_headers_append(h, header.first.c_str(), header.second.c_str());
      exposed += (exposed.empty() ? "" : ", ") + header.first.ToString();
    }
    // Fetch and XHR see only the header, not the response's content type.
    if (!mime.empty() && !soup_message_headers_get_one(h, "Content-Type"))
      soup_message_headers_append(h, "Content-Type", mime.c_str());
    // Pages of another origin (http, file) may read the resource and its headers.
    if (!soup_message_headers_get_one(h, "Access-Control-Allow-Origin"))
      soup_message_headers_append(h, "Access-Control-Allow-Origin", "*");
    if (!exposed.empty() && !soup_message_headers_get_one(h, "Access-Control-Expose-Headers"))
      soup_message_headers_append(h, "Access-Control-Expose-Headers", exposed.c_str());
    webkit_uri_scheme_response_set_http_headers(answer, h);
    self->FinishOnUi(answer);
  });
}

void SchemeTask::Fail() {
  CefRefPtr<SchemeTask> self = this;
  CefPostTask(TID_UI, [self]() { self->FinishOnUi(nullptr); });
}

void SchemeTask::FinishOnUi(WebKitURISchemeResponse* response) {
  WebKitURISchemeRequest* request = request_;
  request_ = nullptr;
  if (!request) return;
  if (response) {
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
    // The response's stream holds this task: keeping WebKit's request here would hold it too.
    g_object_unref(request);
  } else {
    FailRequest(request);
  }
}

void CopyHeader(const char* name, const char* value, gpointer map) {
  static_cast<CefRequest::HeaderMap*>(map)->emplace(name, value);
}

void OnSchemeRequest(WebKitURISchemeRequest* request, gpointer) {
  const char* uri = webkit_uri_scheme_request_get_uri(request);
  CefURLParts parts;
  CefRefPtr<CefSchemeHandlerFactory> factory;
  if (uri && CefParseURL(uri, parts))
    factory = FindFactory(Lower(parts.scheme.ToString()), Lower(parts.host.ToString()));
  if (!factory) {
    FailRequest(WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request)));
    return;
  }
  CefRefPtr<SchemeTask> task = new SchemeTask(
      request, factory,
      cef_internal::MakeRequest(uri, webkit_uri_scheme_request_get_http_headers(request)));
  cef_internal::PostToIo([task]() { task->Run(); });
}

}  // namespace

void cef_internal::PostToIo(std::function<void()> job) {
  // One thread of its own, started at once and kept: the jobs run one after another, in order.
  static GThreadPool* pool = g_thread_pool_new(
      [](gpointer data, gpointer) {
        auto* job = static_cast<std::function<void()>*>(data);
        (*job)();
        delete job;
      },
      nullptr, 1, TRUE, nullptr);
  g_thread_pool_push(pool, new std::function<void()>(std::move(job)), nullptr);
}

CefRefPtr<CefRequest> cef_internal::MakeRequest(const char* url, SoupMessageHeaders* headers) {
  CefRequest::HeaderMap map;
  if (headers) soup_message_headers_foreach(headers, CopyHeader, &map);
  return new Request(url ? url : "", std::move(map));
}

bool CefRegisterSchemeHandlerFactory(const CefString& scheme_name, const CefString& domain_name,
                                     CefRefPtr<CefSchemeHandlerFactory> factory) {
  WebKitWebContext* context = cef_internal::ProgramContext();
  std::string scheme = Lower(scheme_name.ToString());
  if (!context || scheme.empty() || !CefCurrentlyOn(TID_UI)) return false;
  {
    std::lock_guard<std::mutex> guard(g_factories_lock);
    auto key = std::make_pair(scheme, Lower(domain_name.ToString()));
    if (factory)
      g_factories[key] = factory;
    else
      g_factories.erase(key);
  }
  // WebKit takes one handler per scheme and context; the domains are told apart here.
  std::string mark = "cef-scheme:" + scheme;
  if (!g_object_get_data(G_OBJECT(context), mark.c_str())) {
    g_object_set_data(G_OBJECT(context), mark.c_str(), GINT_TO_POINTER(1));
    webkit_web_context_register_uri_scheme(context, scheme.c_str(), OnSchemeRequest, nullptr,
                                           nullptr);
  }
  return true;
}

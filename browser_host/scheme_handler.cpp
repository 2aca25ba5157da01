#include "browser_host/scheme_handler.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "browser_host/host_exception.h"
#include "browser_host/host_log.h"
#include "browser_host/scheme.h"

namespace {

// Served in byte ranges; everything else is served whole.
const char kRangedMime[] = "video/mpeg";

const char* MimeOfExtension(const std::string& extension) {
  static const struct {
    const char* extension;
    const char* mime;
  } kTable[] = {
      {"html", "text/html"}, {"png", "image/png"},
      {"jpg", "image/jpg"},  {"gif", "image/gif"},
      {"css", "text/css"},   {"js", "text/javascript"},
      {"mpg", "video/mpeg"}, {"mp4", "video/mpeg"},
      {"mp3", "audio/mpeg"}, {"woff", "application/x-font-woff"},
  };
  for (const auto& row : kTable)
    if (extension == row.extension) return row.mime;
  return nullptr;
}

// As atoi reads a number, without its undefined overflow: out of range clamps.
int ReadInt(const char* text) {
  long value = std::strtol(text, nullptr, 10);
  return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

// The host's callbacks may throw; every exception ends here, logged under |what|.
template <class Call>
bool CallHost(const char* what, Call call) {
  try {
    call();
    return true;
  } catch (CppSQLite3Exception* e) {
    KVB_LOG(logERROR) << what << " ERR: " << e->errorMessage();
    delete e;
  } catch (...) {
    KVB_LOG(logERROR) << what << " ERR!";
  }
  return false;
}

// Asks the host for a block and takes it over; the number of bytes it holds, 0 when the host
// gave none or threw.
int LoadBlock(LoadResContentCallback load, const std::string& first, const std::string& package,
              const std::string& path, int count, int offset, std::unique_ptr<char[]>& block) {
  int length = 0;
  bool ok = CallHost("GetDataByStr", [&] {
    block.reset(load(first.c_str(), package.c_str(), path.c_str(), &length, count, offset));
  });
  // A null block is no content whatever length came with it, and so is a negative length.
  return ok && block && length > 0 ? length : 0;
}

}  // namespace

bool ResolveSchemeRequest(const std::string& url, std::string& package, std::string& mime,
                          std::string& path, std::string& first) {
  CefURLParts parts;
  if (!CefParseURL(url, parts)) return false;
  const std::string& full = parts.path.ToString();
  if (full.size() < 2) return false;
  std::string text = full.substr(1);
  size_t slash = text.find('/');
  std::string rest = slash == std::string::npos ? text : text.substr(slash + 1);
  first = slash == std::string::npos ? text : text.substr(0, slash);

  // The first ".rpk" folder names the package; the last segment is never one.
  package.clear();
  for (size_t begin = 0, end; (end = rest.find('/', begin)) != std::string::npos; begin = end + 1) {
    std::string segment = rest.substr(begin, end - begin);
    size_t dot = segment.rfind('.');
    if (dot != std::string::npos && segment.compare(dot + 1, std::string::npos, "rpk") == 0) {
      package = segment;
      rest = rest.substr(end + 1);
      break;
    }
  }

  mime.clear();
  size_t dot = rest.rfind('.');
  if (dot == std::string::npos) {
    mime = "text/html";
    rest += ".html";
  } else {
    const char* known = MimeOfExtension(rest.substr(dot + 1));
    if (!known) return false;
    mime = known;
  }
  path = rest;
  return true;
}

ByteRange ParseRangeHeader(const std::string& value) {
  ByteRange range;
  static const char kUnit[] = "bytes=";
  if (value.find(',') != std::string::npos || value.compare(0, 6, kUnit) != 0) {
    range.invalid = true;
    return range;
  }
  range.start = static_cast<uint32_t>(ReadInt(value.c_str() + 6));
  size_t dash = value.find('-');
  int last = dash == std::string::npos ? 0 : ReadInt(value.c_str() + dash + 1);
  if (last != 0) range.end = static_cast<uint32_t>(last) + 1u;
  return range;
}

bool ClientSchemeHandler::ProcessRequest(CefRefPtr<CefRequest> request,
                                         CefRefPtr<CefCallback> callback) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!ResolveSchemeRequest(request->GetURL().ToString(), package_, mime_, path_, first_))
    return false;
  bool ready = mime_ == kRangedMime ? BeginRange(request) : LoadWhole();
  if (ready) callback->Continue();
  return ready;
}

bool ClientSchemeHandler::BeginRange(const CefRefPtr<CefRequest>& request) {
  CefRequest::HeaderMap headers;
  request->GetHeaderMap(headers);
  auto it = headers.find("Range");
  if (it != headers.end()) {
    ByteRange range = ParseRangeHeader(it->second.ToString());
    range_start_ = range.start;
    range_end_ = range.end;
    range_invalid_ = range.invalid;
  }
  GetResSizeCallback size_of = callbacks_.resSize.load();
  if (!size_of) return false;
  int size = -1;
  if (!CallHost("GetFileSize",
                [&] { size = size_of(first_.c_str(), package_.c_str(), path_.c_str()); }))
    return false;
  if (size < 0) {
    KVB_LOG(logERROR) << "Can't get file size!";
    return false;
  }
  total_ = static_cast<uint32_t>(size);
  if (range_end_ == 0) range_end_ = total_;
  if (range_start_ >= range_end_ || range_end_ > total_) range_invalid_ = true;
  if (!range_invalid_) position_ = range_start_;
  return true;
}

bool ClientSchemeHandler::LoadWhole() {
  content_.clear();
  if (LoadResContentCallback load = callbacks_.resContent.load()) {
    std::unique_ptr<char[]> block;
    int length = LoadBlock(load, first_, package_, path_, 0, 0, block);
    if (length > 0) content_.assign(block.get(), static_cast<size_t>(length));
  }
  return !content_.empty();
}

void ClientSchemeHandler::GetResponseHeaders(CefRefPtr<CefResponse> response,
                                             int64_t& response_length, CefString&) {
  std::lock_guard<std::mutex> guard(lock_);
  response->SetMimeType(mime_);
  if (total_ == 0) {
    response->SetStatus(200);
    response_length = static_cast<int64_t>(content_.size());
    return;
  }
  CefResponse::HeaderMap headers;
  response->GetHeaderMap(headers);
  if (range_invalid_) {
    response->SetStatus(416);
    response->SetStatusText("Requested Range Not Satisfiable");
  } else {
    response->SetStatus(206);
    response->SetStatusText("Partial Content");
  }
  // An unsatisfiable range has no body; its end may even lie before its start.
  uint32_t length = range_invalid_ ? 0 : range_end_ - range_start_;
  headers.emplace("Accept-Ranges", "bytes");
  headers.emplace("Content-Range", "bytes " + std::to_string(range_start_) + "-" +
                                       std::to_string(range_end_ - 1) + "/" +
                                       std::to_string(total_));
  headers.emplace("Content-Length", std::to_string(length));
  response->SetHeaderMap(headers);
  response_length = length;
}

bool ClientSchemeHandler::ReadResponse(void* data_out, int bytes_to_read, int& bytes_read,
                                       CefRefPtr<CefCallback>) {
  bytes_read = 0;
  std::lock_guard<std::mutex> guard(lock_);
  if (total_ > 0 && !range_invalid_) return ReadRange(data_out, bytes_to_read, bytes_read);
  if (total_ > 0) return false;  // an unsatisfiable range has no body
  return ReadWhole(data_out, bytes_to_read, bytes_read);
}

bool ClientSchemeHandler::ReadRange(void* data_out, int bytes_to_read, int& bytes_read) {
  LoadResContentCallback load = callbacks_.resContent.load();
  if (position_ >= range_end_ || !load || bytes_to_read <= 0) return false;
  // Never more than this read can take: a video is never held whole.
  int count = static_cast<int>(std::min<uint32_t>(range_end_ - position_, bytes_to_read));
  std::unique_ptr<char[]> block;
  int length = LoadBlock(load, first_, package_, path_, count, static_cast<int>(position_), block);
  // No bytes end the data: asking again for the same bytes would never end.
  if (length == 0) return false;
  size_t n = static_cast<size_t>(std::min(length, count));
  std::memcpy(data_out, block.get(), n);
  position_ += static_cast<uint32_t>(n);
  bytes_read = static_cast<int>(n);
  return true;
}

bool ClientSchemeHandler::ReadWhole(void* data_out, int bytes_to_read, int& bytes_read) {
  if (position_ >= content_.size() || bytes_to_read <= 0) return false;
  size_t n = std::min(content_.size() - position_, static_cast<size_t>(bytes_to_read));
  std::memcpy(data_out, content_.data() + position_, n);
  position_ += static_cast<uint32_t>(n);
  bytes_read = static_cast<int>(n);
  return true;
}

CefRefPtr<CefResourceHandler> ClientSchemeHandlerFactory::Create(CefRefPtr<CefBrowser>,
                                                                 CefRefPtr<CefFrame>,
                                                                 const CefString&,
                                                                 CefRefPtr<CefRequest>) {
  return new ClientSchemeHandler(Callbacks());
}

void InitRegScheme() {
  KVB_LOG(logDEBUG) << "InitRegScheme";
  CefRegisterSchemeHandlerFactory(kSchemeName, kSchemeDomain, new ClientSchemeHandlerFactory());
}

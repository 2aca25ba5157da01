// The "qnt" handler without a browser: URL splitting, ranges, headers, and what it makes of the
// host's answers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "browser_host/host_exception.h"
#include "browser_host/host_log.h"
#include "browser_host/scheme_handler.h"

namespace {

struct Split {
  bool ok;
  std::string first, package, path, mime;
};

Split Resolve(const std::string& url) {
  Split s;
  s.ok = ResolveSchemeRequest(url, s.package, s.mime, s.path, s.first);
  return s;
}

TEST(SchemeUrl, SplitsIntoFirstSegmentPackageAndPath) {
  Split s = Resolve("qnt://exam/app1/pack.rpk/sub/page.html");
  EXPECT_TRUE(s.ok);
  EXPECT_EQ(s.first, "app1");
  EXPECT_EQ(s.package, "pack.rpk");
  EXPECT_EQ(s.path, "sub/page.html");
  EXPECT_EQ(s.mime, "text/html");

  s = Resolve("qnt://exam/app1/dir/start");
  EXPECT_TRUE(s.ok);
  EXPECT_EQ(s.first, "app1");
  EXPECT_EQ(s.package, "");
  EXPECT_EQ(s.path, "dir/start.html");
  EXPECT_EQ(s.mime, "text/html");

  s = Resolve("qnt://exam/index.html");
  EXPECT_TRUE(s.ok);
  EXPECT_EQ(s.first, "index.html");
  EXPECT_EQ(s.path, "index.html");
  EXPECT_EQ(s.package, "");

  // The first package wins; segments between the first one and the package are dropped.
  for (const char* url :
       {"qnt://exam/app1/a.rpk/b.rpk/x.js", "qnt://exam/app1/skip/a.rpk/b.rpk/x.js"}) {
    s = Resolve(url);
    EXPECT_TRUE(s.ok) << url;
    EXPECT_EQ(s.first, "app1");
    EXPECT_EQ(s.package, "a.rpk");
    EXPECT_EQ(s.path, "b.rpk/x.js");
    EXPECT_EQ(s.mime, "text/javascript");
  }

  // Dot segments are resolved before splitting: they never reach the host.
  s = Resolve("qnt://exam/app1/x/../../app2/lib.js");
  EXPECT_TRUE(s.ok);
  EXPECT_EQ(s.first, "app2");
  EXPECT_EQ(s.path, "lib.js");

  // The query is not part of the path; escapes stay as the URL has them.
  s = Resolve("qnt://exam/app1/a%20b.png?v=2");
  EXPECT_TRUE(s.ok);
  EXPECT_EQ(s.path, "a%20b.png");
  EXPECT_EQ(s.mime, "image/png");
}

TEST(SchemeUrl, EveryExtensionOfTheTableAndNothingElse) {
  const std::pair<const char*, const char*> table[] = {
      {"html", "text/html"}, {"png", "image/png"},
      {"jpg", "image/jpg"},  {"gif", "image/gif"},
      {"css", "text/css"},   {"js", "text/javascript"},
      {"mpg", "video/mpeg"}, {"mp4", "video/mpeg"},
      {"mp3", "audio/mpeg"}, {"woff", "application/x-font-woff"}};
  for (const auto& row : table) {
    Split s = Resolve(std::string("qnt://exam/app1/f.") + row.first);
    EXPECT_TRUE(s.ok) << row.first;
    EXPECT_EQ(s.mime, row.second);
  }
  for (const char* url :
       {"qnt://exam/app1/page.HTML", "qnt://exam/app1/f.Png", "qnt://exam/app1/dir.2/start",
        "qnt://exam/app1/v1.css/style", "qnt://exam/app1/pack.rpk", "qnt://exam/app1/f.jpeg",
        "qnt://exam/app1/f.", "qnt://exam/", "qnt://exam", "not a url"}) {
    Split s = Resolve(url);
    EXPECT_FALSE(s.ok) << url;
    EXPECT_EQ(s.mime, "") << url;
  }
}

TEST(SchemeRange, ReadsOneByteRange) {
  ByteRange r = ParseRangeHeader("bytes=100-199");
  EXPECT_FALSE(r.invalid);
  EXPECT_EQ(r.start, 100u);
  EXPECT_EQ(r.end, 200u);

  r = ParseRangeHeader("bytes=100-");
  EXPECT_FALSE(r.invalid);
  EXPECT_EQ(r.start, 100u);
  EXPECT_EQ(r.end, 0u);

  r = ParseRangeHeader("bytes=0-0");  // read as the whole resource
  EXPECT_FALSE(r.invalid);
  EXPECT_EQ(r.end, 0u);

  r = ParseRangeHeader("bytes=99999999999-");  // clamps instead of overflowing
  EXPECT_EQ(r.start, 2147483647u);

  for (const char* bad : {"bytes=0-99,200-299", "bytes", "", "items=0-5", "Bytes=0-5"})
    EXPECT_TRUE(ParseRangeHeader(bad).invalid) << bad;
}

// --- The handler with a host of the test.

class TestRequest : public CefRequest, public CefRefCounted<TestRequest> {
 public:
  TestRequest(std::string url, HeaderMap headers) : url_(std::move(url)), headers_(headers) {}
  CefString GetURL() override { return url_; }
  void GetHeaderMap(HeaderMap& map) override { map = headers_; }

 private:
  std::string url_;
  HeaderMap headers_;
};

class TestCallback : public CefCallback, public CefRefCounted<TestCallback> {
 public:
  void Continue() override { ++continued; }
  void Cancel() override { ++cancelled; }
  int continued = 0;
  int cancelled = 0;
};

// What the host answers; each test sets it up.
struct FakeHost {
  std::string bytes;
  int size = 0;          // what the size callback returns
  int blockLength = -2;  // -2: the length of the bytes handed back
  bool nullBlock = false;
  int throwSize = 0;  // 1: a database exception, 2: anything else
  int throwContent = 0;
  int throwContentAfter = 0;               // content calls that succeed before throwing
  std::vector<std::pair<int, int>> asked;  // (count, offset) of each content call
};
FakeHost g_fake;

void Throw(int kind) {
  if (kind == 1) throw new CppSQLite3Exception(5, "database is locked");
  if (kind == 2) throw std::runtime_error("boom");
}

int FakeSize(const char*, const char*, const char*) {
  Throw(g_fake.throwSize);
  return g_fake.size;
}

char* FakeContent(const char*, const char*, const char*, int* length, int count, int offset) {
  g_fake.asked.push_back({count, offset});
  if (static_cast<int>(g_fake.asked.size()) > g_fake.throwContentAfter) Throw(g_fake.throwContent);
  std::string part = count == 0 ? g_fake.bytes : g_fake.bytes.substr(offset, count);
  *length = g_fake.blockLength == -2 ? static_cast<int>(part.size()) : g_fake.blockLength;
  if (g_fake.nullBlock) return nullptr;
  char* block = new char[part.size() + 1];
  std::copy(part.begin(), part.end(), block);
  return block;
}

class SchemeHandler : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = FakeHost();
    callbacks.resSize = FakeSize;
    callbacks.resContent = FakeContent;
    char name[] = "/tmp/scheme-log-XXXXXX";
    int fd = mkstemp(name);
    close(fd);
    logPath = name;
    Output2FILE::SetFile(fopen(logPath.c_str(), "a"));
  }
  void TearDown() override {
    Output2FILE::CloseFile();
    unlink(logPath.c_str());
  }
  std::string Log() {
    std::ifstream in(logPath);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool Process(const std::string& url, const std::string& range = "") {
    CefRequest::HeaderMap headers;
    if (!range.empty()) headers.emplace("Range", range);
    handler = new ClientSchemeHandler(callbacks);
    callback = new TestCallback();
    bool ok = handler->ProcessRequest(new TestRequest(url, headers), callback);
    EXPECT_EQ(callback->continued, ok ? 1 : 0);
    return ok;
  }
  void Headers() {
    response = CefResponse::Create();
    CefString redirect;
    handler->GetResponseHeaders(response, length, redirect);
    EXPECT_TRUE(redirect.empty());
    headers.clear();
    response->GetHeaderMap(headers);
  }
  std::string Header(const std::string& name) {
    auto it = headers.find(name);
    return it == headers.end() ? "(none)" : it->second.ToString();
  }
  // Reads the body in reads of |chunk| bytes until the handler says it ended.
  std::string Body(int chunk) {
    std::string body;
    std::vector<char> buffer(chunk);
    int got = 0;
    for (int guard = 0; guard < 100000; ++guard) {
      if (!handler->ReadResponse(buffer.data(), chunk, got, callback)) {
        EXPECT_EQ(got, 0);
        return body;
      }
      EXPECT_GT(got, 0);
      EXPECT_LE(got, chunk);
      body.append(buffer.data(), got);
    }
    ADD_FAILURE() << "the body never ended";
    return body;
  }

  HostCallbacks callbacks;
  std::string logPath;
  CefRefPtr<ClientSchemeHandler> handler;
  CefRefPtr<TestCallback> callback;
  CefRefPtr<CefResponse> response;
  CefResponse::HeaderMap headers;
  int64_t length = -1;
};

std::string Bytes(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + 3);
  return s;
}

TEST_F(SchemeHandler, WholeContentIsAskedOnceAndServedFromMemory) {
  g_fake.bytes = Bytes(5000);
  ASSERT_TRUE(Process("qnt://exam/app1/lib.js"));
  Headers();
  EXPECT_EQ(response->GetStatus(), 200);
  EXPECT_EQ(response->GetMimeType().ToString(), "text/javascript");
  EXPECT_EQ(response->GetStatusText().ToString(), "");
  EXPECT_TRUE(headers.empty());
  EXPECT_EQ(length, 5000);
  EXPECT_EQ(Body(777), g_fake.bytes);
  ASSERT_EQ(g_fake.asked.size(), 1u);
  EXPECT_EQ(g_fake.asked[0], std::make_pair(0, 0));
}

TEST_F(SchemeHandler, WholeContentThatIsNoContentCancels) {
  g_fake.bytes = "abc";
  g_fake.nullBlock = true;  // whatever length comes with it
  EXPECT_FALSE(Process("qnt://exam/a/b.css"));
  g_fake.nullBlock = false;
  g_fake.blockLength = -5;
  EXPECT_FALSE(Process("qnt://exam/a/b.css"));
  g_fake.blockLength = 0;
  EXPECT_FALSE(Process("qnt://exam/a/b.css"));
  g_fake.blockLength = -2;
  g_fake.bytes.clear();
  EXPECT_FALSE(Process("qnt://exam/a/b.css"));
  EXPECT_EQ(Log(), "");

  g_fake.bytes = "abc";
  g_fake.throwContent = 1;
  EXPECT_FALSE(Process("qnt://exam/a/b.css"));
  g_fake.throwContent = 2;
  EXPECT_FALSE(Process("qnt://exam/a/b.css"));
  std::string log = Log();
  EXPECT_NE(log.find("[ERROR] GetDataByStr ERR: database is locked\n"), std::string::npos) << log;
  EXPECT_NE(log.find("[ERROR] GetDataByStr ERR!\n"), std::string::npos) << log;

  EXPECT_FALSE(Process("qnt://exam/a/b.xyz"));  // not served, and the host is not asked
  EXPECT_EQ(g_fake.asked.size(), 6u);
}

TEST_F(SchemeHandler, WithoutCallbacksEveryRequestFails) {
  HostCallbacks none;
  for (const char* url : {"qnt://exam/a/b.html", "qnt://exam/a/v.mp4", "qnt://exam/a/p.png"}) {
    handler = new ClientSchemeHandler(none);
    CefRefPtr<TestCallback> cb = new TestCallback();
    EXPECT_FALSE(handler->ProcessRequest(new TestRequest(url, {}), cb)) << url;
    EXPECT_EQ(cb->continued, 0);
  }
}

TEST_F(SchemeHandler, RangeIsReadInChunksNoLargerThanEachRead) {
  g_fake.bytes = Bytes(1000);
  g_fake.size = 1000;
  ASSERT_TRUE(Process("qnt://exam/app1/v.mp4", "bytes=100-199"));
  Headers();
  EXPECT_EQ(response->GetStatus(), 206);
  EXPECT_EQ(response->GetStatusText().ToString(), "Partial Content");
  EXPECT_EQ(response->GetMimeType().ToString(), "video/mpeg");
  EXPECT_EQ(Header("Accept-Ranges"), "bytes");
  EXPECT_EQ(Header("Content-Range"), "bytes 100-199/1000");
  EXPECT_EQ(Header("Content-Length"), "100");
  EXPECT_EQ(headers.size(), 3u);
  EXPECT_EQ(length, 100);
  EXPECT_EQ(Body(30), g_fake.bytes.substr(100, 100));
  std::vector<std::pair<int, int>> expected = {{30, 100}, {30, 130}, {30, 160}, {10, 190}};
  EXPECT_EQ(g_fake.asked, expected);
}

TEST_F(SchemeHandler, VideoWithoutRangeOrWithAnOpenOneGoesToTheEnd) {
  g_fake.bytes = Bytes(1000);
  g_fake.size = 1000;
  for (const char* range : {"", "bytes=0-0", "bytes=0-"}) {
    ASSERT_TRUE(Process("qnt://exam/app1/v.mpg", range));
    Headers();
    EXPECT_EQ(response->GetStatus(), 206) << range;
    EXPECT_EQ(Header("Content-Range"), "bytes 0-999/1000") << range;
    EXPECT_EQ(Header("Content-Length"), "1000");
    EXPECT_EQ(Body(4096), g_fake.bytes);
  }
  ASSERT_TRUE(Process("qnt://exam/app1/v.mp4", "bytes=990-"));
  Headers();
  EXPECT_EQ(Header("Content-Range"), "bytes 990-999/1000");
  EXPECT_EQ(Body(4096), g_fake.bytes.substr(990));
}

TEST_F(SchemeHandler, UnsatisfiableRangesAnswer416WithNoBody) {
  g_fake.bytes = Bytes(1000);
  g_fake.size = 1000;
  const std::pair<const char*, const char*> cases[] = {
      {"bytes=0-99,200-299", "bytes 0-999/1000"},
      {"bytes=900-2000", "bytes 900-2000/1000"},
      {"bytes=500-100", "bytes 500-100/1000"},  // its length would wrap
      {"bytes=1000-", "bytes 1000-999/1000"},
      {"bytes", "bytes 0-999/1000"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(Process("qnt://exam/app1/v.mp4", c.first));
    Headers();
    EXPECT_EQ(response->GetStatus(), 416) << c.first;
    EXPECT_EQ(response->GetStatusText().ToString(), "Requested Range Not Satisfiable");
    EXPECT_EQ(Header("Content-Range"), c.second);
    EXPECT_EQ(Header("Content-Length"), "0") << c.first;
    EXPECT_EQ(length, 0) << c.first;
    EXPECT_EQ(Body(100), "");
  }
  EXPECT_TRUE(g_fake.asked.empty());
}

TEST_F(SchemeHandler, VideoOfSizeZeroIsAnEmpty200) {
  g_fake.size = 0;
  ASSERT_TRUE(Process("qnt://exam/app1/v.mp4", "bytes=0-"));
  Headers();
  EXPECT_EQ(response->GetStatus(), 200);
  EXPECT_TRUE(headers.empty());
  EXPECT_EQ(length, 0);
  EXPECT_EQ(Body(100), "");
  EXPECT_TRUE(g_fake.asked.empty());
}

TEST_F(SchemeHandler, NoSizeFailsTheVideo) {
  for (int size : {-1, -7, INT32_MIN}) {
    g_fake.size = size;
    EXPECT_FALSE(Process("qnt://exam/app1/v.mp4")) << size;
  }
  std::string log = Log();
  size_t first = log.find("[ERROR] Can't get file size!\n");
  EXPECT_NE(first, std::string::npos) << log;
  EXPECT_NE(log.find("[ERROR] Can't get file size!\n", first + 1), std::string::npos);

  g_fake.throwSize = 1;
  EXPECT_FALSE(Process("qnt://exam/app1/v.mp4"));
  g_fake.throwSize = 2;
  EXPECT_FALSE(Process("qnt://exam/app1/v.mp4"));
  log = Log();
  EXPECT_NE(log.find("[ERROR] GetFileSize ERR: database is locked\n"), std::string::npos) << log;
  EXPECT_NE(log.find("[ERROR] GetFileSize ERR!\n"), std::string::npos) << log;

  HostCallbacks contentOnly;
  contentOnly.resContent = FakeContent;
  handler = new ClientSchemeHandler(contentOnly);
  CefRefPtr<TestCallback> cb = new TestCallback();
  EXPECT_FALSE(handler->ProcessRequest(new TestRequest("qnt://exam/app1/v.mp4", {}), cb));
}

TEST_F(SchemeHandler, RangeReadsEndWhenTheHostGivesNothingOrThrows) {
  g_fake.bytes = Bytes(1000);
  g_fake.size = 1000;
  // A block of length 0 ends the data instead of being asked for again and again.
  g_fake.blockLength = 0;
  ASSERT_TRUE(Process("qnt://exam/app1/v.mp4"));
  EXPECT_EQ(Body(100), "");
  EXPECT_EQ(g_fake.asked.size(), 1u);

  g_fake.blockLength = -3;
  ASSERT_TRUE(Process("qnt://exam/app1/v.mp4"));
  EXPECT_EQ(Body(100), "");

  g_fake.blockLength = 50;  // claims fewer bytes than asked: only those are copied
  ASSERT_TRUE(Process("qnt://exam/app1/v.mp4", "bytes=0-99"));
  EXPECT_EQ(Body(100), g_fake.bytes.substr(0, 100));

  g_fake.blockLength = 5000;  // claims more: no more than asked is copied
  ASSERT_TRUE(Process("qnt://exam/app1/v.mp4", "bytes=0-9"));
  EXPECT_EQ(Body(100), g_fake.bytes.substr(0, 10));

  g_fake.blockLength = 40;
  g_fake.nullBlock = true;
  ASSERT_TRUE(Process("qnt://exam/app1/v.mp4"));
  EXPECT_EQ(Body(100), "");

  g_fake = FakeHost();
  g_fake.bytes = Bytes(1000);
  g_fake.size = 1000;
  g_fake.throwContent = 1;
  g_fake.throwContentAfter = 2;
  ASSERT_TRUE(Process("qnt://exam/app1/v.mp4"));
  EXPECT_EQ(Body(100), g_fake.bytes.substr(0, 200));
  g_fake.throwContent = 2;
  g_fake.asked.clear();
  ASSERT_TRUE(Process("qnt://exam/app1/v.mp4"));
  EXPECT_EQ(Body(100), g_fake.bytes.substr(0, 200));
  std::string log = Log();
  EXPECT_NE(log.find("[ERROR] GetDataByStr ERR: database is locked\n"), std::string::npos) << log;
  EXPECT_NE(log.find("[ERROR] GetDataByStr ERR!\n"), std::string::npos) << log;

  HostCallbacks sizeOnly;
  sizeOnly.resSize = FakeSize;
  handler = new ClientSchemeHandler(sizeOnly);
  ASSERT_TRUE(handler->ProcessRequest(new TestRequest("qnt://exam/app1/v.mp4", {}), callback));
  EXPECT_EQ(Body(100), "");
}

}  // namespace

#include "platform/cef/cef_resource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>

#include "platform/cef/cef_gtk_internal.h"
#include "platform/cef/cef_resource_stream.h"

namespace {

std::atomic<int> g_live{0};

// Returns once everything posted to the IO thread before it has run (and been let go of).
void FlushIo() {
  std::promise<void> done;
  cef_internal::PostToIo([&done] { done.set_value(); });
  done.get_future().wait();
}

// Serves |body| in pieces of at most |piece| bytes and records what it was asked.
class Handler : public CefResourceHandler, public CefRefCounted<Handler> {
 public:
  Handler(std::string body, int piece) : body_(std::move(body)), piece_(piece) { ++g_live; }
  ~Handler() override { --g_live; }
  bool ProcessRequest(CefRefPtr<CefRequest>, CefRefPtr<CefCallback>) override { return false; }
  void GetResponseHeaders(CefRefPtr<CefResponse>, int64_t&, CefString&) override {}
  bool ReadResponse(void* out, int want, int& got, CefRefPtr<CefCallback>) override {
    ++reads;
    lastThread = g_thread_self();
    largestAsk = std::max(largestAsk, want);
    if (throwAt == reads) throw std::runtime_error("handler fault");
    got = std::min({want, piece_, static_cast<int>(body_.size() - at_)});
    if (got <= 0) return false;
    body_.copy(static_cast<char*>(out), got, at_);
    at_ += got;
    return true;
  }
  void Cancel() override { ++cancels; }

  int reads = 0;
  int cancels = 0;
  int largestAsk = 0;
  int throwAt = 0;
  GThread* lastThread = nullptr;

 private:
  std::string body_;
  int piece_;
  size_t at_ = 0;
};

class Callback : public CefCallback, public CefRefCounted<Callback> {
 public:
  void Continue() override {}
  void Cancel() override {}
};

std::string ReadAll(GInputStream* stream, gsize chunk) {
  std::string out(chunk, '\0');
  std::string all;
  for (;;) {
    gssize n = g_input_stream_read(stream, &out[0], chunk, nullptr, nullptr);
    if (n <= 0) return all;
    all.append(out, 0, n);
  }
}

TEST(ResourceStream, ReadsAskTheHandlerForNoMoreThanTheReadTakes) {
  std::string body(100000, 'x');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i % 253);
  CefRefPtr<Handler> h = new Handler(body, 1 << 20);
  GInputStream* s = cef_internal::NewResourceStream(h, new Callback());
  EXPECT_EQ(ReadAll(s, 4096), body);
  EXPECT_EQ(h->largestAsk, 4096);
  int reads = h->reads;
  char byte;
  EXPECT_EQ(g_input_stream_read(s, &byte, 1, nullptr, nullptr), 0);  // ended: not asked again
  EXPECT_EQ(h->reads, reads);
  g_object_unref(s);
  EXPECT_EQ(h->cancels, 0);  // read through: nothing to cancel
}

TEST(ResourceStream, ReleasedMidStreamCancelsOnceAndLetsGoOfTheHandler) {
  {
    CefRefPtr<Handler> h = new Handler(std::string(50000, 'v'), 1000);
    GInputStream* s = cef_internal::NewResourceStream(h, new Callback());
    char buffer[8192];
    EXPECT_EQ(g_input_stream_read(s, buffer, sizeof buffer, nullptr, nullptr), 1000);
    ASSERT_TRUE(g_input_stream_close(s, nullptr, nullptr));
    FlushIo();  // the handler hears its cancel on the IO thread
    int reads = h->reads;
    GError* error = nullptr;
    EXPECT_LT(g_input_stream_read(s, buffer, sizeof buffer, nullptr, &error), 0);
    g_clear_error(&error);
    EXPECT_EQ(h->reads, reads);  // no read after the release
    EXPECT_EQ(h->cancels, 1);
    EXPECT_EQ(h->GetRefCt(), 1);  // only this test holds it
    g_object_unref(s);
    EXPECT_EQ(h->cancels, 1);
  }
  EXPECT_EQ(g_live.load(), 0);
  {
    // Dropped without closing, as WebKit drops the stream of a request the page abandoned.
    CefRefPtr<Handler> h = new Handler(std::string(50000, 'v'), 1000);
    GInputStream* s = cef_internal::NewResourceStream(h, new Callback());
    char buffer[100];
    EXPECT_EQ(g_input_stream_read(s, buffer, sizeof buffer, nullptr, nullptr), 100);
    g_object_unref(s);
    FlushIo();
    EXPECT_EQ(h->cancels, 1);
    EXPECT_EQ(h->GetRefCt(), 1);
  }
  EXPECT_EQ(g_live.load(), 0);
}

TEST(ResourceStream, AHandlerThatThrowsFailsTheReadAndNothingUnwinds) {
  CefRefPtr<Handler> h = new Handler(std::string(5000, 'v'), 1000);
  h->throwAt = 2;
  GInputStream* s = cef_internal::NewResourceStream(h, new Callback());
  char buffer[1000];
  EXPECT_EQ(g_input_stream_read(s, buffer, sizeof buffer, nullptr, nullptr), 1000);
  GError* error = nullptr;
  EXPECT_LT(g_input_stream_read(s, buffer, sizeof buffer, nullptr, &error), 0);
  ASSERT_NE(error, nullptr);
  g_error_free(error);
  EXPECT_EQ(g_input_stream_read(s, buffer, sizeof buffer, nullptr, nullptr), 0);
  EXPECT_EQ(h->reads, 2);
  g_object_unref(s);
}

TEST(ResourceStream, ACancelledReadDoesNotReachTheHandler) {
  CefRefPtr<Handler> h = new Handler(std::string(5000, 'v'), 1000);
  GInputStream* s = cef_internal::NewResourceStream(h, new Callback());
  GCancellable* cancel = g_cancellable_new();
  g_cancellable_cancel(cancel);
  char buffer[100];
  GError* error = nullptr;
  EXPECT_LT(g_input_stream_read(s, buffer, sizeof buffer, cancel, &error), 0);
  EXPECT_TRUE(g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED));
  g_error_free(error);
  g_object_unref(cancel);
  EXPECT_EQ(h->reads, 0);
  g_object_unref(s);
}

// As WebKit reads: asynchronously, answered on the calling thread's main context, with the
// handler called on a worker.
TEST(ResourceStream, AsynchronousReadsRunOnAWorker) {
  CefRefPtr<Handler> h = new Handler("0123456789", 4);
  GInputStream* s = cef_internal::NewResourceStream(h, new Callback());
  struct Read {
    gssize n = -2;
    GError* error = nullptr;
  } read;
  char buffer[16];
  g_input_stream_read_async(
      s, buffer, sizeof buffer, G_PRIORITY_DEFAULT, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto* r = static_cast<Read*>(data);
        r->n = g_input_stream_read_finish(G_INPUT_STREAM(source), result, &r->error);
      },
      &read);
  for (int i = 0; i < 500 && read.n == -2; ++i) g_main_context_iteration(nullptr, TRUE);
  EXPECT_EQ(read.n, 4);
  EXPECT_EQ(read.error, nullptr);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  EXPECT_NE(h->lastThread, nullptr);
  EXPECT_NE(h->lastThread, g_thread_self());
  g_object_unref(s);
}

TEST(ParseUrl, PartsOfAnAbsoluteUrl) {
  CefURLParts p;
  ASSERT_TRUE(CefParseURL("qnt://exam/app1/./x/../a%20b.js?v=1#top", p));
  EXPECT_EQ(p.scheme.ToString(), "qnt");
  EXPECT_EQ(p.host.ToString(), "exam");
  EXPECT_EQ(p.path.ToString(), "/app1/a%20b.js");
  EXPECT_EQ(p.query.ToString(), "v=1");
  ASSERT_TRUE(CefParseURL("http://u:pw@127.0.0.1:8080/", p));
  EXPECT_EQ(p.username.ToString(), "u");
  EXPECT_EQ(p.password.ToString(), "pw");
  EXPECT_EQ(p.port.ToString(), "8080");
  EXPECT_FALSE(CefParseURL("no scheme here", p));
  EXPECT_FALSE(CefParseURL("", p));
}

}  // namespace

#include "transfer/http_provider.h"
#include "transfer/retry_stop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>
#include <thread>

#include "shell/core/helpers.h"
#include "tests/support/test_support.h"
#include "tests/transfer/local_http_server.h"

using org_trellik::HttpCfg;
using org_trellik::HttpProvider;
using namespace testing_http;

namespace {

std::size_t AppendTo(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

std::size_t Refuse(char*, std::size_t, std::size_t, void*) { return 0; }

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class HttpProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store = root.path() + "store/";
    MakeDirs(store, false, true);
  }
  void Start(bool tls = false) { server = std::make_unique<LocalHttpServer>(store, tls); }
  HttpCfg Cfg(int retry = 1, int timeout = 10) {
    HttpCfg cfg;
    cfg.retry = retry;
    cfg.timeout = timeout;
    cfg.connectTimeout = 5;
    return cfg;
  }

  TempDir root;
  std::string store;
  std::unique_ptr<LocalHttpServer> server;
  std::string body;
};

}  // namespace

TEST_F(HttpProviderTest, GetDeliversBodyAndStatusesOtherThan200AreResultsWithoutRetry) {
  Start();
  HttpCfg cfg = Cfg(3);
  EXPECT_EQ(HttpProvider::getRequest(server->Url("hello"), &body, AppendTo, &cfg), 0);
  EXPECT_EQ(body, "你好，考生");

  for (int status : {201, 204, 302, 404, 500}) {
    body.clear();
    std::string path = "status/" + std::to_string(status);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HttpProvider::getsRequest(server->Url(path), &body, AppendTo, &cfg), status);
    EXPECT_LT(SecondsSince(start), 1.9) << "a status is not retried";
    EXPECT_EQ(server->CountFor(path), 1u);
    if (status != 204) {
      EXPECT_EQ(body, "error body " + std::to_string(status));
    }
  }
}

TEST_F(HttpProviderTest, OneAttemptForRetryUpToOneAndForNullConfiguration) {
  std::string url = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x";
  for (int retry : {-5, 0, 1}) {
    HttpCfg cfg = Cfg(retry);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HttpProvider::getRequest(url, &body, AppendTo, &cfg), 7);
    EXPECT_LT(SecondsSince(start), 1.9);
  }
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(HttpProvider::postsRequest(url, "", &body, AppendTo, nullptr), 7);
  EXPECT_LT(SecondsSince(start), 1.9);
}

TEST_F(HttpProviderTest, ClosedPortIsRetriedWithDoublingPause) {
  std::string url = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x";
  HttpCfg cfg = Cfg(3);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(HttpProvider::postRequest(url, "{\"a\":1}", &body, AppendTo, &cfg), 7);
  double elapsed = SecondsSince(start);
  EXPECT_GE(elapsed, 6.0);  // pauses of 2 and 4 seconds
  EXPECT_LT(elapsed, 9.0);
}

TEST_F(HttpProviderTest, DroppedConnectionsAreRetriedUntilTheServerAnswers) {
  Start();
  HttpCfg cfg = Cfg(2);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(HttpProvider::getRequest(server->Url("drop/a/1"), &body, AppendTo, &cfg), 0);
  EXPECT_GE(SecondsSince(start), 2.0);
  EXPECT_EQ(body, "ok");
  EXPECT_EQ(server->CountFor("drop/a/1"), 1u);

  // Dropped more often than attempts allow: the last failure is the result.
  body.clear();
  int code = HttpProvider::postsRequest(server->Url("drop/b/5"), "", &body, AppendTo, &cfg);
  EXPECT_TRUE(code == 52 || code == 55 || code == 56) << code;
  EXPECT_EQ(server->CountFor("drop/b/5"), 0u);
}

TEST(RetryPause, DoublesFromTwoSecondsAndIsCappedWithoutOverflow) {
  EXPECT_EQ(org_trellik::RetryPauseMs(1), 2000);
  EXPECT_EQ(org_trellik::RetryPauseMs(2), 4000);
  EXPECT_EQ(org_trellik::RetryPauseMs(5), 32000);
  EXPECT_EQ(org_trellik::RetryPauseMs(6), org_trellik::kMaxRetryPauseMs);
  EXPECT_EQ(org_trellik::RetryPauseMs(23), org_trellik::kMaxRetryPauseMs);
  EXPECT_EQ(org_trellik::RetryPauseMs(64), org_trellik::kMaxRetryPauseMs);
  EXPECT_EQ(org_trellik::RetryPauseMs(INT_MAX), org_trellik::kMaxRetryPauseMs);
}

TEST_F(HttpProviderTest, FieldsGoInNameOrderWithTheirRenderedBytes) {
  Start();
  HttpCfg cfg = Cfg();
  std::string params =
      "{\"b\":true,\"a\":1.5,\"c\":null,\"d\":[1,2],\"e\":-7,\"f\":0.1234567,\"g\":{\"x\":1},"
      "\"名字\":\"张三\", /* comments are allowed */ \"h\":18446744073709551615,"
      "\"i\":2147483648,\"j\":9223372036854775807,\"k\":-2147483649,\"l\":2147483647,"
      "\"m\":3000000000.0}";
  ASSERT_EQ(HttpProvider::postsRequest(server->Url("form"), params, &body, AppendTo, &cfg), 0);
  auto requests = server->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].headers.count("accept-encoding"), 0u);
  auto parts = ParseMultipart(requests[0]);
  std::vector<std::pair<std::string, std::string>> got;
  for (const FormPart& p : parts) got.emplace_back(p.name, p.data);
  std::vector<std::pair<std::string, std::string>> want{
      {"a", "1.5"}, {"b", "1"},        {"c", "null"}, {"d", ""}, {"e", "-7"},
      {"f", "0.123457"}, {"g", ""}, {"h", ""},       {"i", ""}, {"j", ""},
      {"k", "-2147483649"}, {"l", "2147483647"}, {"m", "3e+09"}, {"名字", "张三"}};
  EXPECT_EQ(got, want);
}

TEST_F(HttpProviderTest, CompressedPostsAskForGzipAndDecodeIt) {
  Start();
  HttpCfg cfg = Cfg();
  ASSERT_EQ(HttpProvider::postRequest(server->Url("gzip"), "", &body, AppendTo, &cfg), 0);
  EXPECT_EQ(body, "compressed body");
  body.clear();
  ASSERT_EQ(HttpProvider::downloadRequest(server->Url("gzip"), "{}", &body, AppendTo, &cfg), 0);
  EXPECT_EQ(body, "compressed body");
  for (const RecordedRequest& r : server->Requests()) {
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.headers.at("accept-encoding"), "gzip");
    EXPECT_EQ(r.headers.at("content-type").rfind("multipart/form-data", 0), 0u);
    EXPECT_TRUE(ParseMultipart(r).empty());  // an empty form, not a body read from stdin
  }
}

TEST_F(HttpProviderTest, BadParamsThrowAndSendNothing) {
  Start();
  HttpCfg cfg = Cfg();
  try {
    HttpProvider::postRequest(server->Url("x"), "{\"a\":", &body, AppendTo, &cfg);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Post参数解析失败");
  }
  EXPECT_THROW(HttpProvider::postsRequest(server->Url("x"), "[1,2]", &body, AppendTo, &cfg),
               std::exception);
  EXPECT_THROW(HttpProvider::uploadRequest(server->Url("x"), "[1]", "", &body, AppendTo, &cfg),
               std::exception);
  EXPECT_TRUE(server->Requests().empty());
}

TEST_F(HttpProviderTest, UploadSendsTheFilePartFirstThenTheFields) {
  Start();
  std::string file = root.path() + "answer.apk";
  const char raw[] = "7z\xBC\xAF\x27\x1C\0\x04 binary";
  std::string data(raw, sizeof raw - 1);
  WriteFile(file, data);
  HttpCfg cfg = Cfg();
  Json::Value files;
  files["name"] = "answer";
  files["file"] = file;
  ASSERT_EQ(HttpProvider::uploadRequest(server->Url("up"), files.toStyledString(),
                                        "{\"z\":\"1\",\"a\":\"2\"}", &body, AppendTo, &cfg),
            0);
  auto parts = ParseMultipart(server->Requests().at(0));
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].name, "answer");
  EXPECT_EQ(parts[0].fileName, "answer.apk");
  EXPECT_EQ(parts[0].data, data);
  EXPECT_EQ(parts[1].name, "a");
  EXPECT_EQ(parts[2].name, "z");
}

TEST_F(HttpProviderTest, RefusingSinkAndTimeOutAreFailedAttempts) {
  Start();
  HttpCfg cfg = Cfg(1, 1);
  EXPECT_EQ(HttpProvider::getRequest(server->Url("hello"), nullptr, Refuse, &cfg), 23);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(HttpProvider::getRequest(server->Url("slow/3000"), &body, AppendTo, &cfg), 28);
  EXPECT_LT(SecondsSince(start), 2.5);
  // Below 1 means 30 seconds, not "no limit" and not zero.
  cfg.timeout = 0;
  cfg.connectTimeout = -5;
  EXPECT_EQ(HttpProvider::getRequest(server->Url("slow/1200"), &body, AppendTo, &cfg), 0);
}

TEST_F(HttpProviderTest, CookieLineIsSent) {
  Start();
  HttpCfg cfg = Cfg();
  cfg.cookieList = "Set-Cookie: sid=42; domain=127.0.0.1; path=/";
  ASSERT_EQ(HttpProvider::postsRequest(server->Url("c"), "", &body, AppendTo, &cfg), 0);
  EXPECT_EQ(server->Requests().at(0).headers["cookie"], "sid=42");
}

TEST_F(HttpProviderTest, TlsWithoutCaAcceptsSelfSignedAndWithCaVerifies) {
  Start(true);
  HttpCfg cfg = Cfg();
  ASSERT_EQ(HttpProvider::getRequest(server->Url("hello"), &body, AppendTo, &cfg), 0);
  EXPECT_EQ(body, "你好，考生");

  std::string ca = server->certFile();
  cfg.caInfo = ca.c_str();
  body.clear();
  EXPECT_EQ(HttpProvider::postRequest(server->Url("gzip"), "{\"a\":1}", &body, AppendTo, &cfg), 0);
  EXPECT_EQ(body, "compressed body");

  // A CA bundle that did not sign the server's certificate.
  std::string other = root.path() + "other.pem";
  ASSERT_EQ(RunProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                        "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                        root.path() + "other-key.pem", "-out", other, "-days", "1", "-subj",
                        "/CN=127.0.0.1"}),
            0);
  cfg.caInfo = other.c_str();
  EXPECT_EQ(HttpProvider::getRequest(server->Url("hello"), &body, AppendTo, &cfg), 60);
}

TEST_F(HttpProviderTest, ARetriedUploadSendsTheWholeFormAgain) {
  Start();
  std::string file = root.path() + "big.bin";
  std::string data(3 << 20, 'q');
  WriteFile(file, data);
  HttpCfg cfg = Cfg(2);
  std::string files = "{\"name\":\"answer\",\"file\":\"" + file + "\"}";
  ASSERT_EQ(HttpProvider::uploadRequest(server->Url("drop/u/1"), files, "{\"k\":\"v\"}", &body,
                                        AppendTo, &cfg),
            0);
  auto parts = ParseMultipart(server->Requests().at(0));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].data.size(), data.size());
  EXPECT_EQ(parts[0].data, data);
  EXPECT_EQ(parts[1].data, "v");
}

TEST_F(HttpProviderTest, ClientCertificateWithEncryptedKey) {
  std::string cert = root.path() + "client-cert.pem";
  std::string key = root.path() + "client-key.pem";
  ASSERT_EQ(RunProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                        "ec_paramgen_curve:prime256v1", "-keyout", key, "-out", cert, "-days",
                        "1", "-subj", "/CN=candidate", "-passout", "pass:geheim"}),
            0);
  server = std::make_unique<LocalHttpServer>(store, true, "", cert);
  HttpCfg cfg = Cfg();
  EXPECT_NE(HttpProvider::getRequest(server->Url("hello"), &body, AppendTo, &cfg), 0)
      << "no client certificate";
  cfg.sslCertType = "PEM";
  cfg.sslCert = cert.c_str();
  cfg.sslKeyType = "PEM";
  cfg.sslKey = key.c_str();
  cfg.keyPasswd = "wrong";
  EXPECT_EQ(HttpProvider::getRequest(server->Url("hello"), &body, AppendTo, &cfg), 58);
  cfg.keyPasswd = "geheim";
  body.clear();
  EXPECT_EQ(HttpProvider::getRequest(server->Url("hello"), &body, AppendTo, &cfg), 0);
  EXPECT_EQ(body, "你好，考生");
}

TEST_F(HttpProviderTest, OnlyWebAddressesAreFetched) {
  HttpCfg cfg = Cfg();
  EXPECT_NE(HttpProvider::getRequest("file:///etc/hostname", &body, AppendTo, &cfg), 0);
  EXPECT_NE(HttpProvider::postRequest("file:///etc/hostname", "", &body, AppendTo, &cfg), 0);
  EXPECT_EQ(body, "");
}

TEST_F(HttpProviderTest, AStopEndsThePauseAndBeginsNoFurtherAttempt) {
  std::string url = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x";
  HttpCfg cfg = Cfg(5);
  org_trellik::RetryStop stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop.Request();
  });
  auto start = std::chrono::steady_clock::now();
  {
    org_trellik::ScopedRetryStop scope(stop);
    EXPECT_EQ(HttpProvider::postRequest(url, "", &body, AppendTo, &cfg), 7);
  }
  stopper.join();
  EXPECT_LT(SecondsSince(start), 1.0);

  // Already stopped: not even a first attempt reaches the server.
  Start();
  {
    org_trellik::ScopedRetryStop scope(stop);
    EXPECT_NE(HttpProvider::getRequest(server->Base() + "hello", &body, AppendTo, &cfg), 0);
  }
  EXPECT_TRUE(server->Requests().empty());
  // Outside the scope the flag no longer applies.
  EXPECT_EQ(HttpProvider::getRequest(server->Base() + "hello", &body, AppendTo, &cfg), 0);
}

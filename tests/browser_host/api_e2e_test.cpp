// The exported interface around the browser's life: calls before the first browser, the
// callbacks the shell does not register, and the host log.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "browser_host/client_handler.h"
#include "browser_host/kvb_api.h"
#include "tests/browser_host/e2e_support.h"

namespace {

std::string ReadLog() {
  std::ifstream in(E2E::ModuleFolder() + "libkvb.log");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> g_addresses;
std::vector<std::string> g_failed;
std::vector<std::string> g_asked;
int g_created = 0;

void OnAddress(const char* url) { g_addresses.push_back(url); }
void OnLoadError(const char* url) { g_failed.push_back(url); }
void OnCreated() { ++g_created; }
bool OnBeforeLoad(const char* url) {
  g_asked.push_back(url);
  return std::string(url).find("blocked") != std::string::npos;
}
void Ignored(const char*) {}

}  // namespace

// Runs first: no browser was ever made in this process.
TEST(HostApi, CallsBeforeTheFirstBrowserOnlyLog) {
  EXPECT_EQ(KVBGetCEFHandle(), nullptr);
  KVBNavigate("about:blank");
  KVBNavBack();
  KVBNavForeWard();
  KVBNavRefresh();
  KVBNavCancel();
  KVBShowDevTools();
  KVBExecJS("1", "");
  KVBCreateSubCEFBrowser("about:blank", 0, 0, 100, 100, "none");
  KVBCloseCEFMainBrowser();
  KVBCloseAllBrowsers();
  SetParams();
  EXPECT_EQ(ClientHandler::GetLiveBrowserCount(), 0);
  std::string log = ReadLog();
  for (const char* line : {"[INFO] Call KVBNavigate: about:blank", "[INFO] Call KVBNavBack",
                           "[INFO] Call KVBNavForeWard", "[INFO] Call KVBNavRefresh",
                           "[INFO] Call KVBNavCancel", "[INFO] Call KVBShowDevTools",
                           "[INFO] Call KVBCreateSubCEFBrowser", "[INFO] Call KVBGetCEFHandle"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  EXPECT_NE(log.find(std::string(70, '=') + "\n\n" + std::string(28, ' ') + "Cef Log Start" +
                     std::string(29, ' ') + "\n\n" + std::string(70, '=') + "\n"),
            std::string::npos);
  EXPECT_NE(log.find("[INFO] Call KVBCefInit\n"), std::string::npos);
  // That line went to the standard error stream before the file was opened.
  EXPECT_EQ(log.find("Call KVBExecProcess"), std::string::npos);
}

TEST(HostApi, OptionalCallbacksAndTheBrowsersLifecycle) {
  KVBRegAddressChangeCallback(OnAddress);
  KVBRegAddressChangeCallback(nullptr);  // keeps the earlier one
  KVBRegLoadErrorCallBack(OnLoadError);
  KVBRegMainCefBrowserCreatedCallBack(OnCreated);
  KVBRegDoBeforeResourceLoadCallBack(OnBeforeLoad);
  std::string url = "file://" + E2E::WriteFile("api.html", "<html><body>api</body></html>");
  E2E::Run(url, [url] {
    EXPECT_EQ(g_created, 1);
    EXPECT_NE(KVBGetCEFHandle(), nullptr);
    EXPECT_FALSE(g_addresses.empty());
    EXPECT_EQ(g_addresses.back(), url);
    EXPECT_NE(std::find(g_asked.begin(), g_asked.end(), url), g_asked.end());

    // A second main browser while the first one's parent exists is refused.
    KVBCreateCEFMainBrowser(E2E::window(), "about:blank");
    EXPECT_NE(ReadLog().find("[ERROR] Failed to register window class"), std::string::npos);
    EXPECT_EQ(ClientHandler::GetLiveBrowserCount(), 1);

    std::string missing = "file://" + E2E::TempDir() + "missing.html";
    KVBNavigate(missing.c_str());
    EXPECT_TRUE(E2E::PumpUntil([&] { return !g_failed.empty(); }));
    ASSERT_FALSE(g_failed.empty());
    EXPECT_EQ(g_failed.back(), missing);

    E2E::Pump(500);  // the failed load ends too
    int ends = E2E::loadEnds();
    std::string blocked = "file://" + E2E::WriteFile("blocked.html", "<html>no</html>");
    KVBNavigate(blocked.c_str());
    E2E::Pump(500);
    EXPECT_EQ(E2E::loadEnds(), ends);
    EXPECT_NE(g_addresses.back(), blocked);
    KVBCloseCEFMainBrowser();
  });
  EXPECT_EQ(KVBGetCEFHandle(), nullptr);
  KVBCloseCEFMainBrowser();  // the parent is gone: logged as an error, nothing else
  EXPECT_NE(ReadLog().find("[ERROR] UnregisterClass error"), std::string::npos);
  KVBRegLoadErrorCallBack(Ignored);
}

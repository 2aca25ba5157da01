// The page bridge end to end: real pages in the real browser, commands through the registered
// dispatch callback.
#include <gtest/gtest.h>
#include <json/json.h>

#include <regex>
#include <thread>

#include "browser_host/kvb_api.h"
#include "tests/browser_host/e2e_support.h"

namespace {

Json::Value Parse(const std::string& text) {
  Json::Value v;
  Json::CharReaderBuilder b;
  std::string errors;
  std::istringstream in(text);
  Json::parseFromStream(b, in, &v, &errors);
  return v;
}

std::string Page(const std::string& name, const std::string& script) {
  return "file://" + E2E::WriteFile(name, std::string("<html><body>") + kPageHelpers +
                                              "<script>" + script + "</script></body></html>");
}

std::vector<Json::Value> Reports() {
  std::vector<Json::Value> out;
  for (const auto& r : E2E::RecordsOf("report")) out.push_back(Parse(r.params));
  return out;
}

}  // namespace

TEST(PageBridge, RoundTripCarriesTheExactNameAndReply) {
  std::string url = Page("roundtrip.html",
                         "send('SysCmd.echo','{\"a\":1}','0',function(n,a){"
                         "report({name:n,args:a});"
                         "send(' SysCmd . close ','p2','1',function(n2,a2){report({name:n2,args:a2});});"
                         "});");
  E2E::Run(url, [] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 2));
    auto echo = E2E::RecordsOf("echo");
    ASSERT_EQ(echo.size(), 1u);
    EXPECT_EQ(echo[0].region, "SysCmd");
    EXPECT_EQ(echo[0].params, "{\"a\":1}");
    EXPECT_EQ(echo[0].type, "0");
    auto close = E2E::RecordsOf("close");
    ASSERT_EQ(close.size(), 1u);
    EXPECT_EQ(close[0].region, "SysCmd");
    EXPECT_EQ(close[0].params, "p2");
    EXPECT_EQ(close[0].type, "1");

    auto reports = Reports();
    std::smatch m;
    std::string first = reports[0]["name"].asString();
    std::regex pattern(
        R"(^\{"browserID":(-?\d+),"frameID":(\d+),"funcID":(\d+),"funcName":"SysCmd\.echo"\}\n$)");
    ASSERT_TRUE(std::regex_match(first, m, pattern)) << first;
    int funcId = std::stoi(m[3]);
    EXPECT_EQ(reports[0]["args"].size(), 1u);
    EXPECT_EQ(reports[0]["args"][0].asString(), "reply:SysCmd|echo|{\"a\":1}|0");
    std::string second = reports[1]["name"].asString();
    EXPECT_EQ(second, "{\"browserID\":" + std::string(m[1]) + ",\"frameID\":" + std::string(m[2]) +
                          ",\"funcID\":" + std::to_string(funcId + 2) +
                          ",\"funcName\":\" SysCmd . close \"}\n");
    EXPECT_EQ(reports[1]["args"][0].asString(), "reply:SysCmd|close|p2|1");
    KVBCloseCEFMainBrowser();
  });
  EXPECT_FALSE(E2E::loopRunning());
}

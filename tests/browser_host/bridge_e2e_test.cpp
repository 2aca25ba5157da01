// The page bridge end to end: real pages in the real browser, commands through the registered
// dispatch callback.
#include <gtest/gtest.h>
#include <json/json.h>

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
  return "file://" + E2E::WriteFile(name, std::string("<html><body>") + kPageHelpers + "<script>" +
                                              script + "</script></body></html>");
}

std::vector<Json::Value> Reports() {
  std::vector<Json::Value> out;
  for (const auto& r : E2E::RecordsOf("report")) out.push_back(Parse(r.params));
  return out;
}

}  // namespace

TEST(PageBridge, RoundTripCarriesTheExactNameAndReply) {
  std::string url =
      Page("roundtrip.html",
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
    std::string first = reports[0]["name"].asString();
    Json::Value ids = Parse(first);
    std::string browser = std::to_string(ids["browserID"].asInt());
    std::string frame = std::to_string(ids["frameID"].asInt64());
    int funcId = ids["funcID"].asInt();
    EXPECT_GT(funcId, 0);
    EXPECT_EQ(first, "{\"browserID\":" + browser + ",\"frameID\":" + frame + ",\"funcID\":" +
                         std::to_string(funcId) + ",\"funcName\":\"SysCmd.echo\"}\n");
    EXPECT_EQ(reports[0]["args"].size(), 1u);
    EXPECT_EQ(reports[0]["args"][0].asString(), "reply:SysCmd|echo|{\"a\":1}|0");
    // The report in between took the next number.
    EXPECT_EQ(reports[1]["name"].asString(), "{\"browserID\":" + browser + ",\"frameID\":" + frame +
                                                 ",\"funcID\":" + std::to_string(funcId + 2) +
                                                 ",\"funcName\":\" SysCmd . close \"}\n");
    EXPECT_EQ(reports[1]["args"][0].asString(), "reply:SysCmd|close|p2|1");
    KVBCloseCEFMainBrowser();
  });
  EXPECT_FALSE(E2E::loopRunning());
}

TEST(PageBridge, RepliesOfConcurrentCommandsComeOutOfOrderEachToItsOwnCallback) {
  std::string url =
      Page("order.html",
           "send('Cmd.slow','s','0',function(n,a){report({who:'slow',name:n,args:a});});"
           "send('Cmd.fast','f','0',function(n,a){report({who:'fast',name:n,args:a});});");
  E2E::Run(url, [] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 2));
    auto reports = Reports();
    EXPECT_EQ(reports[0]["who"].asString(), "fast");
    EXPECT_EQ(reports[0]["args"][0].asString(), "reply:Cmd|fast|f|0");
    EXPECT_NE(reports[0]["name"].asString().find("\"funcName\":\"Cmd.fast\""), std::string::npos);
    EXPECT_EQ(reports[1]["who"].asString(), "slow");
    EXPECT_EQ(reports[1]["args"][0].asString(), "reply:Cmd|slow|s|0");
    EXPECT_NE(reports[1]["name"].asString().find("\"funcName\":\"Cmd.slow\""), std::string::npos);
    KVBCloseCEFMainBrowser();
  });
}

TEST(PageBridge, RefusedRequestsAreNeverDispatchedNorAnswered) {
  std::string url = Page(
      "refused.html",
      "var got=[];function cb(tag){return function(){got.push(tag);};}"
      "function raw(name,args,tag){cef.message.sendMessage(name,args);"
      "cef.message.setMessageCallback(name,cb(tag));}"
      "raw('abc',['p','0'],'nodot');raw('a.b.c',['p','0'],'twodots');"
      "raw('dialog.anything',['p','0'],'dialog');raw('Cmd.one',['p'],'oneArg');"
      "raw('Cmd.three',['p','0','x'],'threeArgs');raw('',['p','0'],'empty');"
      "raw('Cmd.noarray','p','noArray');"
      "cef.message.sendMessage('Cmd.nameonly');cef.message.setMessageCallback('Cmd.nameonly',cb('"
      "nameOnly'));"
      "raw('Dialog.fileopen',['p','0'],'capitalDialog');raw('app.',['p','0'],'emptyCommand');"
      "raw('.close',['p','0'],'emptyRegion');raw('Cmd.null',['p','0'],'nullReply');"
      "var threw=[];try{cef.message.removeMessageCallback('x');}catch(e){threw.push(e.message);}"
      "try{cef.message.sendMessage(5,[]);}catch(e){threw.push(e.message);}"
      "try{cef.message.setMessageCallback('x',5);}catch(e){threw.push(e.message);}"
      "setTimeout(function(){send('Cmd.done','','0',function(){report({got:got,threw:threw});});},"
      "300);");
  E2E::Run(url, [] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 1));
    Json::Value r = Reports()[0];
    std::set<std::string> got;
    for (const auto& g : r["got"]) got.insert(g.asString());
    EXPECT_EQ(got,
              (std::set<std::string>{"capitalDialog", "emptyCommand", "emptyRegion", "nullReply"}));
    for (const auto& t : r["threw"]) EXPECT_EQ(t.asString(), "Invalid method arguments");
    EXPECT_EQ(r["threw"].size(), 3u);
    std::set<std::string> dispatched;
    for (const auto& d : E2E::Records()) dispatched.insert(d.region + "." + d.name);
    EXPECT_EQ(dispatched, (std::set<std::string>{"Dialog.fileopen", "app.", ".close", "Cmd.null",
                                                 "Cmd.done", "test.report"}));
    KVBCloseCEFMainBrowser();
  });
}

TEST(PageBridge, NullReplyArrivesAsEmptyText) {
  std::string url = Page("null.html", "send('Cmd.null','','0',function(n,a){report({args:a});});");
  E2E::Run(url, [] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 1));
    EXPECT_EQ(Reports()[0]["args"][0].asString(), "");
    KVBCloseCEFMainBrowser();
  });
}

TEST(PageBridge, EntriesThatAreNoTextArriveAsEmptyText) {
  std::string url = Page("kinds.html",
                         "send('Cmd.kinds',7,'0');"
                         "send('Cmd.text','x',true);"
                         "setTimeout(function(){report({});},200);");
  E2E::Run(url, [] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 1));
    auto kinds = E2E::RecordsOf("kinds");
    ASSERT_EQ(kinds.size(), 1u);
    EXPECT_EQ(kinds[0].params, "");
    auto text = E2E::RecordsOf("text");
    ASSERT_EQ(text.size(), 1u);
    EXPECT_EQ(text[0].params, "x");
    EXPECT_EQ(text[0].type, "");
    KVBCloseCEFMainBrowser();
  });
}

TEST(PageBridge, ExecJsFromAnotherThreadRunsInThePageAndIsHarmlessAfterClose) {
  std::string url = Page("execjs.html", "function fromHost(t){report({t:t});}");
  E2E::Run(url, [] {
    std::thread([] { KVBExecJS("fromHost('worker')", ""); }).join();
    ASSERT_TRUE(E2E::WaitForRecord("report", 1));
    EXPECT_EQ(Reports()[0]["t"].asString(), "worker");
    KVBCloseCEFMainBrowser();
    std::thread([] {
      KVBExecJS("fromHost('late')", "");
      KVBNavigate("about:blank");
    }).join();
  });
  E2E::Pump(200);
  ASSERT_EQ(E2E::RecordsOf("report").size(), 1u);  // nothing of the late call reached a page
  EXPECT_EQ(Reports()[0]["t"].asString(), "worker");
}

TEST(PageBridge, ManyRequestsInFlightAreAllAnsweredEachToItsOwnCallback) {
  std::string url =
      Page("many.html",
           "var n=300,got=0,wrong=0;"
           "for(var i=0;i<n;i++)(function(i){send('Cmd.many','p'+i,'0',function(nm,a){"
           "if(a[0]!=='reply:Cmd|many|p'+i+'|0')wrong++;"
           "if(++got===n)report({got:got,wrong:wrong});});})(i);");
  E2E::Run(url, [] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 1, 30000));
    Json::Value r = Reports()[0];
    EXPECT_EQ(r["got"].asInt(), 300);
    EXPECT_EQ(r["wrong"].asInt(), 0);
    EXPECT_EQ(E2E::RecordsOf("many").size(), 300u);
    KVBCloseCEFMainBrowser();
  });
}

TEST(PageBridge, AReplyAfterThePageWentIsDropped) {
  std::string next = Page("next.html",
                          "setTimeout(function(){send('Cmd.after','','0',function(n,a){"
                          "report({args:a});});},700);");
  std::string url = Page("leave.html",
                         "send('Cmd.slow','','0',function(){report({old:true});});"
                         "location.href='next.html';");
  E2E::Run(url, [] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 1));
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].isMember("old"));
    EXPECT_EQ(reports[0]["args"][0].asString(), "reply:Cmd|after||0");
    EXPECT_EQ(E2E::RecordsOf("slow").size(), 1u);
    KVBCloseCEFMainBrowser();
  });
}

TEST(PageBridge, APageThatReplacedTheArrayIteratorsStillReachesTheHost) {
  // Libraries patch the iteration of arrays; the native functions' arguments must not depend on
  // it.
  std::string url = Page("iterators.html",
                         "Array.prototype[Symbol.iterator]=function(){return [][Symbol.iterator]"
                         ".call(['wrong']);};"
                         "Array.prototype.values=Array.prototype[Symbol.iterator];"
                         "send('SysCmd.echo','p','0',function(n,a){report({args:a});});");
  E2E::Run(url, [] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 1));
    auto echo = E2E::RecordsOf("echo");
    ASSERT_EQ(echo.size(), 1u);
    EXPECT_EQ(echo[0].params, "p");
    EXPECT_EQ(Reports()[0]["args"][0].asString(), "reply:SysCmd|echo|p|0");
    KVBCloseCEFMainBrowser();
  });
}

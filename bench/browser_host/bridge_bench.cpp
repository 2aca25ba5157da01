// The page bridge's speed in the real browser: the round trip of a trivial command, one after
// the other (median and 99th percentile), and the replies per second with 1,000 requests in
// flight. Run on a display: scripts/xvfb-test build/bench/browser_host/bin/browser_host_bench
#include <benchmark/benchmark.h>
#include <json/json.h>

#include <algorithm>
#include <sstream>

#include "browser_host/kvb_api.h"
#include "tests/browser_host/e2e_support.h"

namespace {

const char kScript[] =
    "var N=3000;var i=0;"
    "function seq(){if(i++>=N){report({phase:'seq'});return;}"
    "send('Bench.ping','','0',function(){seq();});}"
    "function burst(){var M=1000,got=0,t0=performance.now();"
    "setTimeout(function(){if(got<M)report({phase:'burst',got:got,ms:-1});},20000);"
    "for(var k=0;k<M;k++){send('Bench.ping','','0',function(){"
    "if(++got===M)report({phase:'burst',got:got,ms:performance.now()-t0});});}}";

Json::Value LastReport() {
  auto r = E2E::RecordsOf("report");
  Json::Value v;
  Json::CharReaderBuilder b;
  std::string errors;
  std::istringstream in(r.back().params);
  Json::parseFromStream(b, in, &v, &errors);
  return v;
}

void BM_PageBridge(benchmark::State& state) {
  std::string url =
      "file://" +
      E2E::WriteFile("bench.html", std::string("<html><body>") + kPageHelpers + "<script>" +
                                       kScript + "</script></body></html>");
  for (auto _ : state) {
    E2E::Run(url, [&state] {
      KVBExecJS("seq()", "");
      if (!E2E::WaitForRecord("report", 1, 60000)) state.SkipWithError("round trips timed out");
      auto pings = E2E::RecordsOf("ping");
      std::vector<double> us;
      // The first requests warm the page and the pool up.
      for (size_t i = 201; i < pings.size(); ++i)
        us.push_back(
            std::chrono::duration<double, std::micro>(pings[i].at - pings[i - 1].at).count());
      std::sort(us.begin(), us.end());
      if (!us.empty()) {
        state.counters["round_trip_median_us"] = us[us.size() / 2];
        state.counters["round_trip_p99_us"] = us[us.size() * 99 / 100];
        state.counters["round_trips"] = static_cast<double>(us.size());
      }
      E2E::ClearRecords();
      KVBExecJS("burst()", "");
      if (!E2E::WaitForRecord("report", 1, 60000)) state.SkipWithError("burst timed out");
      Json::Value r = LastReport();
      double ms = r["ms"].asDouble();
      state.counters["burst_replies"] = r["got"].asInt();
      state.counters["burst_lost"] = 1000 - r["got"].asInt();
      if (ms > 0) state.counters["replies_per_s"] = 1000.0 / (ms / 1000.0);
      KVBCloseCEFMainBrowser();
    });
  }
}
BENCHMARK(BM_PageBridge)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (KVBExecProcess(nullptr) >= 0) return 1;
  E2E::Init();
  if (KVBCefInit() != 1) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  KVBCefShutdown();
  E2E::Cleanup();
  return 0;
}

// The page bridge's speed in the real browser against its floor, a bare WebKit user message and
// its reply between a web extension of its own and the program: the round trip of a trivial
// command, one after the other (median and 99th percentile), and the replies per second with
// 1,000 requests in flight. Five rounds, each measuring both.
// Run on a display: scripts/xvfb-test build/bench/browser_host/bin/browser_host_bench
#include <benchmark/benchmark.h>
#include <json/json.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <sstream>

#include "bench/common/figures.h"
#include "browser_host/kvb_api.h"
#include "tests/browser_host/e2e_support.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRoundTrips = 3000;
constexpr int kWarmUp = 200;  // the first requests warm the page and the pool up
constexpr int kInFlight = 1000;

// One round of one side: the round trips' median and 99th percentile, the burst's rate.
struct Round {
  double median_us = 0, p99_us = 0, replies_per_s = 0;
};

// The same page script on both sides, around send(cb) and report(text).
std::string PageScript() {
  return "var N=" + std::to_string(kRoundTrips) + ",i=0;" +
         "function seq(){if(i++>=N){report('seq');return;}send(function(){seq();});}"
         "function burst(){var M=" +
         std::to_string(kInFlight) +
         ",got=0,t0=performance.now();"
         "for(var k=0;k<M;k++){send(function(){"
         "if(++got===M)report(String(performance.now()-t0));});}}";
}

Round FromTimes(const std::vector<Clock::time_point>& at, double burst_ms) {
  std::vector<double> us;
  for (size_t i = kWarmUp + 1; i < at.size(); ++i)
    us.push_back(std::chrono::duration<double, std::micro>(at[i] - at[i - 1]).count());
  std::sort(us.begin(), us.end());
  Round r;
  if (!us.empty()) {
    r.median_us = us[us.size() / 2];
    r.p99_us = us[us.size() * 99 / 100];
  }
  if (burst_ms > 0) r.replies_per_s = kInFlight / (burst_ms / 1000.0);
  return r;
}

// --- The bridge: cef.message through the browser host to the dispatch callback and back.

Round BridgeRound() {
  std::string page = std::string("<html><body>") +
                     "<script>function send(cb){cef.message.sendMessage('Bench.ping',['','0']);"
                     "cef.message.setMessageCallback('Bench.ping',cb);}"
                     "function report(t){cef.message.sendMessage('Bench.report',[t,'0']);}" +
                     PageScript() + "</script></body></html>";
  std::string url = "file://" + E2E::WriteFile("bench.html", page);
  Round round;
  E2E::Run(url, [&round] {
    KVBExecJS("seq()", "");
    bool ok = E2E::WaitForRecord("report", 1, 60000);
    std::vector<Clock::time_point> at;
    for (const auto& r : E2E::RecordsOf("ping")) at.push_back(r.at);
    E2E::ClearRecords();
    KVBExecJS("burst()", "");
    ok = E2E::WaitForRecord("report", 1, 60000) && ok;
    double ms = ok ? std::atof(E2E::RecordsOf("report").back().params.c_str()) : -1;
    round = FromTimes(at, ms);
    KVBCloseCEFMainBrowser();
  });
  return round;
}

// --- The floor: floorSend(text, cb) of the floor extension, answered at once by the program.

struct FloorState {
  std::vector<Clock::time_point> pings;
  std::vector<std::string> reports;
  bool loaded = false;
};

gboolean OnFloorMessage(WebKitWebView*, WebKitUserMessage* message, FloorState* state) {
  GVariant* p = webkit_user_message_get_parameters(message);
  std::string text = p && g_variant_is_of_type(p, G_VARIANT_TYPE_STRING)
                         ? g_variant_get_string(p, nullptr)
                         : "";
  if (text == "ping")
    state->pings.push_back(Clock::now());
  else
    state->reports.push_back(text);
  webkit_user_message_send_reply(message,
                                 webkit_user_message_new("floor", g_variant_new_string("pong")));
  return TRUE;
}

void OnFloorLoad(WebKitWebView*, WebKitLoadEvent event, FloorState* state) {
  if (event == WEBKIT_LOAD_FINISHED) state->loaded = true;
}

Round FloorRound() {
  std::string page =
      "<html><body><script>function send(cb){floorSend('ping',cb);}"
      "function report(t){floorSend(t,function(){});}" +
      PageScript() + "</script></body></html>";
  std::string url = "file://" + E2E::WriteFile("floor.html", page);
  std::string extensions = E2E::ModuleFolder() + "floor_webext";
  WebKitWebContext* context = webkit_web_context_new();
  webkit_web_context_set_web_extensions_directory(context, extensions.c_str());
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
  GtkWidget* view = webkit_web_view_new_with_context(context);
  gtk_container_add(GTK_CONTAINER(window), view);
  gtk_widget_show_all(window);
  FloorState state;
  g_signal_connect(view, "user-message-received", G_CALLBACK(OnFloorMessage), &state);
  g_signal_connect(view, "load-changed", G_CALLBACK(OnFloorLoad), &state);
  for (const char* address : {"about:blank", url.c_str()}) {
    state.loaded = false;
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), address);
    E2E::PumpUntil([&state] { return state.loaded; }, 30000);
  }
  auto run = [&](const char* script) {
    state.reports.clear();
    webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view), script, -1, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
    return E2E::PumpUntil([&state] { return !state.reports.empty(); }, 60000);
  };
  bool ok = run("seq()");
  std::vector<Clock::time_point> at = state.pings;
  ok = run("burst()") && ok;
  double ms = ok ? std::atof(state.reports.back().c_str()) : -1;
  gtk_widget_destroy(window);
  g_object_unref(context);
  E2E::Pump(50);
  return FromTimes(at, ms);
}

std::vector<Round> g_bridge, g_floor;

void BM_PageBridgeAndFloor(benchmark::State& state) {
  for (auto _ : state) {
    Round b = BridgeRound();
    Round f = FloorRound();
    if (b.replies_per_s <= 0 || f.replies_per_s <= 0) state.SkipWithError("a burst timed out");
    g_bridge.push_back(b);
    g_floor.push_back(f);
    state.counters["bridge_median_us"] = b.median_us;
    state.counters["floor_median_us"] = f.median_us;
    state.counters["bridge_replies_per_s"] = b.replies_per_s;
    state.counters["floor_replies_per_s"] = f.replies_per_s;
  }
}
BENCHMARK(BM_PageBridgeAndFloor)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);

std::vector<double> Field(const std::vector<Round>& rounds, double Round::*field) {
  std::vector<double> out;
  for (const Round& r : rounds) out.push_back(r.*field);
  return out;
}

void PrintFigures() {
  struct Figure {
    const char* name;
    double Round::*field;
    const char* unit;
  } figures_[] = {
      {"bridge round trip median", &Round::median_us, "µs"},
      {"bridge round trip p99", &Round::p99_us, "µs"},
      {"bridge replies per second, 1000 in flight", &Round::replies_per_s, "replies/s"},
  };
  for (const Figure& f : figures_) {
    std::vector<double> mine = Field(g_bridge, f.field), floor = Field(g_floor, f.field);
    figures::PrintRounds(std::string(f.name) + " (bridge)", mine, f.unit);
    figures::PrintRounds(std::string(f.name) + " (bare user message)", floor, f.unit);
  }
  for (const Figure& f : figures_)
    figures::PrintFigure(f.name, figures::Median(Field(g_bridge, f.field)),
                         figures::Median(Field(g_floor, f.field)), f.unit);
}

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
  PrintFigures();
  return 0;
}

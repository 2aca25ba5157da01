#include "tests/browser_host/e2e_support.h"

#include <gdk/gdkx.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "browser_host/client_handler.h"
#include "browser_host/kvb_api.h"
#include "browser_host/text_convert.h"

namespace {

std::mutex g_mutex;
std::vector<DispatchRecord> g_records;
std::map<std::string, size_t> g_counts;  // records by command name
std::vector<std::string> g_load_end_urls;
std::atomic<int> g_load_starts{0};
std::atomic<int> g_load_ends{0};
std::atomic<bool> g_loop_running{false};
GtkWidget* g_window = nullptr;
std::string g_temp;

const char* Dispatch(const char* region, const char* name, const char* params, const char* type) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_records.push_back({region, name, params, type, std::chrono::steady_clock::now()});
    ++g_counts[name];
  }
  static thread_local std::string reply;
  std::string n = name;
  if (n == "slow") std::this_thread::sleep_for(std::chrono::milliseconds(400));
  if (n == "null") return nullptr;
  reply = std::string("reply:") + region + "|" + name + "|" + params + "|" + type;
  return reply.c_str();
}

void LoadEnd(const char* url) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_load_end_urls.push_back(url);
  ++g_load_ends;
}

void LoadStart() { ++g_load_starts; }

}  // namespace

const char kPageHelpers[] =
    "<script>"
    "function send(name,params,type,cb){cef.message.sendMessage(name,[params,type]);"
    "cef.message.setMessageCallback(name,function(n,a){if(cb)cb(n,a);});}"
    "function report(what){cef.message.sendMessage('test.report',[JSON.stringify(what),'0']);}"
    "</script>";

void E2E::Init() {
  char tmpl[] = "/tmp/kvb-e2e-XXXXXX";
  g_temp = g_mkdtemp(tmpl);
  g_temp += "/";
  // Downloads go to the documents folder of this home.
  g_setenv("HOME", g_temp.c_str(), TRUE);
  std::string config = g_temp + "config";
  g_mkdir_with_parents(config.c_str(), 0700);
  g_setenv("XDG_CONFIG_HOME", config.c_str(), TRUE);
  gtk_init(nullptr, nullptr);
  KVBRegDisptchCmdCallBack(Dispatch);
  KVBRegLoadEndCallBack(LoadEnd);
  KVBRegLoadStartCallBack(LoadStart);
}

std::string E2E::TempDir() { return g_temp; }

void E2E::Cleanup() {
  if (g_temp.size() > 5) RunCommand("rm -rf '" + g_temp + "'");
}

std::string E2E::WriteFile(const std::string& name, const std::string& contents) {
  std::string path = g_temp + name;
  std::ofstream(path, std::ios::binary) << contents;
  return path;
}

std::string E2E::WindowXid() {
  return std::to_string(gdk_x11_window_get_xid(gtk_widget_get_window(g_window)));
}

std::string E2E::ModuleFolder() { return GetModuleFolder(); }

int E2E::RunCommand(const std::string& command) { return std::system(command.c_str()); }

void E2E::Keys(const std::string& keys) {
  RunCommand("xdotool key --delay 30 " + keys);
  Pump(400);
}

std::string E2E::Page(const std::string& name, const std::string& body) {
  return "file://" +
         WriteFile(name, std::string("<html><body>") + kPageHelpers + body + "</body></html>");
}

void E2E::Run(const std::string& url, const std::function<void()>& body) {
  ClearRecords();
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_load_end_urls.clear();
  }
  g_load_ends = 0;
  g_load_starts = 0;
  g_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(g_window), 800, 600);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(g_window), box);
  gtk_widget_show_all(g_window);

  struct Ctx {
    GtkWidget* box;
    std::string url;
    const std::function<void()>* body;
    GMainLoop* outer;
  } ctx{box, url, &body, g_main_loop_new(nullptr, FALSE)};

  g_idle_add(
      [](gpointer p) -> gboolean {
        auto* c = static_cast<Ctx*>(p);
        g_idle_add(
            [](gpointer q) -> gboolean {
              auto* c = static_cast<Ctx*>(q);
              E2E::PumpUntil([] { return E2E::loadEnds() > 0; });
              int before = E2E::loadEnds();
              KVBNavigate(c->url.c_str());
              E2E::PumpUntil([before] { return E2E::loadEnds() > before; });
              (*c->body)();
              // A body that stopped early (a failed assertion) leaves browsers open.
              if (ClientHandler::GetLiveBrowserCount() > 0) KVBCloseAllBrowsers();
              return G_SOURCE_REMOVE;
            },
            c);
        g_loop_running = true;
        KVBCreateCEFMainBrowser(c->box, "about:blank");
        g_loop_running = false;
        g_main_loop_quit(c->outer);
        return G_SOURCE_REMOVE;
      },
      &ctx);
  g_main_loop_run(ctx.outer);
  g_main_loop_unref(ctx.outer);
  gtk_widget_destroy(g_window);
  g_window = nullptr;
  Pump(50);
}

bool E2E::PumpUntil(const std::function<bool()>& done, int ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  // Wakes the blocking iteration now and then, so the deadline is seen.
  guint tick = g_timeout_add(
      5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  bool ok = true;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ok = false;
      break;
    }
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(tick);
  return ok;
}

void E2E::Pump(int ms) {
  PumpUntil([] { return false; }, ms);
}

std::vector<DispatchRecord> E2E::Records() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_records;
}

std::vector<DispatchRecord> E2E::RecordsOf(const std::string& name) {
  std::vector<DispatchRecord> out;
  for (const auto& r : Records())
    if (r.name == name) out.push_back(r);
  return out;
}

size_t E2E::CountOf(const std::string& name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_counts.find(name);
  return it == g_counts.end() ? 0 : it->second;
}

bool E2E::WaitForRecord(const std::string& name, size_t count, int ms) {
  // Counted in place: a copy of every record per iteration, under the lock that each dispatch
  // takes, would hold up the very commands being waited for.
  return PumpUntil([&] { return CountOf(name) >= count; }, ms);
}

void E2E::ClearRecords() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_records.clear();
  g_counts.clear();
}

Json::Value E2E::Ask(const std::string& script) {
  size_t n = RecordsOf("report").size();
  KVBExecJS(script.c_str(), "");
  return WaitForRecord("report", n + 1) ? LastReport() : Json::Value();
}

Json::Value E2E::LastReport() {
  auto reports = RecordsOf("report");
  Json::Value value;
  if (reports.empty()) return value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(reports.back().params);
  Json::parseFromStream(builder, in, &value, &errors);
  return value;
}

int E2E::loadEnds() { return g_load_ends; }
int E2E::loadStarts() { return g_load_starts; }
std::vector<std::string> E2E::loadEndUrls() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_load_end_urls;
}
bool E2E::loopRunning() { return g_loop_running; }
GtkWidget* E2E::window() { return g_window; }
GtkWidget* E2E::view() {
  GtkWidget* parent = static_cast<GtkWidget*>(KVBGetCEFHandle());
  if (!parent) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(parent));
  GtkWidget* v = children ? GTK_WIDGET(children->data) : nullptr;
  g_list_free(children);
  return v;
}

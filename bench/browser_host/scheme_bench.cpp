// A 100 MB video fetched whole by a page in the real browser: through the "qnt" scheme (one
// open range, read from the host callback as the browser reads) against the same file from
// Python's http.server on 127.0.0.1, in alternating rounds. Target: the scheme's median at most
// 1.2 times loopback HTTP's, and the host process's peak memory growing by less than 32 MB.
// A third contender shows WebKit's own floor for custom schemes: a file stream handed straight
// to WebKit.
// Run on a display: scripts/xvfb-test build/bench/browser_host/scheme_bin/browser_host_scheme_bench
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <json/json.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "browser_host/kvb_api.h"
#include "platform/cef/cef_gtk_internal.h"
#include "tests/browser_host/e2e_support.h"

extern char** environ;

namespace {

constexpr int kRounds = 5;
constexpr size_t kVideoBytes = 100u * 1024 * 1024;
std::string g_dir;  // the video and the page, served by both

int HostSize(const char*, const char*, const char* path) {
  struct stat st;
  if (stat((g_dir + path).c_str(), &st) != 0) return -1;
  return static_cast<int>(st.st_size);
}

char* HostContent(const char*, const char*, const char* path, int* length, int count, int offset) {
  *length = 0;
  int fd = open((g_dir + path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  fstat(fd, &st);
  size_t want = count == 0 ? static_cast<size_t>(st.st_size) : static_cast<size_t>(count);
  char* block = new char[want > 0 ? want : 1];
  ssize_t got = pread(fd, block, want, count == 0 ? 0 : offset);
  close(fd);
  *length = got > 0 ? static_cast<int>(got) : 0;
  return block;
}

long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return -1;
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

pid_t StartHttpServer(int port) {
  std::string p = std::to_string(port);
  const char* argv[] = {"python3",   "-m",          "http.server", p.c_str(), "--bind",
                        "127.0.0.1", "--directory", g_dir.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, "python3", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return 0;
  // Ready once it accepts a connection.
  for (int i = 0; i < 100; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool up = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    if (up) return pid;
    usleep(50000);
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  return 0;
}

const char kPage[] = R"(<html><body><script>
function report(what){cef.message.sendMessage('test.report',[JSON.stringify(what),'0']);}
var urls={http:'/video.mp4',scheme:'qnt://exam/video.mp4',floor:'floor://bench/video.mp4'};
async function one(kind){
  try{
    var t0=performance.now();
    var x=await fetch(urls[kind],{headers:{'Range':'bytes=0-'},cache:'no-store'});
    var b=await x.arrayBuffer();
    report({ms:performance.now()-t0,length:b.byteLength});
  }catch(e){report({error:String(e)});}
}
</script></body></html>)";

// WebKit's own floor for any custom scheme: the file handed to WebKit as a GIO file stream,
// with no handler, worker or host callback in between.
void ServeFloor(WebKitURISchemeRequest* request, gpointer) {
  GFile* file = g_file_new_for_path((g_dir + "video.mp4").c_str());
  GFileInputStream* stream = g_file_read(file, nullptr, nullptr);
  WebKitURISchemeResponse* response =
      webkit_uri_scheme_response_new(G_INPUT_STREAM(stream), static_cast<gint64>(kVideoBytes));
  SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_append(headers, "Access-Control-Allow-Origin", "*");
  webkit_uri_scheme_response_set_http_headers(response, headers);
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  g_object_unref(stream);
  g_object_unref(file);
}

Json::Value Report(size_t index) {
  auto r = E2E::RecordsOf("report");
  Json::Value v;
  if (r.size() <= index) return v;
  Json::CharReaderBuilder b;
  std::string errors;
  std::istringstream in(r[index].params);
  Json::parseFromStream(b, in, &v, &errors);
  return v;
}

struct Figures {
  std::vector<double> ms;
  std::vector<double> growthMb;  // the host process's peak memory over its size before
};

void Summarise(benchmark::State& state, const std::string& name, std::vector<double> values,
               const char* unit) {
  std::sort(values.begin(), values.end());
  state.counters[name + "_min_" + unit] = values.front();
  state.counters[name + "_median_" + unit] = values[values.size() / 2];
  state.counters[name + "_max_" + unit] = values.back();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// One fetch of |kind|, with the host's peak memory measured over it alone.
bool FetchOnce(const std::string& kind, Figures& figures) {
  size_t before = E2E::RecordsOf("report").size();
  long rss = StatusKb("VmRSS:");
  // The kernel restarts VmHWM at the current size.
  std::ofstream("/proc/self/clear_refs") << "5";
  KVBExecJS(("one('" + kind + "')").c_str(), "");
  if (!E2E::WaitForRecord("report", before + 1, 120000)) return false;
  Json::Value r = Report(before);
  if (r["length"].asUInt64() != kVideoBytes) return false;
  figures.ms.push_back(r["ms"].asDouble());
  figures.growthMb.push_back((StatusKb("VmHWM:") - rss) / 1024.0);
  return true;
}

void BM_VideoThroughSchemeVsLoopbackHttp(benchmark::State& state) {
  int port = FreePort();
  pid_t server = StartHttpServer(port);
  if (!server) {
    state.SkipWithError("python3 -m http.server did not start");
    for (auto _ : state) {
    }
    return;
  }
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/bench.html";
  for (auto _ : state) {
    E2E::Run(url, [&] {
      std::map<std::string, Figures> figures;
      for (int i = 0; i < kRounds; ++i) {
        for (const char* kind : {"http", "scheme", "floor"}) {
          if (!FetchOnce(kind, figures[kind])) {
            state.SkipWithError((std::string(kind) + " did not bring the whole video").c_str());
            KVBCloseCEFMainBrowser();
            return;
          }
        }
      }
      for (auto& f : figures) {
        Summarise(state, f.first, f.second.ms, "ms");
        Summarise(state, f.first + "_growth", f.second.growthMb, "mb");
      }
      state.counters["ratio_scheme_to_http"] =
          Median(figures["scheme"].ms) / Median(figures["http"].ms);
      state.counters["ratio_floor_to_http"] =
          Median(figures["floor"].ms) / Median(figures["http"].ms);
      KVBCloseCEFMainBrowser();
    });
  }
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
}
BENCHMARK(BM_VideoThroughSchemeVsLoopbackHttp)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (KVBExecProcess(nullptr) >= 0) return 1;
  E2E::Init();
  g_dir = E2E::TempDir() + "served/";
  mkdir(g_dir.c_str(), 0755);
  {
    std::ofstream video(g_dir + "video.mp4", std::ios::binary);
    std::string block(1 << 20, '\0');
    for (size_t i = 0; i < kVideoBytes; i += block.size()) {
      for (size_t k = 0; k < block.size(); k += 64) block[k] = static_cast<char>(i + k);
      video.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    std::ofstream(g_dir + "bench.html") << kPage;
  }
  KVBRegGetResSizeCallback(HostSize);
  KVBRegLoadResContentCallback(HostContent);
  if (KVBCefInit() != 1) return 1;
  WebKitWebContext* context = cef_internal::ProgramContext();
  webkit_web_context_register_uri_scheme(context, "floor", ServeFloor, nullptr, nullptr);
  webkit_security_manager_register_uri_scheme_as_cors_enabled(
      webkit_web_context_get_security_manager(context), "floor");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  KVBCefShutdown();
  E2E::Cleanup();
  return 0;
}

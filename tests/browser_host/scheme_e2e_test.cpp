// The "qnt" scheme in the real browser, served by a host that registers both resource
// callbacks over a folder of real files.
#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "browser_host/kvb_api.h"
#include "tests/browser_host/e2e_support.h"

namespace {

std::string g_root;  // the host's folder of resources
GThread* g_main_thread = nullptr;

struct HostRecord {
  std::mutex lock;
  int rangedCalls = 0;
  int largestCount = 0;
  bool zeroCountInRange = false;
  bool onMainThread = false;
  std::vector<std::string> asked;  // "first|package|path" of each content call
  int slowCalls = 0;               // content calls for "slow.mp4"
};
HostRecord g_host;

// Host callbacks under way at once, the most seen, and the threads they ran on.
struct Overlap {
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  std::atomic<int> beforeLoads{0};
  std::mutex lock;
  std::set<std::thread::id> threads;
};
Overlap g_overlap;

class Inside {
 public:
  Inside() {
    int now = ++g_overlap.inside;
    int most = g_overlap.most;
    while (now > most && !g_overlap.most.compare_exchange_weak(most, now)) {
    }
    std::lock_guard<std::mutex> guard(g_overlap.lock);
    g_overlap.threads.insert(std::this_thread::get_id());
  }
  ~Inside() { --g_overlap.inside; }
};

bool HostBeforeLoad(const char*) {
  Inside in;
  ++g_overlap.beforeLoads;
  return false;
}

// Where the host keeps a resource: a package is a folder of that name.
std::string FileOf(const char* first, const char* package, const char* path) {
  std::string f = first, p = package, r = path;
  if (p.empty() && f == r) return g_root + r;
  return g_root + f + "/" + (p.empty() ? "" : p + "/") + r;
}

bool Ranged(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".mp4") == 0;
}

int HostSize(const char* first, const char* package, const char* path) {
  Inside in;
  {
    std::lock_guard<std::mutex> guard(g_host.lock);
    g_host.onMainThread |= g_thread_self() == g_main_thread;
  }
  struct stat st;
  if (stat(FileOf(first, package, path).c_str(), &st) != 0) return -1;
  return static_cast<int>(st.st_size);
}

char* HostContent(const char* first, const char* package, const char* path, int* length, int count,
                  int offset) {
  Inside in;
  std::string file = FileOf(first, package, path);
  {
    std::lock_guard<std::mutex> guard(g_host.lock);
    g_host.onMainThread |= g_thread_self() == g_main_thread;
    g_host.asked.push_back(std::string(first) + "|" + package + "|" + path);
    if (std::string(path) == "slow.mp4") ++g_host.slowCalls;
    if (Ranged(path)) {
      ++g_host.rangedCalls;
      g_host.largestCount = std::max(g_host.largestCount, count);
      g_host.zeroCountInRange |= count == 0;
    }
  }
  // A host that takes its time, so that a page can leave in the middle of the body.
  if (std::string(path) == "slow.mp4") g_usleep(5000);
  if (std::string(path) == "late.js") g_usleep(800000);
  // Long enough for parallel requests to meet in the host if they could.
  if (std::string(path).rfind("par", 0) == 0) g_usleep(30000);
  *length = 0;
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
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

void Put(const std::string& relative, const std::string& bytes) {
  std::string path = g_root + relative;
  std::string dir = path.substr(0, path.rfind('/'));
  g_mkdir_with_parents(dir.c_str(), 0755);
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Png(int width, int height) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
  gdk_pixbuf_fill(pixbuf, 0x3366ccff);
  gchar* buffer = nullptr;
  gsize size = 0;
  gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "png", nullptr, nullptr);
  std::string bytes(buffer, size);
  g_free(buffer);
  g_object_unref(pixbuf);
  return bytes;
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string bytes(n, '\0');
  for (auto& c : bytes) c = static_cast<char>(gen() & 0xFF);
  return bytes;
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// The page's checksum: sum of byte * (index mod 251 + 1), modulo 2^32.
uint32_t Checksum(const std::string& bytes) {
  uint32_t sum = 0;
  for (size_t i = 0; i < bytes.size(); ++i)
    sum += static_cast<unsigned char>(bytes[i]) * static_cast<uint32_t>(i % 251 + 1);
  return sum;
}


const char kProbes[] = R"(
<script>
function hex(buf){return Array.from(new Uint8Array(buf)).map(function(b){return ('0'+b.toString(16)).slice(-2);}).join('');}
function sum(buf){var a=new Uint8Array(buf),s=0;for(var i=0;i<a.length;i++){s=(s+a[i]*(i%251+1))>>>0;}return s;}
async function ranged(range){
  var x=await fetch('qnt://exam/app1/small.mp4',{headers:{'Range':range}});
  var body=await x.arrayBuffer();
  return {status:x.status,text:x.statusText,type:x.headers.get('Content-Type'),
          contentRange:x.headers.get('Content-Range'),contentLength:x.headers.get('Content-Length'),
          acceptRanges:x.headers.get('Accept-Ranges'),length:body.byteLength,bytes:hex(body)};
}
async function fails(url){try{await (await fetch(url)).arrayBuffer();return 'loaded';}catch(e){return 'failed';}}
function image(url){return new Promise(function(ok){var i=new Image();
  i.onload=function(){ok(i.naturalWidth+'x'+i.naturalHeight);};i.onerror=function(){ok('error');};i.src=url;});}
function script(url){return new Promise(function(ok){var s=document.createElement('script');
  s.onload=function(){ok(window.libValue||'no value');};s.onerror=function(){ok('error');};s.src=url;document.head.appendChild(s);});}
async function probe(){
  var r={};
  r.img=await image('qnt://exam/app1/pic.png');
  r.script=await script('qnt://exam/app1/lib.js');
  var js=await fetch('qnt://exam/app1/lib.js');r.jsType=js.headers.get('Content-Type');r.jsStatus=js.status;
  var css=await fetch('qnt://exam/app1/style.css');r.cssType=css.headers.get('Content-Type');
  r.range=await ranged('bytes=100-199');
  r.open=await ranged('bytes=100-');
  r.multi=await ranged('bytes=0-99,200-299');
  r.outside=await ranged('bytes=900-2000');
  r.unknown=await fails('qnt://exam/app1/data.xyz');
  r.missing=await fails('qnt://exam/app1/missing.js');
  var big=await fetch('qnt://exam/app1/big.mp4');var b=await big.arrayBuffer();
  r.big={status:big.status,length:b.byteLength,sum:sum(b),contentRange:big.headers.get('Content-Range')};
  return r;
}
probe().then(report,function(e){report({error:String(e)});});
</script>)";

class SchemeHost : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_main_thread = g_thread_self();
    g_root = E2E::TempDir() + "res/";
    KVBRegGetResSizeCallback(HostSize);
    KVBRegLoadResContentCallback(HostContent);
    KVBRegDoBeforeResourceLoadCallBack(HostBeforeLoad);
  }
};

TEST_F(SchemeHost, PagesLoadImagesScriptsRangesAndVideoThroughTheHost) {
  Put("app1/pic.png", Png(7, 5));
  Put("app1/lib.js", "window.libValue='from qnt';");
  Put("app1/style.css", "body{color:red}");
  Put("app1/data.xyz", "not served");
  std::string small = RandomBytes(1000, 1);
  Put("app1/small.mp4", small);
  std::string big = RandomBytes(20 * 1024 * 1024, 2);
  Put("app1/big.mp4", big);
  Put("app1/pack.rpk/sub/page.html",
      std::string("<html><body>") + kPageHelpers +
          "<script>report({inside:location.href});</script></body></html>");

  std::string url =
      "file://" + E2E::WriteFile("scheme.html", std::string("<html><head>") + kPageHelpers +
                                                    kProbes + "</head><body></body></html>");
  Json::Value r, inside;
  E2E::Run(url, [&] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 1, 60000));
    r = E2E::LastReport();
    KVBNavigate("qnt://exam/app1/pack.rpk/sub/page");
    ASSERT_TRUE(E2E::WaitForRecord("report", 2, 20000));
    inside = E2E::LastReport();
    KVBCloseCEFMainBrowser();
  });
  ASSERT_FALSE(r.isMember("error")) << r["error"].asString();
  EXPECT_EQ(r["img"].asString(), "7x5");
  EXPECT_EQ(r["script"].asString(), "from qnt");
  EXPECT_EQ(r["jsStatus"].asInt(), 200);
  EXPECT_EQ(r["jsType"].asString(), "text/javascript");
  EXPECT_EQ(r["cssType"].asString(), "text/css");

  const Json::Value& range = r["range"];
  EXPECT_EQ(range["status"].asInt(), 206);
  EXPECT_EQ(range["text"].asString(), "Partial Content");
  EXPECT_EQ(range["type"].asString(), "video/mpeg");
  EXPECT_EQ(range["contentRange"].asString(), "bytes 100-199/1000");
  EXPECT_EQ(range["contentLength"].asString(), "100");
  EXPECT_EQ(range["acceptRanges"].asString(), "bytes");
  EXPECT_EQ(range["bytes"].asString(), Hex(small.substr(100, 100)));

  const Json::Value& open = r["open"];
  EXPECT_EQ(open["status"].asInt(), 206);
  EXPECT_EQ(open["contentRange"].asString(), "bytes 100-999/1000");
  EXPECT_EQ(open["contentLength"].asString(), "900");
  EXPECT_EQ(open["bytes"].asString(), Hex(small.substr(100)));

  for (const char* name : {"multi", "outside"}) {
    const Json::Value& refused = r[name];
    EXPECT_EQ(refused["status"].asInt(), 416) << name;
    EXPECT_EQ(refused["text"].asString(), "Requested Range Not Satisfiable") << name;
    EXPECT_EQ(refused["contentLength"].asString(), "0") << name;
    EXPECT_EQ(refused["length"].asInt(), 0) << name;
  }
  EXPECT_EQ(r["multi"]["contentRange"].asString(), "bytes 0-999/1000");
  EXPECT_EQ(r["outside"]["contentRange"].asString(), "bytes 900-2000/1000");
  EXPECT_EQ(r["unknown"].asString(), "failed");
  EXPECT_EQ(r["missing"].asString(), "failed");

  const Json::Value& video = r["big"];
  EXPECT_EQ(video["status"].asInt(), 206);
  EXPECT_EQ(video["length"].asUInt(), big.size());
  EXPECT_EQ(video["sum"].asUInt(), Checksum(big));
  EXPECT_EQ(video["contentRange"].asString(), "bytes 0-20971519/20971520");

  EXPECT_EQ(inside["inside"].asString(), "qnt://exam/app1/pack.rpk/sub/page");
  std::lock_guard<std::mutex> guard(g_host.lock);
  EXPECT_FALSE(g_host.onMainThread) << "a host callback ran on the main thread";
  EXPECT_FALSE(g_host.zeroCountInRange);
  EXPECT_GT(g_host.rangedCalls, 20);
  // Each read asks for what WebKit's read buffer takes, never the video whole.
  EXPECT_GT(g_host.largestCount, 0);
  EXPECT_LE(g_host.largestCount, 64 * 1024);
  EXPECT_NE(std::find(g_host.asked.begin(), g_host.asked.end(), "app1|pack.rpk|sub/page.html"),
            g_host.asked.end());
  EXPECT_EQ(std::find(g_host.asked.begin(), g_host.asked.end(), "app1||data.xyz"),
            g_host.asked.end());
}

// A host may take its resource callbacks for calls of one thread: six fetches of whole files and
// six of ranges at once, and the page's own load, never enter it twice at the same time.
TEST_F(SchemeHost, ParallelFetchesEnterTheHostOneAtATime) {
  for (int i = 0; i < 6; ++i) {
    Put("app2/par" + std::to_string(i) + ".js", "var v" + std::to_string(i) + "=1;");
    Put("app2/par" + std::to_string(i) + ".mp4", RandomBytes(100 * 1024, 10 + i));
  }
  std::string page = std::string("<html><head>") + kPageHelpers +
                     "<script>var all=[];for(var i=0;i<6;i++){"
                     "all.push(fetch('qnt://exam/app2/par'+i+'.js').then(function(x){"
                     "return x.text();}).then(function(t){return t.length;}));"
                     "all.push(fetch('qnt://exam/app2/par'+i+'.mp4',{headers:{'Range':'bytes=0-'}})"
                     ".then(function(x){return x.arrayBuffer();}).then(function(b){"
                     "return b.byteLength;}));}"
                     "Promise.all(all).then(report,function(e){report(String(e));});"
                     "</script></head><body></body></html>";
  std::string url = "file://" + E2E::WriteFile("parallel.html", page);
  g_overlap.most = 0;
  g_overlap.beforeLoads = 0;
  {
    std::lock_guard<std::mutex> guard(g_overlap.lock);
    g_overlap.threads.clear();
  }
  Json::Value r;
  E2E::Run(url, [&] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 1, 30000));
    r = E2E::LastReport();
    KVBCloseCEFMainBrowser();
  });
  ASSERT_TRUE(r.isArray()) << r.toStyledString();
  ASSERT_EQ(r.size(), 12u);
  for (Json::ArrayIndex i = 0; i < r.size(); i += 2) {
    EXPECT_EQ(r[i].asInt(), 9);
    EXPECT_EQ(r[i + 1].asInt(), 100 * 1024);
  }
  EXPECT_GT(g_overlap.beforeLoads, 0);
  EXPECT_EQ(g_overlap.most, 1) << "host callbacks ran at the same time";
  std::lock_guard<std::mutex> guard(g_overlap.lock);
  EXPECT_EQ(g_overlap.threads.size(), 1u) << "host callbacks ran on several threads";
}

int SlowCalls() {
  std::lock_guard<std::mutex> guard(g_host.lock);
  return g_host.slowCalls;
}

// The body stops being read as soon as its page no longer wants it: an aborted fetch, and a
// page that navigates away.
TEST_F(SchemeHost, AnAbandonedVideoStopsBeingRead) {
  const int kAllCalls = 8 * 1024 * 1024 / 8192;
  Put("app1/slow.mp4", RandomBytes(8 * 1024 * 1024, 3));
  Put("app1/late.js", "window.late=1;");
  std::string page = std::string("<html><head>") + kPageHelpers +
                     "<script>"
                     "var c=new AbortController();"
                     "fetch('qnt://exam/app1/slow.mp4',{signal:c.signal}).then(async function(x){"
                     "var rd=x.body.getReader();await rd.read();c.abort();"
                     "try{while(!(await rd.read()).done){}report('read through');}"
                     "catch(e){report('aborted');}"
                     "},function(e){report('failed '+e);});"
                     "</script></head><body></body></html>";
  std::string url = "file://" + E2E::WriteFile("abort.html", page);
  std::string outcome;
  int afterAbort = 0, later = 0, afterLeaving = 0, leftLater = 0;
  E2E::Run(url, [&] {
    ASSERT_TRUE(E2E::WaitForRecord("report", 1, 20000));
    outcome = E2E::RecordsOf("report").back().params;
    afterAbort = SlowCalls();
    E2E::Pump(1000);
    later = SlowCalls();

    int before = E2E::loadEnds();
    std::string leaving =
        "<html><body><script>fetch('qnt://exam/app1/slow.mp4').then("
        "function(x){return x.arrayBuffer();});</script></body></html>";
    KVBNavigate(("file://" + E2E::WriteFile("leaving.html", leaving)).c_str());
    ASSERT_TRUE(E2E::PumpUntil([&] { return SlowCalls() > later + 20; }));
    KVBNavigate("about:blank");
    ASSERT_TRUE(E2E::PumpUntil([&] { return E2E::loadEnds() > before + 1; }));
    afterLeaving = SlowCalls();
    E2E::Pump(1000);
    leftLater = SlowCalls();

    // The answer to a request whose page has gone arrives after it.
    std::string late =
        "<html><body><script>fetch('qnt://exam/app1/late.js');</script></body></html>";
    KVBNavigate(("file://" + E2E::WriteFile("late.html", late)).c_str());
    ASSERT_TRUE(E2E::PumpUntil([&] { return E2E::loadEnds() > before + 2; }));
    KVBNavigate("about:blank");
    E2E::Pump(1500);
    KVBCloseCEFMainBrowser();
  });
  EXPECT_EQ(outcome, "\"aborted\"");
  EXPECT_LE(later - afterAbort, 2);
  EXPECT_LT(later, kAllCalls / 4);
  EXPECT_LE(leftLater - afterLeaving, 2);
  EXPECT_LT(leftLater - later, kAllCalls / 4);
  std::lock_guard<std::mutex> guard(g_host.lock);
  EXPECT_NE(std::find(g_host.asked.begin(), g_host.asked.end(), "app1||late.js"),
            g_host.asked.end());
}

}  // namespace

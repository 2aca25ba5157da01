// The real browser host in this process: a window, the main browser in it, the page's
// commands recorded by a dispatch callback of the test.
#pragma once

#include <gtk/gtk.h>
#include <json/json.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct DispatchRecord {
  std::string region, name, params, type;
  std::chrono::steady_clock::time_point at;
};

class E2E {
 public:
  static void Init();            // once per process, before any test
  static void Cleanup();         // removes the process's folder
  static std::string TempDir();  // a fresh folder of this process

  // Runs |body| inside the browser's message loop once the main browser has loaded |url|,
  // and returns after the loop has ended (|body| closes the browsers).
  static void Run(const std::string& url, const std::function<void()>& body);

  // Iterates the main context until |done| or |ms| have passed; returns done().
  static bool PumpUntil(const std::function<bool()>& done, int ms = 10000);
  static void Pump(int ms);

  static std::vector<DispatchRecord> Records();
  static std::vector<DispatchRecord> RecordsOf(const std::string& name);
  static size_t CountOf(const std::string& name);
  static bool WaitForRecord(const std::string& name, size_t count = 1, int ms = 10000);
  static void ClearRecords();
  // The params of the page's latest "report" message, parsed (null when there is none).
  static Json::Value LastReport();
  // Runs |script| in the page, which reports; returns that report (null when none came).
  static Json::Value Ask(const std::string& script);

  static int loadEnds();
  static int loadStarts();
  static std::vector<std::string> loadEndUrls();
  static bool loopRunning();
  static GtkWidget* window();
  static GtkWidget* view();  // the main browser's view
  static std::string WriteFile(const std::string& name, const std::string& contents);
  // The file URL of a page of |body| with the page helpers.
  static std::string Page(const std::string& name, const std::string& body);
  static int RunCommand(const std::string& command);
  // Types |keys| with xdotool, then gives the page time to see them.
  static void Keys(const std::string& keys);
  static std::string ModuleFolder();
  static std::string WindowXid();  // the X window of window()
};

// The page helpers every test page includes: send(name, params, type, cb) and report(what).
extern const char kPageHelpers[];

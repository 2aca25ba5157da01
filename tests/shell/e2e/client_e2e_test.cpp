// The real client on a private display: where the first load goes, the single-instance guard,
// full screen with the keyboard lock-down, the close question and the exit code, the teardown.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "shell/core/helpers.h"
#include "tests/shell/e2e/client_harness.h"

namespace {

const char kMainWindow[] = "^Velmora答题$";
const char kOk[] = R"({"data":"操作成功","flag":1,"flagMsg":""})";
constexpr int kStartSeconds = 90;

std::string Config(const std::string& home, bool mutex = false, bool navigationBar = false) {
  std::string text;
  if (!home.empty()) text += "[HomePage]\nhome=" + home + "\n";
  text += "[Config]\nMutex=" + std::string(mutex ? "1" : "0") +
          "\nServiceUrl=http://127.0.0.1:9/\nNavigationBar=" + (navigationBar ? "1" : "0") + "\n";
  return text;
}

bool Gone(pid_t pid) {
  std::string text = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
  std::size_t paren = text.rfind(')');
  return text.empty() || (paren != std::string::npos && text.compare(paren + 2, 1, "Z") == 0);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The client on the driver page, reachable through the server's command queue.
class DrivenClient : public ::testing::Test {
 protected:
  // The driver page, with |script| in it, as the home page: the file |home| names, or the
  // application of an "app://" home.
  void StartDriven(bool navigationBar = false, const std::string& script = "",
                   const std::string& home = "pages/driver.html") {
    install = std::make_unique<ClientInstall>(Config(home, false, navigationBar));
    page = IsAppUrl(home) ? "apps/" + home.substr(6) + "/index.html" : home;
    install->WriteFile("bin/" + page, DriverPage(server.base(), script));
    pid = install->Start();
    ASSERT_NE(server.WaitLoaded([&](const std::string& u) { return EndsWith(u, page); },
                                kStartSeconds),
              "")
        << "the driver page did not load";
    mainWindow = WaitWindow(kMainWindow, 30, pid);
    ASSERT_NE(mainWindow, 0u);
  }
  std::string Command(const std::string& word, const std::string& params = "") {
    server.Queue(word, params);
    return server.WaitReply(word, 30);
  }
  // The one window of the client that covers the whole screen, or 0.
  unsigned long FullScreenWindow() {
    for (unsigned long window : FindWindows(kMainWindow)) {
      Geometry g = WindowGeometry(window);
      if (g.mapped && g.x == 0 && g.y == 0 && g.width == 1280 && g.height == 1024) return window;
    }
    return 0;
  }
  // Answers the close question with |key| and returns the question's window.
  unsigned long AnswerQuestion(const std::string& key) {
    unsigned long question = WaitWindow("^提示$", 30, pid);
    EXPECT_NE(question, 0u) << "no close question";
    if (question) SendKeys(question, key);
    return question;
  }
  void ExpectExitWithNothingLeft(int code) {
    EXPECT_EQ(install->WaitExit(pid, 60), code);
    for (pid_t child : helpers)
      EXPECT_TRUE(Eventually([&] { return Gone(child); }, 20)) << "process " << child << " left";
  }

  TestServer server;
  std::unique_ptr<ClientInstall> install;
  std::string page;  // the driver page's file, from the bin folder
  pid_t pid = 0;
  unsigned long mainWindow = 0;
  std::vector<pid_t> helpers;
};

TEST_F(DrivenClient, RelativeHomePageLoadsFromTheClientsFolder) {
  StartDriven();
  std::string url = server.WaitLoaded([](const std::string& u) { return !u.empty(); }, 1);
  EXPECT_EQ(url, "file://" + install->bin() + "pages/driver.html");
  Geometry g = WindowGeometry(mainWindow);
  EXPECT_EQ(g.width, 1018);
  EXPECT_EQ(g.height, 729);
  EXPECT_EQ(g.x, (1280 - 1018) / 2);
  EXPECT_EQ(g.y, (1024 - 729) / 2);
}

TEST(ClientFirstLoad, AbsolutePathLoadsAsAFile) {
  TestServer server;
  ClientInstall install("");
  std::string page = install.root() + "exam pages/abs.html";
  install.WriteFile("exam pages/abs.html", DriverPage(server.base()));
  install.WriteFile("bin/config.ini", Config(page));
  install.Start();
  EXPECT_EQ(server.WaitLoaded([](const std::string& u) { return EndsWith(u, "abs.html"); },
                              kStartSeconds),
            "file://" + install.root() + "exam%20pages/abs.html");
}

TEST(ClientFirstLoad, WebAddressLoadsAsItStands) {
  TestServer server;
  server.SetPage("/exam/web.html", DriverPage(server.base()));
  std::string home = server.base() + "/exam/web.html?paper=1";
  ClientInstall install(Config(home));
  install.Start();
  EXPECT_EQ(server.WaitLoaded([](const std::string& u) { return !u.empty(); }, kStartSeconds),
            home);
  // Once: the page asked for itself one time only.
  int requests = 0;
  for (const std::string& target : server.Requests()) requests += target.rfind("/exam/web.html", 0) == 0;
  EXPECT_EQ(requests, 1);
}

TEST(ClientFirstLoad, AppAddressRunsTheApplication) {
  TestServer server;
  ClientInstall install(Config("app://e2e"));
  install.WriteFile("bin/apps/e2e/index.html", DriverPage(server.base()));
  pid_t pid = install.Start();
  ASSERT_NE(WaitWindow(kMainWindow, kStartSeconds, pid), 0u);
#if HAVE_RUNAPP
  EXPECT_TRUE(EndsWith(
      server.WaitLoaded([](const std::string& u) { return !u.empty(); }, kStartSeconds),
      "/apps/e2e/index.html"));
#else
  // Without the session commands in this build the request reaches the dispatcher, which
  // refuses the unknown word.
  EXPECT_TRUE(Eventually([&] {
    return install.ProgramLog().find("[CmdException]: 未知的命令类型") != std::string::npos;
  }, kStartSeconds)) << install.ProgramLog();
#endif
}

TEST(ClientStartUp, MissingHomePageEndsTheStartWithZero) {
  ClientInstall install(Config(""));
  pid_t pid = install.Start();
  unsigned long box = WaitWindow("^错误信息$", kStartSeconds, pid);
  ASSERT_NE(box, 0u);
  EXPECT_TRUE(FindWindows(kMainWindow).empty());
  SendKeys(box, "Return");
  EXPECT_EQ(install.WaitExit(pid, 60), 0);
}

TEST(ClientStartUp, SecondInstanceIsRefusedWhileTheFirstRuns) {
  TestServer server;
  ClientInstall install(Config("pages/driver.html", true));
  install.WriteFile("bin/pages/driver.html", DriverPage(server.base()));
  pid_t first = install.Start();
  ASSERT_NE(WaitWindow(kMainWindow, kStartSeconds, first), 0u);
  pid_t second = install.Start();
  unsigned long box = WaitWindow("^错误$", kStartSeconds, second);
  ASSERT_NE(box, 0u) << "no refusal from the second start";
  EXPECT_EQ(WaitWindow(kMainWindow, 1, second), 0u);
  SendKeys(box, "Return");
  EXPECT_EQ(install.WaitExit(second, 60), 0);
  EXPECT_TRUE(install.Running(first));
  EXPECT_TRUE(Eventually([&] { return FindWindows("^错误$").empty(); }, 10));
}

TEST(ClientStartUp, WithoutTheGuardInstancesRunSideBySide) {
  TestServer server;
  ClientInstall install(Config("pages/driver.html", false));
  install.WriteFile("bin/pages/driver.html", DriverPage(server.base()));
  pid_t first = install.Start();
  ASSERT_NE(WaitWindow(kMainWindow, kStartSeconds, first), 0u);
  pid_t second = install.Start();
  EXPECT_NE(WaitWindow(kMainWindow, kStartSeconds, second), 0u);
  EXPECT_TRUE(install.Running(first));
}

TEST_F(DrivenClient, MaximizeWithLockGoesFullScreenAndGrabsTheKeyboard) {
  StartDriven();
  ASSERT_EQ(ProbeKeyboard(), 0);
  EXPECT_EQ(Command("maximize", R"({"lock":true})"), kOk);
  EXPECT_TRUE(Eventually([&] { return FullScreenWindow() != 0; }, 20));
  EXPECT_TRUE(Eventually([] { return ProbeKeyboard() == 3; }, 20)) << "keyboard not grabbed";
  EXPECT_EQ(WindowGeometry(mainWindow).x, -10000);
  // The page still answers from the full-screen window; a second request changes nothing.
  EXPECT_EQ(Command("maximize", R"({"lock":true})"), kOk);
  int covering = 0;
  for (unsigned long window : FindWindows(kMainWindow))
    covering += WindowGeometry(window).width == 1280;
  EXPECT_EQ(covering, 1);

  EXPECT_EQ(Command("restored"), kOk);
  EXPECT_TRUE(Eventually([] { return ProbeKeyboard() == 0; }, 20)) << "keyboard still grabbed";
  EXPECT_TRUE(Eventually([&] { return FullScreenWindow() == 0; }, 20));
  Geometry g = WindowGeometry(mainWindow);
  EXPECT_EQ(g.x, (1280 - 1018) / 2);
  EXPECT_EQ(g.width, 1018);
  // Restoring again changes nothing.
  EXPECT_EQ(Command("restored"), kOk);
}

TEST_F(DrivenClient, MaximizeWithoutLockLeavesTheKeyboardFree) {
  StartDriven();
  EXPECT_EQ(Command("maximize"), kOk);
  EXPECT_TRUE(Eventually([&] { return FullScreenWindow() != 0; }, 20));
  usleep(1000000);
  EXPECT_EQ(ProbeKeyboard(), 0);
}

TEST_F(DrivenClient, ParamsWithATrailingCommaOrAByteOrderMarkAreRefused) {
  StartDriven();
  const char kRefused[] = R"({"data":"","flag":0,"flagMsg":"解析json串参数失败"})";
  EXPECT_EQ(Command("maximize", R"({"lock":false,})"), kRefused);
  EXPECT_EQ(Command("maximize", "\xEF\xBB\xBF{\"lock\":false}"), kRefused);
  usleep(1000000);
  EXPECT_EQ(FullScreenWindow(), 0u);
  // Comments are no fault.
  EXPECT_EQ(Command("maximize", R"(/* no lock */ {"lock":false} // end)"), kOk);
  EXPECT_TRUE(Eventually([&] { return FullScreenWindow() != 0; }, 20));
}

// With the navigation bar the address bar stays the main window's focus while the page is full
// screen; Enter there is the page's and neither reloads the home page nor runs its application
// again.
class EnterInFullScreenPage : public DrivenClient,
                              public ::testing::WithParamInterface<const char*> {};

TEST_P(EnterInFullScreenPage, ReachesThePageAndNavigatesNowhere) {
  StartDriven(true, R"(
["keydown", "keyup"].forEach(function (type) {
  addEventListener(type, function (e) { if (e.key == "Enter") report(type, e.key); });
});)", GetParam());
  EXPECT_EQ(Command("maximize"), kOk);
  ASSERT_TRUE(Eventually([&] { return FullScreenWindow() != 0; }, 20));
  SendKeys(FullScreenWindow(), "Return");
  EXPECT_EQ(server.WaitReply("keydown", 10), "Enter");
  EXPECT_EQ(server.WaitReply("keyup", 10), "Enter");
  EXPECT_FALSE(Eventually([&] { return server.CountLoaded(page) > 1; }, 3)) << "loaded again";
}

const char* const kHomes[] = {
    "pages/driver.html",
#if HAVE_RUNAPP
    "app://e2e",
#endif
};
INSTANTIATE_TEST_SUITE_P(Homes, EnterInFullScreenPage, ::testing::ValuesIn(kHomes));

TEST_F(DrivenClient, CloseAsksOnceAndOkEndsWithTwo) {
  StartDriven();
  helpers = ChildrenOf(pid);
  EXPECT_FALSE(helpers.empty()) << "no browser processes to watch";
  EXPECT_EQ(Command("close"), kOk);
  ASSERT_NE(WaitWindow("^提示$", 30, pid), 0u);
  // A second request while the question shows asks nothing more.
  EXPECT_EQ(Command("close"), kOk);
  usleep(500000);
  EXPECT_EQ(FindWindows("^提示$").size(), 1u);
  // Cancel: the client goes on, and a later request asks again.
  AnswerQuestion("Escape");
  EXPECT_TRUE(Eventually([] { return FindWindows("^提示$").empty(); }, 20));
  EXPECT_TRUE(install->Running(pid));
  EXPECT_EQ(Command("close"), kOk);
  AnswerQuestion("Return");
  ExpectExitWithNothingLeft(2);
}

TEST_F(DrivenClient, AltF12AsksToCloseEvenWhileFullScreen) {
  StartDriven();
  helpers = ChildrenOf(pid);
  EXPECT_EQ(Command("maximize", R"({"lock":true})"), kOk);
  ASSERT_TRUE(Eventually([&] { return FullScreenWindow() != 0; }, 20));
  ASSERT_TRUE(Eventually([] { return ProbeKeyboard() == 3; }, 20));
  SendKeys(FullScreenWindow(), "alt+F12");
  AnswerQuestion("Return");
  ExpectExitWithNothingLeft(2);
  EXPECT_EQ(ProbeKeyboard(), 0);
}

TEST_F(DrivenClient, FrameCloseButtonAsksToClose) {
  StartDriven(true);
  // The close button sits at the caption's right end.
  RunCommand("xdotool mousemove --window " + std::to_string(mainWindow) + " 995 10 sleep 0.3 click 1");
  AnswerQuestion("Escape");
  EXPECT_TRUE(Eventually([] { return FindWindows("^提示$").empty(); }, 20));
  EXPECT_TRUE(install->Running(pid));
  RunCommand("xdotool mousemove --window " + std::to_string(mainWindow) + " 995 10 sleep 0.3 click 1");
  AnswerQuestion("Return");
  ExpectExitWithNothingLeft(2);
}

TEST_F(DrivenClient, AddressBarGoesOnEnterAndHomeComesBack) {
  StartDriven(true);
  server.SetPage("/typed.html", DriverPage(server.base()));
  std::string window = std::to_string(mainWindow);
  // Into the address bar, below the caption.
  RunCommand("xdotool mousemove --window " + window + " 500 45 sleep 0.2 click 1");
  SendKeys(mainWindow, "ctrl+a");
  TypeText(mainWindow, server.base() + "/typed.html");
  SendKeys(mainWindow, "Return");
  EXPECT_NE(server.WaitLoaded([](const std::string& u) { return EndsWith(u, "/typed.html"); }, 30),
            "");
  // The home button, at the bar's left end, brings the home page back.
  RunCommand("xdotool mousemove --window " + window + " 15 45 sleep 0.2 click 1");
  EXPECT_TRUE(Eventually([&] { return server.CountLoaded("driver.html") == 2; }, 30));
}

TEST_F(DrivenClient, OpenDialogAnswersTheChosenFileOrNothing) {
  StartDriven();
  std::string file = install->root() + "files/pick me.txt";
  install->WriteFile("files/pick me.txt", "x");
  server.Queue("opendialog", R"({"multiselect":true})");
  unsigned long chooser = WaitWindow("^打开$", 30, pid);
  ASSERT_NE(chooser, 0u);
  SendKeys(chooser, "ctrl+l");
  usleep(500000);
  TypeText(chooser, file);
  usleep(500000);
  // Return may first only take the completion the location entry offers; then once more.
  std::string reply;
  for (int attempt = 0; attempt < 5 && reply.empty(); ++attempt) {
    if (!FindWindows("^打开$").empty()) SendKeys(chooser, "Return");
    reply = server.WaitReply("opendialog", 5);
  }
  EXPECT_EQ(reply, "{\"data\":\"[\\\"" + file + "\\\"]\\n\",\"flag\":1,\"flagMsg\":\"\"}");

  ASSERT_TRUE(Eventually([] { return FindWindows("^打开$").empty(); }, 20));
  server.Queue("opendialog", "");
  chooser = WaitWindow("^打开$", 30, pid);
  ASSERT_NE(chooser, 0u);
  SendKeys(chooser, "Escape");
  EXPECT_EQ(server.WaitReply("opendialog", 30), R"({"data":"[]","flag":1,"flagMsg":""})");
}

// Starts the client on |configIni| and keeps a picture of the screen as |name|.
void TakeScreenshot(const std::string& configIni, const std::string& name) {
  ClientInstall install(configIni);
  pid_t pid = install.Start();
  ASSERT_NE(WaitWindow(kMainWindow, kStartSeconds, pid), 0u);
  // Time for the home page to load and paint.
  usleep(6000000);
  mkdir(ARTIFACT_DIR, 0755);
  std::string shot = std::string(ARTIFACT_DIR) + name;
  RunCommand("import -window root '" + shot + "'");
  struct stat st;
  ASSERT_EQ(stat(shot.c_str(), &st), 0);
  EXPECT_GT(st.st_size, 10000);
}

TEST(ClientScreenshot, BundledDefault) {
  std::ifstream in(std::string(CLIENT_BIN_DIR) + "config.ini", std::ios::binary);
  std::ostringstream bundled;
  bundled << in.rdbuf();
  ASSERT_FALSE(bundled.str().empty());
  TakeScreenshot(bundled.str(), "client.png");
}

// The demo application's page opened as a file, whether or not the session commands are built.
TEST(ClientScreenshot, DemoPage) {
  TakeScreenshot(Config("apps/demo/index.html", false, true), "demo-page.png");
}

}  // namespace

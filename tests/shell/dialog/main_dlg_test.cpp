// The main dialog without a browser: its start-up when the log cannot be written, and its
// teardown with a command still running.
#include "shell/main_dlg.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "exam_commands/session_folder.h"
#include "exam_commands/session_record.h"
#include "shell/commands/dispatcher.h"
#include "shell/core/helpers.h"
#include "shell/core/program_log.h"
#include "shell/skin_frame.h"
#include "tests/support/test_support.h"

// Last: Xlib defines names (None, Status) that other headers use.
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace {

// What the slow command saw when it finished, after it had been asked to stop.
std::atomic<bool> g_started{false};
std::atomic<bool> g_recordStillThere{false};
std::atomic<bool> g_finished{false};

// Goes on for a while after being stopped, then looks at the download table, as a download
// winding down would.
class SlowCommand : public Command {
 public:
  explicit SlowCommand(const CommandRequest& r) : Command("slow", r) {}
  void execute(std::string& reply) override {
    g_started = true;
    while (running) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    {
      std::lock_guard<std::mutex> lock(g_pMainDlg->downloadLock);
      g_recordStillThere = g_pMainDlg->downloads.count("/tmp/file.part") == 1;
    }
    BuildCallbackJson(1, "done", "", reply);
    g_finished = true;
  }
  void stop() override { running = false; }
};

class MainDlgTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    SkinImageCache::Instance().SetSkinPath(GetModuleDir() + "Skins/Default/");
  }
  void SetUp() override { setenv("APPDATA", root.path().c_str(), 1); }
  void TearDown() override {
    ShutdownLog();
    unsetenv("APPDATA");
    g_pMainDlg = nullptr;
  }
  static void Spin(int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  TempDir root;
};

TEST_F(MainDlgTest, StartsWithoutItsLog) {
  // The per-user folder cannot be made: a file stands where it would go.
  std::ofstream(root.path() + "Quellwick") << "in the way";
  CMainDlg dialog;
  g_pMainDlg = &dialog;
  ASSERT_TRUE(dialog.Create());
  EXPECT_EQ(dialog.dataDir, root.path() + "Quellwick/");
  EXPECT_EQ(dialog.Session().cacheFolder, root.path() + "Quellwick/cache/");
  dialog.EndRun(2);
}

TEST_F(MainDlgTest, ThePreviousRunsSessionFolderIsRemovedWithoutHoldingUpTheStart) {
  const std::string session = "0123456789ABCDEF0123456789ABCDEF";
  const std::string temp = root.path() + "tmp/";
  setenv("TMPDIR", temp.c_str(), 1);
  MakeDirs(temp + session + "/unpacked/", false, true);
  std::ofstream(temp + session + "/unpacked/paper.json") << "{}";
  MakeDirs(root.path() + "Quellwick/", false, true);
  std::ofstream(root.path() + "Quellwick/hash.cache") << "[cache]\nsession=" << session << "\n";
  CMainDlg dialog;
  g_pMainDlg = &dialog;
  ASSERT_TRUE(dialog.Create());
  WaitForSessionRecords();
  EXPECT_FALSE(IsExistingDir(temp + session));
  dialog.EndRun(2);
  unsetenv("TMPDIR");
}

TEST_F(MainDlgTest, AFolderOfARunEndedBeforeItsSessionWasRecordedIsRemovedToo) {
  const std::string temp = root.path() + "tmp/";
  setenv("TMPDIR", temp.c_str(), 1);
  // hash.cache still names the run before: the last run ended before recording its own.
  const std::string recorded = "0123456789ABCDEF0123456789ABCDEF";
  const std::string unrecorded = "FEDCBA9876543210fedcba9876543210";
  MakeDirs(temp + recorded + "/a/", false, true);
  MakeDirs(temp + unrecorded + "/unpacked/", false, true);
  std::ofstream(temp + unrecorded + "/unpacked/paper.json") << "{}";
  std::ofstream(temp + unrecorded + "/" + kSessionFolderMark);
  MakeDirs(temp + "not-a-session/", false, true);
  MakeDirs(root.path() + "Quellwick/", false, true);
  std::ofstream(root.path() + "Quellwick/hash.cache") << "[cache]\nsession=" << recorded << "\n";
  CMainDlg dialog;
  g_pMainDlg = &dialog;
  ASSERT_TRUE(dialog.Create());
  WaitForSessionRecords();
  EXPECT_FALSE(IsExistingDir(temp + recorded));
  EXPECT_FALSE(IsExistingDir(temp + unrecorded));
  EXPECT_TRUE(IsExistingDir(temp + "not-a-session"));
  dialog.EndRun(2);
  unsetenv("TMPDIR");
}

TEST_F(MainDlgTest, TeardownWaitsForCommandsBeforeFreeingTheirRecordsAndRefusesNewOnes) {
  CommandFactory::Register("test", &MakeCommand<SlowCommand>);
  auto dialog = std::make_unique<CMainDlg>();
  g_pMainDlg = dialog.get();
  ASSERT_TRUE(dialog->Create());
  {
    std::lock_guard<std::mutex> lock(dialog->downloadLock);
    dialog->downloads["/tmp/file.part"] = nullptr;
  }
  std::string slowReply;
  std::thread worker([&] { slowReply = DispatchCmd("Test", "test", "", "0"); });
  while (!g_started) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  // A page command that arrives while the teardown waits is refused and does nothing.
  std::string lateReply;
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    lateReply = DispatchCmd("Test", "close", "", "0");
  });
  dialog->EndRun(2);
  EXPECT_TRUE(g_finished);
  EXPECT_TRUE(g_recordStillThere) << "the download records went before the command ended";
  EXPECT_TRUE(dialog->downloads.empty());
  EXPECT_TRUE(dialog->runningCommands.empty());
  worker.join();
  late.join();
  EXPECT_EQ(slowReply, R"({"data":"done","flag":1,"flagMsg":""})");
  EXPECT_EQ(lateReply, R"({"data":"","flag":0,"flagMsg":"响应消息命令时出现异常"})");

  // Window requests after the teardown, and after the dialog is gone, change nothing.
  IMainWindow* window = dialog->window;
  EXPECT_TRUE(window->EnterFullScreen(true));
  window->PostClose();
  std::vector<std::string> paths;
  EXPECT_FALSE(window->ChooseFiles(true, paths));
  window->NotifyLauncherClosed(12345);
  dialog.reset();
  g_pMainDlg = nullptr;
  Spin(200);
  GList* toplevels = gtk_window_list_toplevels();
  int shown = 0;
  for (GList* it = toplevels; it; it = it->next) shown += gtk_widget_get_visible(GTK_WIDGET(it->data));
  g_list_free(toplevels);
  EXPECT_EQ(shown, 0);
}

// Keeps the request it was built from, and the thread that ran it.
CommandRequest g_appRequest;
std::thread::id g_appThread;

class RecordingRunApp : public Command {
 public:
  explicit RecordingRunApp(const CommandRequest& r) : Command("run app", r) { g_appRequest = r; }
  void execute(std::string& reply) override {
    g_appThread = std::this_thread::get_id();
    BuildCallbackJson(1, "操作成功", "", reply);
    running = false;
  }
  void stop() override { running = false; }
};

TEST_F(MainDlgTest, AppAddressRunsTheApplicationOnTheCallingThread) {
  CommandFactory::Register("runapp", &MakeCommand<RecordingRunApp>);
  CMainDlg dialog;
  g_pMainDlg = &dialog;
  ASSERT_TRUE(dialog.Create());
  dialog.Navigate("app://demo");
  EXPECT_EQ(g_appRequest.name, "runapp");
  EXPECT_EQ(g_appRequest.region, "SysCmd");
  EXPECT_EQ(g_appRequest.params, "{\"key\":\"demo\"}\n");
  EXPECT_EQ(g_appRequest.type, "0");
  EXPECT_EQ(g_appThread, std::this_thread::get_id());
  dialog.EndRun(2);
}

GdkFilterReturn WatchCloseMessage(GdkXEvent* xevent, GdkEvent*, gpointer heard) {
  auto* event = static_cast<XEvent*>(xevent);
  if (event->type == ClientMessage && event->xclient.format == 8 &&
      event->xclient.message_type == XInternAtom(event->xclient.display, "M_Close", False) &&
      std::memcmp(event->xclient.data.b, "M_Close", 7) == 0)
    ++*static_cast<int*>(heard);
  return GDK_FILTER_CONTINUE;
}

TEST_F(MainDlgTest, LauncherWindowHearsTheCloseMessage) {
  CMainDlg dialog;
  g_pMainDlg = &dialog;
  ASSERT_TRUE(dialog.Create());
  GtkWidget* launcher = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_widget_realize(launcher);
  GdkWindow* gdk_window = gtk_widget_get_window(launcher);
  int heard = 0;
  gdk_window_add_filter(gdk_window, WatchCloseMessage, &heard);
  unsigned long id = GDK_WINDOW_XID(gdk_window);
  // From a worker, as the session command sends it; a window that does not exist is no error.
  std::thread([&] {
    dialog.window->NotifyLauncherClosed(id);
    dialog.window->NotifyLauncherClosed(0x7ffffff);
    dialog.window->NotifyLauncherClosed(0);
  }).join();
  Spin(300);
  EXPECT_EQ(heard, 1);
  gdk_window_remove_filter(gdk_window, WatchCloseMessage, &heard);
  gtk_widget_destroy(launcher);
  dialog.EndRun(2);
}

}  // namespace

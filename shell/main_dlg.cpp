#include "shell/main_dlg.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <libxml/parser.h>

#include <cstring>
#include <thread>

#include "browser_host/kvb_api.h"
#include "exam_commands/session_record.h"
#include "shell/commands/dispatcher.h"
#include "shell/core/helpers.h"
#include "shell/core/program_log.h"
#include "shell/message_box.h"
#include "shell/startup_rules.h"

namespace {

const char kCaption[] = "Velmora答题";

// The dialog that window requests reach; null before the start-up is complete and once the
// teardown has begun, so nothing queued runs on a dialog that is going or gone. Main thread.
CMainDlg* g_live = nullptr;

struct MainTask {
  std::function<void(CMainDlg&)> work;
  std::function<void()> dropped;  // run instead when the dialog is no longer there
  bool ran = false;
};

gboolean RunMainTask(gpointer data) {
  auto* task = static_cast<MainTask*>(data);
  if (g_live) {
    task->ran = true;
    task->work(*g_live);
  }
  return G_SOURCE_REMOVE;
}

void FreeMainTask(gpointer data) {
  auto* task = static_cast<MainTask*>(data);
  if (!task->ran && task->dropped) task->dropped();
  delete task;
}

// The thread that made the dialog: the GTK main thread.
std::thread::id g_mainThread;

bool OnMainThread() { return std::this_thread::get_id() == g_mainThread; }

// The time for one step of a wait on the main thread, with the main loop kept running.
void WaitStep() {
  gint64 end = g_get_monotonic_time() + 100 * G_TIME_SPAN_MILLISECOND;
  while (g_get_monotonic_time() < end) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    g_usleep(2000);
  }
}

void CenterOnScreen(GtkWindow* window, int width, int height) {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle area{0, 0, width, height};
  if (monitor) gdk_monitor_get_geometry(monitor, &area);
  gtk_window_move(window, area.x + (area.width - width) / 2, area.y + (area.height - height) / 2);
}

}  // namespace

struct CMainDlg::FileChoice {
  bool multiselect = false;
  GtkWidget* dialog = nullptr;
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  bool ok = false;
  std::vector<std::string> paths;

  void Complete(bool chosen, std::vector<std::string> files) {
    std::lock_guard<std::mutex> lock(mutex);
    if (done) return;
    done = true;
    ok = chosen;
    paths = std::move(files);
    changed.notify_all();
  }
};

void OnBrowserLoadEnd(const char* url) {
  if (g_live) g_live->OnLoadEnd(url ? url : "");
}

void OnBrowserLoadStart() {
  if (g_live) g_live->OnLoadStart();
}

void OnBrowserLoadError(const char*) {}

CMainDlg::CMainDlg()
    : port_(*this),
#ifdef QW_HAVE_AUDIO
      soundCallbacks_(&port_),
#endif
      loop_(g_main_loop_new(nullptr, FALSE)) {
  g_mainThread = std::this_thread::get_id();
  window = &port_;
#ifdef QW_HAVE_AUDIO
  soundCallbacks = &soundCallbacks_;
  volumeCtrl = &volumeCtrl_;
#endif
}

CMainDlg::~CMainDlg() {
  if (g_live == this) g_live = nullptr;
  if (window_) gtk_widget_destroy(window_);
  g_main_loop_unref(loop_);
}

// Inline on the main thread; queued in order from any other, even before the loop runs.
static void InvokeOnMain(MainTask* task) {
  if (OnMainThread()) {
    RunMainTask(task);
    FreeMainTask(task);
  } else {
    g_idle_add_full(G_PRIORITY_DEFAULT, RunMainTask, task, FreeMainTask);
  }
}

void CMainDlg::OnMain(std::function<void(CMainDlg&)> work) {
  InvokeOnMain(new MainTask{std::move(work), nullptr});
}

void CMainDlg::Post(std::function<void(CMainDlg&)> work) {
  g_idle_add_full(G_PRIORITY_DEFAULT, RunMainTask, new MainTask{std::move(work), nullptr},
                  FreeMainTask);
}

bool CMainDlg::Create() {
  maximized_ = false;
  closeQuestion_ = false;
  moduleDir = GetModuleDir();
  dataDir = GetAppDataDir();
  UpdateSession([&](SessionState& s) {
    s.cacheFolder = dataDir + "cache/";
    s.answerFolder = s.cacheFolder + "answer/";
    s.appsFolder = dataDir + "apps/";
    s.tempFolder = GetTempDir();
  });
#ifdef QW_HAVE_AUDIO
  evaluator_ = std::make_unique<CEvaluator>(moduleDir + "eval/", false);
  evaluator = evaluator_.get();
#endif

  ClientConfig config = ReadClientConfig(moduleDir + "config.ini");
  homePage_ = config.homePage;
  if (homePage_.empty()) {
    ShowMessageBox(nullptr, "获取主页地址失败", "错误信息", false);
    Quit(0);
    return false;
  }
  UpdateSession([&](SessionState& s) { s.baseUrl = config.baseUrl; });
  navigationBar_ = config.navigationBar;
  fileVersion = GetFileVersionString("/proc/self/exe");

  BuildWindow();
  if (addressBar_) gtk_entry_set_text(GTK_ENTRY(addressBar_), homePage_.c_str());

  // The log is wanted but not required: without it the client still runs.
  try {
    InitLog(dataDir + "log/");
  } catch (const std::exception& e) {
    g_printerr("program log unavailable: %s\n", e.what());
  }
  // The earlier runs' folders may be large; the first page does not wait for their removal. A
  // run ended while that removal went on never recorded its own session: its folder is found by
  // its mark. This run's own folders are held from the moment they are made, so neither removal
  // ever takes them.
  QueueSessionFolderTask([data = dataDir, temp = GetTempDir()] {
    RemovePreviousSessionFolder(data, temp);
    RemoveSessionFolders(FindSessionFolders(temp));
  });
#ifdef QW_HAVE_AUDIO
  // Without the library the start goes on; the sound commands then answer failure.
  soundLibrary_ = std::make_unique<SoundLibrary>(moduleDir + "libOrvalis.so");
  soundCallbacks_.registerNotify(soundLibrary_->functions(), OnSoundNotify);
#endif

  ConnectKeyboard(window_);
  hook_ = std::make_unique<HookLibrary>(moduleDir + "libQuintrel.so");
  xmlInitParser();

  gtk_window_set_default_size(GTK_WINDOW(window_), kWidth, kHeight);
  gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
  initialised_ = true;
  g_live = this;
  return true;
}

void CMainDlg::BuildWindow() {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window_), kCaption);
  if (GdkPixbuf* icon = SkinImageCache::Instance().GetImage("dialog/logo.bmp"))
    gtk_window_set_icon(GTK_WINDOW(window_), icon);
  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDeleteEvent), this);

  client_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(window_), client_);
  skin_.Attach(GTK_WINDOW(window_), true, true, true, [this] { Post(&CMainDlg::OnCancel); });

  if (navigationBar_) gtk_box_pack_start(GTK_BOX(client_), BuildNavigationBar(), FALSE, FALSE, 0);

  // The frame round the browser area: one grey pixel on every side.
  frame_ = gtk_event_box_new();
  gtk_widget_set_app_paintable(frame_, TRUE);
  gtk_widget_set_margin_top(frame_, navigationBar_ ? 3 : 1);
  g_signal_connect(frame_, "draw", G_CALLBACK(+[](GtkWidget* w, cairo_t* cr, gpointer) {
                     cairo_set_source_rgb(cr, 0xA3 / 255.0, 0xA3 / 255.0, 0xA3 / 255.0);
                     cairo_set_line_width(cr, 1);
                     cairo_rectangle(cr, 0.5, 0.5, gtk_widget_get_allocated_width(w) - 1,
                                     gtk_widget_get_allocated_height(w) - 1);
                     cairo_stroke(cr);
                     return FALSE;
                   }),
                   nullptr);
  browserArea_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_widget_set_name(browserArea_, "browser-area");
  g_object_set(browserArea_, "margin", 1, nullptr);
  gtk_container_add(GTK_CONTAINER(frame_), browserArea_);
  gtk_box_pack_start(GTK_BOX(client_), frame_, TRUE, TRUE, 0);
}

void CMainDlg::SetCommandLine(const std::string& line) {
  UpdateSession([&](SessionState& s) { s.commandLine = line; });
}

void CMainDlg::PostCreateBrowser() {
  Post([](CMainDlg& self) { KVBCreateCEFMainBrowser(self.browserArea_, "about:blank"); });
}

void CMainDlg::Show() { gtk_widget_show_all(window_); }

int CMainDlg::RunLoop() {
  g_main_loop_run(loop_);
  return exitCode_;
}

void CMainDlg::Quit(int code) {
  exitCode_ = code;
  g_main_loop_quit(loop_);
}

void CMainDlg::Navigate(const std::string& url) {
  NavigationTarget target = ResolveNavigation(url, moduleDir);
  if (target.isApp) {
    Json::Value params(Json::objectValue);
    params["key"] = target.text;
    std::string text = WriteJson(params);
    DispatchCmd("SysCmd", "runapp", text.c_str(), "0");
  } else {
    KVBNavigate(target.text.c_str());
  }
}

void CMainDlg::OnLoadEnd(const std::string&) {
  if (!goHome_) return;
  goHome_ = false;
  Navigate(homePage_);
}

void CMainDlg::OnLoadStart() {
  if (!navigationBar_) return;
  SetGoImage(false);
  addressEdited_ = false;
}

void CMainDlg::OnCancel() {
  if (closeQuestion_ || destroying_) return;
  closeQuestion_ = true;
  GtkWidget* owner = fullScreenWindow_ ? fullScreenWindow_ : window_;
  if (!ShowMessageBox(GTK_WINDOW(owner), "是否关闭程序？", "提示", true)) {
    closeQuestion_ = false;
    return;
  }
  EndRun(2);
}

gboolean CMainDlg::OnDeleteEvent(GtkWidget*, GdkEvent*, CMainDlg*) {
  Post(&CMainDlg::OnCancel);
  return TRUE;
}

void CMainDlg::ConnectKeyboard(GtkWidget* target) {
  g_signal_connect(target, "key-press-event", G_CALLBACK(OnKey), this);
  g_signal_connect(target, "key-release-event", G_CALLBACK(OnKey), this);
}

gboolean CMainDlg::OnKey(GtkWidget* window, GdkEventKey* event, CMainDlg* self) {
  return self->KeyboardProc(window, event) ? TRUE : FALSE;
}

bool CMainDlg::KeyboardProc(GtkWidget* window, GdkEventKey* event) {
  if (destroying_) return false;
  switch (event->keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
      // The address bar stays the focus of the main window while the page is full screen; it
      // has the keyboard only when the key came to that window.
      if (event->type == GDK_KEY_RELEASE && addressBar_ &&
          window == gtk_widget_get_toplevel(addressBar_) && gtk_widget_is_focus(addressBar_)) {
        OnGo();
        return true;
      }
      return false;
    case GDK_KEY_F12:
      if (event->state & GDK_MOD1_MASK) Post(&CMainDlg::OnCancel);
      return false;
    default:
      return false;
  }
}

void CMainDlg::DoEnterFullScreen(bool lock) {
  if (fullScreenWindow_) return;
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle screen{0, 0, kWidth, kHeight};
  if (monitor) gdk_monitor_get_geometry(monitor, &screen);

  fullScreenWindow_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* popup = GTK_WINDOW(fullScreenWindow_);
  gtk_window_set_title(popup, kCaption);
  gtk_window_set_decorated(popup, FALSE);
  gtk_window_set_skip_taskbar_hint(popup, TRUE);
  gtk_window_move(popup, 0, 0);
  gtk_window_set_default_size(popup, screen.width, screen.height);
  g_signal_connect(fullScreenWindow_, "delete-event", G_CALLBACK(OnDeleteEvent), this);
  ConnectKeyboard(fullScreenWindow_);

  g_object_ref(browserArea_);
  gtk_container_remove(GTK_CONTAINER(frame_), browserArea_);
  g_object_set(browserArea_, "margin", 0, nullptr);
  gtk_container_add(GTK_CONTAINER(fullScreenWindow_), browserArea_);
  g_object_unref(browserArea_);

  gtk_widget_show_all(fullScreenWindow_);
  gtk_window_fullscreen(popup);
  gtk_window_present(popup);
  gtk_widget_child_focus(browserArea_, GTK_DIR_TAB_FORWARD);
  gtk_window_move(GTK_WINDOW(window_), -10000, -10000);
  if (lock) Post([](CMainDlg& self) { self.hook_->SetHook(); });
}

void CMainDlg::DoLeaveFullScreen() {
  if (!fullScreenWindow_) return;
  g_object_ref(browserArea_);
  gtk_container_remove(GTK_CONTAINER(fullScreenWindow_), browserArea_);
  g_object_set(browserArea_, "margin", 1, nullptr);
  gtk_container_add(GTK_CONTAINER(frame_), browserArea_);
  g_object_unref(browserArea_);
  gtk_widget_destroy(fullScreenWindow_);
  fullScreenWindow_ = nullptr;

  gtk_window_resize(GTK_WINDOW(window_), kWidth, kHeight);
  CenterOnScreen(GTK_WINDOW(window_), kWidth, kHeight);
  gtk_window_present(GTK_WINDOW(window_));
  gtk_widget_child_focus(browserArea_, GTK_DIR_TAB_FORWARD);
  Post([](CMainDlg& self) { self.hook_->ExitHook(); });
}

void CMainDlg::ShowFileChooser(const std::shared_ptr<FileChoice>& choice) {
  if (destroying_) {
    choice->Complete(false, {});
    return;
  }
  GtkWidget* owner = fullScreenWindow_ ? fullScreenWindow_ : window_;
  GtkWidget* dialog = gtk_file_chooser_dialog_new("打开", GTK_WINDOW(owner),
                                                  GTK_FILE_CHOOSER_ACTION_OPEN, "取消",
                                                  GTK_RESPONSE_CANCEL, "打开", GTK_RESPONSE_ACCEPT,
                                                  nullptr);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(dialog), choice->multiselect);
  GtkFileFilter* filter = gtk_file_filter_new();
  gtk_file_filter_set_name(filter, "所有文件");
  gtk_file_filter_add_pattern(filter, "*");
  gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), filter);
  choice->dialog = dialog;
  openChoosers_.push_back(choice);
  auto* held = new std::shared_ptr<FileChoice>(choice);
  g_signal_connect_data(
      dialog, "response", G_CALLBACK(+[](GtkDialog* d, gint response, gpointer data) {
        auto& chosen = *static_cast<std::shared_ptr<FileChoice>*>(data);
        std::vector<std::string> files;
        if (response == GTK_RESPONSE_ACCEPT) {
          GSList* names = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(d));
          for (GSList* it = names; it; it = it->next) {
            files.emplace_back(static_cast<char*>(it->data));
            g_free(it->data);
          }
          g_slist_free(names);
        }
        bool ok = response == GTK_RESPONSE_ACCEPT && !files.empty();
        chosen->Complete(ok, std::move(files));
        if (g_live) {
          auto& open = g_live->openChoosers_;
          for (auto it = open.begin(); it != open.end(); ++it)
            if (*it == chosen) {
              open.erase(it);
              break;
            }
        }
        chosen->dialog = nullptr;
        gtk_widget_destroy(GTK_WIDGET(d));
      }),
      held, [](gpointer data, GClosure*) { delete static_cast<std::shared_ptr<FileChoice>*>(data); },
      static_cast<GConnectFlags>(0));
  gtk_widget_show(dialog);
}

void CMainDlg::CancelFileChoosers() {
  std::vector<std::shared_ptr<FileChoice>> open;
  open.swap(openChoosers_);
  for (auto& choice : open) {
    choice->Complete(false, {});
    if (choice->dialog) gtk_widget_destroy(choice->dialog);
    choice->dialog = nullptr;
  }
}

void CMainDlg::SendLauncherClose(unsigned long launcherWindow) {
  GdkDisplay* display = gdk_display_get_default();
  if (!launcherWindow || !display || !GDK_IS_X11_DISPLAY(display)) return;
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  XEvent event;
  std::memset(&event, 0, sizeof event);
  event.xclient.type = ClientMessage;
  event.xclient.window = launcherWindow;
  event.xclient.message_type = XInternAtom(x, "M_Close", False);
  event.xclient.format = 8;
  std::memcpy(event.xclient.data.b, "M_Close", 7);
  // A window that is gone by now is no failure of ours.
  gdk_x11_display_error_trap_push(display);
  XSendEvent(x, launcherWindow, False, NoEventMask, &event);
  XSync(x, False);
  gdk_x11_display_error_trap_pop_ignored(display);
}

void CMainDlg::EndRun(int code) {
  OnDestroy();
  Quit(code);
}

void CMainDlg::OnDestroy() {
  destroying_ = true;
  g_live = nullptr;
  CancelFileChoosers();
  // Every command is stopped and gone before anything it may use is released.
  StopAllCommands(*this, WaitStep);
#ifdef QW_HAVE_AUDIO
  // The library's thread ends before anything its notifications reach is released.
  soundCallbacks_.shutdown();
  // No command uses the evaluator any more: the engine and the transport end with it.
  evaluator = nullptr;
  evaluator_.reset();
#endif
  {
    std::lock_guard<std::mutex> lock(downloadLock);
    downloads.clear();
  }
  if (initialised_) xmlCleanupParser();
  KVBCloseCEFMainBrowser();
  g_signal_handlers_disconnect_by_func(window_, reinterpret_cast<gpointer>(OnKey), this);
  if (hook_) hook_->ExitHook();
  if (fullScreenWindow_) {
    gtk_widget_destroy(fullScreenWindow_);
    fullScreenWindow_ = nullptr;
  }
  skin_.Detach();
  gtk_widget_destroy(window_);
  window_ = nullptr;
}

void CMainDlg::Port::PostClose() {
  Post(&CMainDlg::OnCancel);
}

bool CMainDlg::Port::EnterFullScreen(bool lock) {
  {
    std::lock_guard<std::mutex> guard(dialog_.fullScreenLock_);
    if (dialog_.maximized_) return false;
    dialog_.maximized_ = true;
  }
  OnMain([lock](CMainDlg& self) { self.DoEnterFullScreen(lock); });
  return true;
}

bool CMainDlg::Port::LeaveFullScreen() {
  {
    std::lock_guard<std::mutex> guard(dialog_.fullScreenLock_);
    if (!dialog_.maximized_) return false;
    dialog_.maximized_ = false;
  }
  OnMain([](CMainDlg& self) { self.DoLeaveFullScreen(); });
  return true;
}

bool CMainDlg::Port::ChooseFiles(bool multiselect, std::vector<std::string>& paths) {
  auto choice = std::make_shared<FileChoice>();
  choice->multiselect = multiselect;
  auto* task = new MainTask{[choice](CMainDlg& self) { self.ShowFileChooser(choice); },
                            [choice] { choice->Complete(false, {}); }};
  InvokeOnMain(task);
  if (OnMainThread()) {
    while (true) {
      {
        std::lock_guard<std::mutex> lock(choice->mutex);
        if (choice->done) break;
      }
      g_main_context_iteration(nullptr, TRUE);
    }
  }
  std::unique_lock<std::mutex> lock(choice->mutex);
  choice->changed.wait(lock, [&] { return choice->done; });
  paths = choice->paths;
  return choice->ok;
}

void CMainDlg::Port::Navigate(const std::string& url) {
  // Local files load as file:// addresses.
  std::string target = !url.empty() && url[0] == '/'
                           ? ResolveNavigation(url, dialog_.moduleDir).text
                           : url;
  KVBNavigate(target.c_str());
}

void CMainDlg::Port::ExecJS(const std::string& script) { KVBExecJS(script.c_str(), ""); }

void CMainDlg::Port::NotifyLauncherClosed(unsigned long launcherWindow) {
  OnMain([launcherWindow](CMainDlg& self) { self.SendLauncherClose(launcherWindow); });
}

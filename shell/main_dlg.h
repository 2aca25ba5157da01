// The program's one window: the skinned frame, the optional navigation bar and the browser area
// that holds the main browser. It owns the state that page commands share for the whole run and
// answers their window requests (full screen, lock-down, close question, file chooser).
#pragma once

#include <gtk/gtk.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "shell/commands/main_state.h"
#ifdef QW_HAVE_AUDIO
#include "audio/evaluator.h"
#include "audio/sound_callbacks.h"
#include "audio/sound_library.h"
#include "audio/volume_ctrl.h"
#endif
#include "shell/hook_library.h"
#include "shell/skin_frame.h"

// The browser host's load callbacks; they reach the dialog while it runs.
void OnBrowserLoadEnd(const char* url);
void OnBrowserLoadStart();
void OnBrowserLoadError(const char* failedUrl);

class CMainDlg : public MainDlgState {
 public:
  static constexpr int kWidth = 1018;
  static constexpr int kHeight = 729;

  CMainDlg();
  ~CMainDlg() override;

  // The initialisation; false when the start-up ended (the window is gone again and the loop
  // has been told to quit with 0).
  bool Create();
  void SetCommandLine(const std::string& line);
  void SetGoHome(bool goHome) { goHome_ = goHome; }
  // Creates the main browser from the main loop; the browser's loop runs nested in it.
  void PostCreateBrowser();
  void Show();
  // The dialog's own main loop and the code it ends with.
  int RunLoop();

  // The address rules of the address bar, the home button and the first load.
  void Navigate(const std::string& url);
  void OnLoadEnd(const std::string& url);
  void OnLoadStart();
  // The close question; OK ends the run with code 2.
  void OnCancel();
  // The teardown, then the loop is told to quit with |code|.
  void EndRun(int code);

 private:
  // What commands may ask of the window, from any thread.
  class Port : public IMainWindow {
   public:
    explicit Port(CMainDlg& dialog) : dialog_(dialog) {}
    void PostClose() override;
    bool EnterFullScreen(bool lock) override;
    bool LeaveFullScreen() override;
    bool ChooseFiles(bool multiselect, std::vector<std::string>& paths) override;
    void Navigate(const std::string& url) override;
    void ExecJS(const std::string& script) override;
    void NotifyLauncherClosed(unsigned long launcherWindow) override;

   private:
    CMainDlg& dialog_;
  };
  struct FileChoice;

  // Runs |work| on the main thread with the dialog, unless the dialog is being torn down by
  // then: inline on the main thread, in order otherwise.
  static void OnMain(std::function<void(CMainDlg&)> work);
  // Like OnMain, but always later, as a posted message would be.
  static void Post(std::function<void(CMainDlg&)> work);

  void BuildWindow();
  GtkWidget* BuildNavigationBar();
  void DoEnterFullScreen(bool lock);
  void DoLeaveFullScreen();
  void ShowFileChooser(const std::shared_ptr<FileChoice>& choice);
  void CancelFileChoosers();
  void SendLauncherClose(unsigned long launcherWindow);
  void OnGo();
  void OnHome();
  void ShowSettingsMenu();
  void SetGoImage(bool edited);
  // |window| is the top-level window that the key came to.
  bool KeyboardProc(GtkWidget* window, GdkEventKey* event);
  void OnDestroy();
  void Quit(int code);
  void ConnectKeyboard(GtkWidget* window);

  static gboolean OnKey(GtkWidget* window, GdkEventKey* event, CMainDlg* self);
  static gboolean OnDeleteEvent(GtkWidget* widget, GdkEvent* event, CMainDlg* self);

  Port port_;
#ifdef QW_HAVE_AUDIO
  // The sound library (loaded at start-up), its notifications and the volume control, for the
  // whole run; the library goes last, after everything that calls it.
  std::unique_ptr<SoundLibrary> soundLibrary_;
  SoundCallbacks soundCallbacks_;
  org_trellik::CVolumeCtrl volumeCtrl_;
  // The speech engine's client, from the start-up to the teardown.
  std::unique_ptr<CEvaluator> evaluator_;
#endif
  GMainLoop* loop_ = nullptr;
  int exitCode_ = 0;
  bool initialised_ = false;   // the start-up went as far as the window's own parts
  bool destroying_ = false;    // the teardown has begun: window requests are ignored
  bool goHome_ = false;
  bool closeQuestion_ = false;
  bool addressEdited_ = false;
  bool navigationBar_ = false;
  std::string homePage_;

  // Full screen: decided on the calling thread, carried out on the main thread.
  std::mutex fullScreenLock_;
  bool maximized_ = false;

  GtkWidget* window_ = nullptr;
  GtkWidget* client_ = nullptr;
  GtkWidget* frame_ = nullptr;        // the one-pixel frame round the browser area
  GtkWidget* browserArea_ = nullptr;  // parent of the browser's own widget
  GtkWidget* fullScreenWindow_ = nullptr;
  GtkWidget* addressBar_ = nullptr;
  GtkWidget* goButton_ = nullptr;
  GtkWidget* menuButton_ = nullptr;
  CSkinWnd skin_;
  std::unique_ptr<HookLibrary> hook_;
  std::vector<std::shared_ptr<FileChoice>> openChoosers_;
};

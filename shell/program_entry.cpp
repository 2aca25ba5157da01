#include "shell/program_entry.h"

#include <gdk/gdk.h>
#include <gtk/gtk.h>

#include <memory>

#include "browser_host/kvb_api.h"
#include "exam_commands/session_record.h"
#include "shell/commands/dispatcher.h"
#include "shell/core/helpers.h"
#include "shell/core/program_log.h"
#include "shell/main_dlg.h"
#include "shell/message_box.h"
#include "shell/register_commands.h"
#include "shell/startup_rules.h"

int Run(CMainDlg& dialog, const char* const* argv, int argc) {
  g_pMainDlg = &dialog;
  if (!dialog.Create()) return 0;
  dialog.SetCommandLine(JoinCommandLine(argc, argv));
  dialog.SetGoHome(true);
  dialog.PostCreateBrowser();
  dialog.Show();
  return dialog.RunLoop();
}

int RunProgram(int argc, char** argv) {
  int code = KVBExecProcess(nullptr);
  if (code >= 0) return code;

  // The keyboard lock-down and the launcher's messages are X11's.
  gdk_set_allowed_backends("x11");
  if (!gtk_init_check(nullptr, nullptr)) {
    g_printerr("cannot open the display\n");
    return 0;
  }

  if (ReadClientConfig(GetModuleDir() + "config.ini").mutex) {
    switch (AcquireInstanceLock(RuntimeDir(), "Plaxenar_Corvanta")) {
      case InstanceLock::kAcquired:
        break;
      case InstanceLock::kFailed:
        ShowMessageBox(nullptr, "CreateMutex失败，程序未能启动", "内部错误", false);
        return 0;
      case InstanceLock::kAlreadyRunning:
        ShowMessageBox(nullptr, "程序已经在运行", "错误", false);
        return 0;
    }
  }

  if (!KVBCefInit()) {
    ShowMessageBox(nullptr, "初始化cef组件失败", "内部错误", false);
    return 0;
  }
  KVBRegDisptchCmdCallBack(DispatchCmd);
  KVBRegLoadEndCallBack(OnBrowserLoadEnd);
  KVBRegLoadStartCallBack(OnBrowserLoadStart);
  KVBRegLoadErrorCallBack(OnBrowserLoadError);
  RegisterAllCommands();
  SkinImageCache::Instance().SetSkinPath(GetModuleDir() + "Skins/Default/");

  // The dialog outlives the browser runtime, so that a page command still arriving from the
  // browser's workers meets a refusing dispatcher, never a freed dialog.
  auto dialog = std::make_unique<CMainDlg>();
  int result = Run(*dialog, argv, argc);
  // The session folder's record must be on disk before the process ends.
  WaitForSessionRecords();
  KVBCefShutdown();
  ShutdownLog();
  g_pMainDlg = nullptr;
  dialog.reset();
  return result;
}

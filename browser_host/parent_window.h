// The widget that holds the main browser inside the application window, and its commands.
#pragma once

#include "platform/cef/cef_browser.h"

enum : int {
  kCommandDownloadDone = 32001,
  kCommandDownloadFailed = 32002,
};

// Queued to the main thread: the parent answers 32001 with the notice "下载完成！" and 32002 with
// "Sorry，下载失败！", both titled "文件下载". Nothing happens when |parent| is no longer the
// parent.
void PostParentCommand(CefWindowHandle parent, int command);

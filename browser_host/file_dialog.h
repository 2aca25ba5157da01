// The page's file dialogs: requests whose "funcName" is "dialog.fileopen",
// "dialog.multifileopen" or "dialog.filesave" open the browser host's dialog, and the chosen
// paths go back under the request's own name.
#pragma once

#include <string>
#include <vector>

#include "browser_host/client_handler.h"

namespace file_dialog {

class ProcessMessageDelegate : public ClientHandler::ProcessMessageDelegate,
                               public CefRefCounted<ProcessMessageDelegate> {
 public:
  // True when a dialog was started; its answer comes later, from the callback.
  bool OnProcessMessageReceived(CefRefPtr<ClientHandler> handler, CefRefPtr<CefBrowser> browser,
                                CefProcessId source_process,
                                CefRefPtr<CefProcessMessage> message) override;
};

// Answers the renderer when the dialog of one request closes.
class RunFileDialogCallback : public CefRunFileDialogCallback,
                              public CefRefCounted<RunFileDialogCallback> {
 public:
  explicit RunFileDialogCallback(const std::string& messageName) : message_name_(messageName) {}
  // Sends the paths (none on cancel) as a list in entry 0, after making the program's
  // folder the current directory again.
  void OnFileDialogDismissed(CefRefPtr<CefBrowserHost> browser_host,
                             const std::vector<CefString>& file_paths) override;

 private:
  std::string message_name_;  // UTF-8
};

// Adds the file-dialog delegate to the client handler's set (after the page-command one).
void CreateProcessMessageDelegates(ClientHandler::ProcessMessageDelegateSet& delegates);

}  // namespace file_dialog

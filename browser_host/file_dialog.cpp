#include "browser_host/file_dialog.h"

#include <unistd.h>

#include "browser_host/binding_extension.h"
#include "platform/cef/cef_path.h"

namespace file_dialog {

namespace {

const char kFileOpen[] = "dialog.fileopen";
const char kMultiFileOpen[] = "dialog.multifileopen";
const char kFileSave[] = "dialog.filesave";

// The program's relative paths start from its own folder, whatever a dialog did to the
// current one. False when the folder cannot be had or entered.
bool EnterProgramFolder() {
  CefString folder;
  return CefGetPath(PK_DIR_EXE, folder) && chdir(folder.c_str()) == 0;
}

// A dialog request as the page sent it.
struct DialogRequest {
  FileDialogMode mode = FILE_DIALOG_OPEN;
  std::string title;
  std::string default_file_name;
  std::vector<CefString> accept_types;
};

// Every check of an incoming message; false when it is no dialog request.
bool ParseDialogRequest(CefRefPtr<CefProcessMessage> message, DialogRequest& out) {
  const std::string name = message->GetName().ToString();
  if (name.find(kFileOpen) == std::string::npos && name.find(kMultiFileOpen) == std::string::npos &&
      name.find(kFileSave) == std::string::npos)
    return false;
  int funcId = 0;
  std::string funcName;
  if (!binding_extension::ParseCallbackInfo(name, funcId, funcName)) return false;
  if (funcName.empty() || funcId == 0) return false;
  CefRefPtr<CefListValue> args = message->GetArgumentList();
  if (!args || args->GetSize() == 0) return false;
  if (funcName == kFileOpen) {
    out.mode = FILE_DIALOG_OPEN;
    out.title = "Open";
    out.default_file_name = args->GetString(0).ToString();
  } else if (funcName == kMultiFileOpen) {
    out.mode = FILE_DIALOG_OPEN_MULTIPLE;
    out.title = "Open";
    out.default_file_name.clear();
  } else if (funcName == kFileSave) {
    out.mode = FILE_DIALOG_SAVE;
    out.title = "Save";
    out.default_file_name = args->GetString(0).ToString();
  } else {
    return false;
  }
  out.accept_types.clear();
  for (size_t i = 1; i < args->GetSize(); ++i) out.accept_types.push_back(args->GetString(i));
  return true;
}

}  // namespace

bool ProcessMessageDelegate::OnProcessMessageReceived(CefRefPtr<ClientHandler>,
                                                      CefRefPtr<CefBrowser> browser, CefProcessId,
                                                      CefRefPtr<CefProcessMessage> message) {
  DialogRequest request;
  if (!ParseDialogRequest(message, request)) return false;
  CefRefPtr<CefBrowserHost> host = browser->GetHost();
  if (!host) return false;
  host->RunFileDialog(request.mode, request.title, request.default_file_name, request.accept_types,
                      new RunFileDialogCallback(message->GetName().ToString()));
  return true;
}

void RunFileDialogCallback::OnFileDialogDismissed(CefRefPtr<CefBrowserHost> browser_host,
                                                  const std::vector<CefString>& file_paths) {
  CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(message_name_);
  CefRefPtr<CefListValue> paths = CefListValue::Create();
  for (size_t i = 0; i < file_paths.size(); ++i) paths->SetString(i, file_paths[i]);
  message->GetArgumentList()->SetList(0, paths);
  // Without the folder the current directory stays as it is, and the page still hears what
  // the user chose.
  EnterProgramFolder();
  if (!browser_host) return;
  if (CefRefPtr<CefBrowser> browser = browser_host->GetBrowser())
    browser->SendProcessMessage(PID_RENDERER, message);
}

void CreateProcessMessageDelegates(ClientHandler::ProcessMessageDelegateSet& delegates) {
  delegates.insert(new ProcessMessageDelegate());
}

}  // namespace file_dialog

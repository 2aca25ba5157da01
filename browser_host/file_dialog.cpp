#include "browser_host/file_dialog.h"

namespace file_dialog {

void CreateProcessMessageDelegates(ClientHandler::ProcessMessageDelegateSet&) {
  // The dialog delegate joins the set here; until then "dialog" requests get no reply.
}

}  // namespace file_dialog

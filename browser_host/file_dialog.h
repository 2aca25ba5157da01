// The page's file dialogs: requests of the region "dialog".
#pragma once

#include "browser_host/client_handler.h"

namespace file_dialog {

// Adds the file-dialog delegate to the client handler's set (after the page-command one).
void CreateProcessMessageDelegates(ClientHandler::ProcessMessageDelegateSet& delegates);

}  // namespace file_dialog

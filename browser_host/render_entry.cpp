// The web process's start: the same application object as the program's, renderer half.
#include "browser_host/client_app.h"

int CefRendererEntry(const CefMainArgs& args) { return CefExecuteProcess(args, new ClientApp()); }

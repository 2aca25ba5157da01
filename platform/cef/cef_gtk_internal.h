// Pieces of the program's half of the browser layer that its files share.
#pragma once

#include <webkit2/webkit2.h>

#include "platform/cef/cef_client.h"

namespace cef_internal {

// The web context of the started layer; null before CefInitialize and after CefShutdown.
WebKitWebContext* ProgramContext();

// A request as handlers see it: its URL and a copy of its headers (|headers| may be null).
CefRefPtr<CefRequest> MakeRequest(const char* url, SoupMessageHeaders* headers);

}  // namespace cef_internal

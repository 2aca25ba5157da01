// Pieces of the program's half of the browser layer that its files share.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>

#include "platform/cef/cef_client.h"

namespace cef_internal {

// The web context of the started layer; null before CefInitialize and after CefShutdown.
WebKitWebContext* ProgramContext();

// The live browser that shows |view|, and its client; false when there is none.
bool FindBrowserOfView(WebKitWebView* view, CefRefPtr<CefBrowser>& browser,
                       CefRefPtr<CefClient>& client);

// Hands the downloads of |context| to the download handler of the browser they start from;
// downloads of a browser without one are cancelled.
void ConnectDownloads(WebKitWebContext* context);
void DisconnectDownloads(WebKitWebContext* context);

// A request as handlers see it: its URL and a copy of its headers (|headers| may be null).
CefRefPtr<CefRequest> MakeRequest(const char* url, SoupMessageHeaders* headers);

// Runs |job| on the layer's IO thread, after every job posted before it. Scheme factories,
// resource handlers and the requests' decisions run there and nowhere else, so a host's resource
// callbacks never overlap, as a host written for the browser's one IO thread may assume. A slow
// handler therefore holds up the others, never the window.
void PostToIo(std::function<void()> job);

}  // namespace cef_internal

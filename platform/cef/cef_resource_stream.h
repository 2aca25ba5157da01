// The body of a scheme response as WebKit reads it: each read asks the resource handler for at
// most the bytes that read can take, so a large resource is never held whole.
#pragma once

#include <gio/gio.h>

#include "platform/cef/cef_resource.h"

namespace cef_internal {

// A new stream (one reference, the caller's) that holds |handler| and |callback| until it is
// closed or finalised. Closing before the end of the data tells the handler Cancel; no read
// reaches the handler after that.
GInputStream* NewResourceStream(CefRefPtr<CefResourceHandler> handler,
                                CefRefPtr<CefCallback> callback);

}  // namespace cef_internal

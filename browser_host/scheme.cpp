#include "browser_host/scheme.h"

#include "browser_host/host_log.h"

void RegisterCustomSchemes(CefRefPtr<CefSchemeRegistrar> registrar) {
  KVB_LOG(logDEBUG) << "RegisterCustomSchemes";
  registrar->AddCustomScheme("qnt", true, false, false);
}

void InitRegScheme() {
  KVB_LOG(logDEBUG) << "InitRegScheme";
  // The resource handler of the scheme is registered here; until it exists, WebKit refuses
  // every "qnt" request as an unknown scheme.
}

#include "browser_host/scheme.h"

#include "browser_host/host_log.h"

const char kSchemeName[] = "qnt";
const char kSchemeDomain[] = "exam";

void RegisterCustomSchemes(CefRefPtr<CefSchemeRegistrar> registrar) {
  KVB_LOG(logDEBUG) << "RegisterCustomSchemes";
  registrar->AddCustomScheme(kSchemeName, true, false, false);
}

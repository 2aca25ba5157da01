// The custom scheme "qnt": declared in every process, served in the program.
#pragma once

#include "platform/cef/cef_app.h"

extern const char kSchemeName[];    // "qnt"
extern const char kSchemeDomain[];  // "exam": the one host the program serves

void RegisterCustomSchemes(CefRefPtr<CefSchemeRegistrar> registrar);
// After the browser layer has started: the scheme's resource handler (scheme_handler.cpp).
void InitRegScheme();

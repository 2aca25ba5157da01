// The custom scheme "qnt": declared in every process, served in the program.
#pragma once

#include "platform/cef/cef_app.h"

void RegisterCustomSchemes(CefRefPtr<CefSchemeRegistrar> registrar);
// After the browser layer has started: the scheme's resource handler.
void InitRegScheme();

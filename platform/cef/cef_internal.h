// Pieces shared by the program's and the web processes' halves of the browser layer.
#pragma once

#include <string>
#include <vector>

#include "platform/cef/cef_app.h"
#include "platform/cef/cef_v8.h"

typedef struct _JSCContext JSCContext;
typedef struct _JSCValue JSCValue;

namespace cef_internal {

struct Extension {
  std::string name;
  std::string code;
  CefRefPtr<CefV8Handler> handler;
};
const std::vector<Extension>& RegisteredExtensions();

// Turns each "native function NAME();" of |code| into a function that calls
// |dispatcher|("NAME", this, ...arguments): the call's own arguments, spread, reach the
// native side as they are, with no arguments object to read them back from.
std::string BindNativeFunctions(const std::string& code, const std::string& dispatcher);

// Script contexts known to the web process, by their JavaScriptCore context.
CefRefPtr<CefV8Context> AddContext(JSCContext* context, CefRefPtr<CefBrowser> browser,
                                   CefRefPtr<CefFrame> frame);
void ForgetContext(JSCContext* context);
CefRefPtr<CefV8Context> FindContext(JSCContext* context);
JSCContext* JscOf(const CefRefPtr<CefV8Context>& context);

// A script context of its own, outside any page (for checks of the value conversions), and
// the value of a script run in it.
CefRefPtr<CefV8Context> NewStandaloneContext();
CefRefPtr<CefV8Value> Evaluate(const CefRefPtr<CefV8Context>& context, const std::string& code);

CefRefPtr<CefV8Value> WrapValue(JSCValue* value);  // takes a new reference
JSCValue* JscOf(const CefRefPtr<CefV8Value>& value);

// Messages of the layer itself between the web processes and the program; a page's message
// name never starts with this byte.
constexpr char kInternalPrefix = '\x01';
const char kFrameLoadStart[] =
    "\x01"
    "frame.loadstart";
const char kFrameLoadEnd[] =
    "\x01"
    "frame.loadend";

// Names of the hidden functions the layer puts into every script context.
const char kNativeDispatcher[] = "__kvbNative";

}  // namespace cef_internal

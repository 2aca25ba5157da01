// Pieces shared by the program's and the web processes' halves of the browser layer.
#pragma once

#include <JavaScriptCore/JSBase.h>

#include <string>
#include <vector>

#include "platform/cef/cef_app.h"
#include "platform/cef/cef_v8.h"

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

// Script contexts known to the web process, by their JavaScriptCore global context.
CefRefPtr<CefV8Context> AddContext(JSGlobalContextRef context, CefRefPtr<CefBrowser> browser,
                                   CefRefPtr<CefFrame> frame);
void ForgetContext(JSGlobalContextRef context);
CefRefPtr<CefV8Context> FindContext(JSGlobalContextRef context);
JSGlobalContextRef JscOf(const CefRefPtr<CefV8Context>& context);

// While a native function runs: its script's context is the current one, and values created
// meanwhile belong to it. The call's own arguments stay alive in the calling script, so their
// wrappers protect them only if something keeps them once the call is over.
class CallingScript {
 public:
  explicit CallingScript(JSContextRef context);
  ~CallingScript();
  CallingScript(const CallingScript&) = delete;
  CallingScript& operator=(const CallingScript&) = delete;

  CefRefPtr<CefV8Value> Argument(JSValueRef value);

 private:
  std::vector<CefRefPtr<CefV8Value>> arguments_;
};

// A script context of its own, outside any page (for checks of the value conversions), and
// the value of a script run in it.
CefRefPtr<CefV8Context> NewStandaloneContext();
CefRefPtr<CefV8Value> Evaluate(const CefRefPtr<CefV8Context>& context, const std::string& code);

JSValueRef JscOf(const CefRefPtr<CefV8Value>& value);

// Text of a script value as UTF-8 (a NUL ends it); an Error object with |message|; the value of
// |code| run in |context| under the source name |source| (null when it threw).
std::string ScriptString(JSContextRef context, JSValueRef value);
JSValueRef ScriptError(JSContextRef context, const std::string& message);
JSValueRef RunScript(JSContextRef context, const std::string& code, const std::string& source);

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

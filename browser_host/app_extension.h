// The page bridge in the web process: the "v8/app" extension script that defines cef.message
// and cef.fs, its native handler, the request names and the value conversions.
#pragma once

#include <cstdint>
#include <string>

#include "browser_host/client_app.h"
#include "platform/cef/cef_v8.h"
#include "platform/cef/cef_values.h"

extern const char kAppExtensionScript[];

// The number of the latest request of this web process; 0 before the first.
extern int g_funcId;

// The compact JSON name of a request, with its line feed:
// {"browserID":1,"frameID":2,"funcID":7,"funcName":"SysCmd.close"}\n ("funcID" is g_funcId).
std::string MakeCallbackInfoJson(int browserId, const std::string& funcName, int64_t frameId);

// Script values <-> list values.
void CopyV8ArrayToList(CefRefPtr<CefV8Value> source, CefRefPtr<CefListValue> target);
void CopyV8ValueToList(CefRefPtr<CefListValue> target, int index, CefRefPtr<CefV8Value> value);
void CopyListToV8Array(CefRefPtr<CefListValue> source, CefRefPtr<CefV8Value> target);
void CopyListValueToV8(CefRefPtr<CefV8Value> target, CefRefPtr<CefListValue> source, int index);

class ClientAppExtensionHandler : public CefV8Handler,
                                  public CefRefCounted<ClientAppExtensionHandler> {
 public:
  explicit ClientAppExtensionHandler(CefRefPtr<ClientApp> app) : app_(app) {}
  bool Execute(const CefString& name, CefRefPtr<CefV8Value> object, const CefV8ValueList& arguments,
               CefRefPtr<CefV8Value>& retval, CefString& exception) override;

 private:
  CefRefPtr<ClientApp> app_;
};

// A named message between the program and a web process, with a list of values.
#pragma once

#include "platform/cef/cef_base.h"
#include "platform/cef/cef_string.h"
#include "platform/cef/cef_values.h"

enum CefProcessId {
  PID_BROWSER,
  PID_RENDERER,
};

class CefProcessMessage : public CefRefCounted<CefProcessMessage> {
 public:
  static CefRefPtr<CefProcessMessage> Create(const CefString& name);
  // With an argument list of its own (not copied).
  static CefRefPtr<CefProcessMessage> Create(const CefString& name,
                                             CefRefPtr<CefListValue> arguments);
  CefString GetName() const { return name_; }
  CefRefPtr<CefListValue> GetArgumentList() const { return args_; }

 private:
  CefString name_;
  CefRefPtr<CefListValue> args_ = CefListValue::Create();
};

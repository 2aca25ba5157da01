// Script values and contexts of a web process, over JavaScriptCore.
#pragma once

#include <vector>

#include "platform/cef/cef_base.h"
#include "platform/cef/cef_browser.h"
#include "platform/cef/cef_string.h"

class CefV8Value;
typedef std::vector<CefRefPtr<CefV8Value>> CefV8ValueList;

class CefV8Context : public virtual CefBase {
 public:
  // The context of the script that is running (inside a native function), else the context
  // most recently entered; null when there is neither.
  static CefRefPtr<CefV8Context> GetCurrentContext();

  virtual CefRefPtr<CefBrowser> GetBrowser() = 0;
  virtual CefRefPtr<CefFrame> GetFrame() = 0;
  virtual CefRefPtr<CefV8Value> GetGlobal() = 0;
  // Values created between Enter and Exit belong to this context.
  virtual bool Enter() = 0;
  virtual bool Exit() = 0;
  virtual bool IsSame(CefRefPtr<CefV8Context> that) = 0;
};

class CefV8Value : public virtual CefBase {
 public:
  // Created in the current context (see CefV8Context::GetCurrentContext).
  static CefRefPtr<CefV8Value> CreateUndefined();
  static CefRefPtr<CefV8Value> CreateNull();
  static CefRefPtr<CefV8Value> CreateBool(bool value);
  static CefRefPtr<CefV8Value> CreateInt(int value);
  static CefRefPtr<CefV8Value> CreateDouble(double value);
  static CefRefPtr<CefV8Value> CreateString(const CefString& value);
  static CefRefPtr<CefV8Value> CreateArray(int length);

  virtual bool IsUndefined() = 0;
  virtual bool IsNull() = 0;
  virtual bool IsBool() = 0;
  // An integral number within the signed 32-bit range, not -0.
  virtual bool IsInt() = 0;
  virtual bool IsDouble() = 0;  // any number
  virtual bool IsString() = 0;
  virtual bool IsObject() = 0;
  virtual bool IsArray() = 0;
  virtual bool IsFunction() = 0;

  virtual bool GetBoolValue() = 0;
  virtual int GetIntValue() = 0;
  virtual double GetDoubleValue() = 0;
  virtual CefString GetStringValue() = 0;

  virtual int GetArrayLength() = 0;
  virtual CefRefPtr<CefV8Value> GetValue(int index) = 0;
  virtual bool SetValue(int index, CefRefPtr<CefV8Value> value) = 0;

  // Calls the function with |object| as its this; null when it threw (the exception is
  // cleared) or is not a function.
  virtual CefRefPtr<CefV8Value> ExecuteFunction(CefRefPtr<CefV8Value> object,
                                                const CefV8ValueList& arguments) = 0;
};

class CefV8Handler : public virtual CefBase {
 public:
  // A native function of an extension was called. Returns whether it handled the call; a
  // non-empty |exception| makes the page's call throw an Error with that message.
  virtual bool Execute(const CefString& name, CefRefPtr<CefV8Value> object,
                       const CefV8ValueList& arguments, CefRefPtr<CefV8Value>& retval,
                       CefString& exception) = 0;
};

// The element that took the focus.
class CefDOMNode : public virtual CefBase {
 public:
  virtual bool IsEditable() = 0;
};

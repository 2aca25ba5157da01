// Script values and contexts over JavaScriptCore's C interface. Its values are the engine's own
// references, protected while a wrapper holds them: no wrapper object per value on the engine's
// side, which a page's request crosses a dozen times.
#include <JavaScriptCore/JavaScript.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <string_view>

#include "platform/base/utf8_text.h"
#include "platform/cef/cef_internal.h"
#include "platform/cef/cef_v8.h"

namespace {

class JscContext : public CefV8Context, public CefRefCounted<JscContext> {
 public:
  JscContext(JSGlobalContextRef ctx, CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame)
      : ctx_(JSGlobalContextRetain(ctx)), browser_(browser), frame_(frame) {}
  ~JscContext() override { JSGlobalContextRelease(ctx_); }

  CefRefPtr<CefBrowser> GetBrowser() override { return browser_; }
  CefRefPtr<CefFrame> GetFrame() override { return frame_; }
  CefRefPtr<CefV8Value> GetGlobal() override;
  bool Enter() override;
  bool Exit() override;
  bool IsSame(CefRefPtr<CefV8Context> that) override {
    return that && cef_internal::JscOf(that) == ctx_;
  }
  JSGlobalContextRef jsc() const { return ctx_; }

 private:
  JSGlobalContextRef ctx_;
  CefRefPtr<CefBrowser> browser_;
  CefRefPtr<CefFrame> frame_;
};

// Every script context of a web process lives on its one thread.
std::map<JSGlobalContextRef, CefRefPtr<JscContext>>& Contexts() {
  static std::map<JSGlobalContextRef, CefRefPtr<JscContext>> map;
  return map;
}
std::vector<CefRefPtr<CefV8Context>>& Entered() {
  static std::vector<CefRefPtr<CefV8Context>> stack;
  return stack;
}
// The contexts whose scripts are calling native functions, innermost last.
std::vector<CefRefPtr<JscContext>>& Calling() {
  static std::vector<CefRefPtr<JscContext>> stack;
  return stack;
}

JscContext* CurrentContext() {
  if (!Entered().empty()) return static_cast<JscContext*>(Entered().back().get());
  return Calling().empty() ? nullptr : Calling().back().get();
}

bool JscContext::Enter() {
  Entered().push_back(this);
  return true;
}

bool JscContext::Exit() {
  for (auto it = Entered().rbegin(); it != Entered().rend(); ++it) {
    if (it->get() == this) {
      Entered().erase(std::next(it).base());
      return true;
    }
  }
  return false;
}

// Text crosses as UTF-16 on the engine's side. A NUL ends the text read from a script, as it
// always has for the program's callers; a malformed sequence either way becomes U+FFFD.
std::string Utf8Of(JSStringRef s) {
  const JSChar* c = JSStringGetCharactersPtr(s);
  const size_t n = JSStringGetLength(s);
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    char32_t cp = c[i];
    if (cp == 0) break;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && c[i + 1] >= 0xDC00 && c[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (c[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

JSStringRef NewJsString(std::string_view text) {
  std::u16string units;
  units.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      units += static_cast<char16_t>(byte);
      ++i;
      continue;
    }
    char32_t cp = 0;
    if (!NextUtf8CodePoint(text, i, cp)) {
      cp = 0xFFFD;
      ++i;
    }
    if (cp >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(cp);
    }
  }
  return JSStringCreateWithCharacters(reinterpret_cast<const JSChar*>(units.data()), units.size());
}

std::string StringOf(JSContextRef ctx, JSValueRef v) {
  JSStringRef s = JSValueToStringCopy(ctx, v, nullptr);
  if (!s) return std::string();
  std::string out = Utf8Of(s);
  JSStringRelease(s);
  return out;
}

JSValueRef MakeString(JSContextRef ctx, std::string_view text) {
  JSStringRef s = NewJsString(text);
  JSValueRef v = JSValueMakeString(ctx, s);
  JSStringRelease(s);
  return v;
}

JSStringRef LengthName() {
  static JSStringRef name = JSStringCreateWithUTF8CString("length");
  return name;
}

// Every call into the engine takes its lock, which a native function's script does not hold:
// the wrapper learns the value's type once and answers the type questions itself.
class JscValue : public CefV8Value, public CefRefCounted<JscValue> {
 public:
  // The value and its context stay alive while the wrapper does, unless |borrowed|: something
  // else holds the value until Keep() is called.
  JscValue(CefRefPtr<JscContext> context, JSValueRef v, JSType type, bool borrowed = false)
      : context_(std::move(context)), ctx_(context_->jsc()), v_(v), type_(type) {
    if (!borrowed) Keep();
  }
  JscValue(CefRefPtr<JscContext> context, JSValueRef v, bool borrowed = false)
      : JscValue(context, v, JSValueGetType(context->jsc(), v), borrowed) {}
  ~JscValue() override {
    if (protected_) JSValueUnprotect(ctx_, v_);
  }
  void Keep() {
    if (protected_ || !IsCell()) return;
    JSValueProtect(ctx_, v_);
    protected_ = true;
  }

  bool IsUndefined() override { return type_ == kJSTypeUndefined; }
  bool IsNull() override { return type_ == kJSTypeNull; }
  bool IsBool() override { return type_ == kJSTypeBoolean; }
  bool IsInt() override {
    if (type_ != kJSTypeNumber) return false;
    double d = JSValueToNumber(ctx_, v_, nullptr);
    if (!std::isfinite(d) || std::floor(d) != d) return false;
    if (d < INT32_MIN || d > INT32_MAX) return false;
    return !(d == 0 && std::signbit(d));
  }
  bool IsDouble() override { return type_ == kJSTypeNumber; }
  bool IsString() override { return type_ == kJSTypeString; }
  bool IsObject() override { return type_ == kJSTypeObject; }
  bool IsArray() override { return type_ == kJSTypeObject && JSValueIsArray(ctx_, v_); }
  bool IsFunction() override { return Function() != nullptr; }

  bool GetBoolValue() override { return JSValueToBoolean(ctx_, v_); }
  int GetIntValue() override {
    double d = JSValueToNumber(ctx_, v_, nullptr);
    if (!std::isfinite(d)) return 0;
    // The script engine's own ToInt32: modulo 2^32.
    double m = std::fmod(std::trunc(d), 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return static_cast<int32_t>(static_cast<uint32_t>(m));
  }
  double GetDoubleValue() override { return JSValueToNumber(ctx_, v_, nullptr); }
  CefString GetStringValue() override {
    if (type_ != kJSTypeString) return CefString();
    return CefString(StringOf(ctx_, v_));
  }

  int GetArrayLength() override {
    JSObjectRef o = Object();
    if (!o) return 0;
    JSValueRef len = JSObjectGetProperty(ctx_, o, LengthName(), nullptr);
    if (!len || !JSValueIsNumber(ctx_, len)) return 0;
    double d = JSValueToNumber(ctx_, len, nullptr);
    if (!(d > 0)) return 0;
    return d > INT32_MAX ? INT32_MAX : static_cast<int>(d);
  }
  CefRefPtr<CefV8Value> GetValue(int index) override {
    JSObjectRef o = Object();
    if (!o || index < 0) return nullptr;
    JSValueRef v = JSObjectGetPropertyAtIndex(ctx_, o, static_cast<unsigned>(index), nullptr);
    return v ? new JscValue(context_, v) : nullptr;
  }
  bool SetValue(int index, CefRefPtr<CefV8Value> value) override {
    JSObjectRef o = Object();
    if (!o || index < 0 || !value) return false;
    JSValueRef exception = nullptr;
    JSObjectSetPropertyAtIndex(ctx_, o, static_cast<unsigned>(index), cef_internal::JscOf(value),
                               &exception);
    return exception == nullptr;
  }

  // Called directly, not through the function's "call": a page's replacement of
  // Function.prototype.call doesn't reach here.
  CefRefPtr<CefV8Value> ExecuteFunction(CefRefPtr<CefV8Value> object,
                                        const CefV8ValueList& arguments) override {
    JSObjectRef fn = Function();
    if (!fn) return nullptr;
    JSObjectRef self = nullptr;
    if (object && !object->IsUndefined() && !object->IsNull())
      self = JSValueToObject(ctx_, cef_internal::JscOf(object), nullptr);
    std::vector<JSValueRef> params;
    params.reserve(arguments.size());
    for (const auto& a : arguments) params.push_back(cef_internal::JscOf(a));
    JSValueRef exception = nullptr;
    JSValueRef result =
        JSObjectCallAsFunction(ctx_, fn, self, params.size(), params.data(), &exception);
    if (exception || !result) return nullptr;
    return new JscValue(context_, result);
  }

  JSValueRef jsc() const { return v_; }

 private:
  bool IsCell() const {
    return type_ != kJSTypeUndefined && type_ != kJSTypeNull && type_ != kJSTypeBoolean &&
           type_ != kJSTypeNumber;
  }
  JSObjectRef Object() {
    if (type_ != kJSTypeObject) return nullptr;
    if (!object_) object_ = JSValueToObject(ctx_, v_, nullptr);
    return object_;
  }
  JSObjectRef Function() {
    JSObjectRef o = Object();
    return o && JSObjectIsFunction(ctx_, o) ? o : nullptr;
  }

  CefRefPtr<JscContext> context_;
  const JSGlobalContextRef ctx_;  // context_'s, at hand for every call
  const JSValueRef v_;
  const JSType type_;
  JSObjectRef object_ = nullptr;  // v_ as an object, once asked for
  bool protected_ = false;
};

CefRefPtr<CefV8Value> JscContext::GetGlobal() {
  return new JscValue(this, JSContextGetGlobalObject(ctx_), kJSTypeObject);
}

// A value of |type| made by |make| in the current context.
template <class F>
CefRefPtr<CefV8Value> MakeValue(JSType type, F make) {
  JscContext* context = CurrentContext();
  if (!context) return nullptr;
  return new JscValue(context, make(context->jsc()), type);
}

// The registered context of |ctx|'s global object, or one of its own for a context the web
// process does not know (a standalone one).
CefRefPtr<JscContext> ContextOf(JSContextRef ctx) {
  JSGlobalContextRef global = JSContextGetGlobalContext(ctx);
  auto it = Contexts().find(global);
  if (it != Contexts().end()) return it->second;
  return new JscContext(global, nullptr, nullptr);
}

}  // namespace

cef_internal::CallingScript::CallingScript(JSContextRef ctx) {
  Calling().push_back(ContextOf(ctx));
}

cef_internal::CallingScript::~CallingScript() {
  // Still inside the call: an argument kept beyond it is protected before the script goes on.
  for (const auto& a : arguments_)
    if (a->GetRefCt() > 1) static_cast<JscValue*>(a.get())->Keep();
  Calling().pop_back();
}

CefRefPtr<CefV8Value> cef_internal::CallingScript::Argument(JSValueRef value) {
  CefRefPtr<CefV8Value> wrapper = new JscValue(Calling().back(), value, true);
  arguments_.push_back(wrapper);
  return wrapper;
}

CefRefPtr<CefV8Context> cef_internal::AddContext(JSGlobalContextRef context,
                                                 CefRefPtr<CefBrowser> browser,
                                                 CefRefPtr<CefFrame> frame) {
  CefRefPtr<JscContext> c = new JscContext(context, browser, frame);
  Contexts()[context] = c;
  return c;
}

void cef_internal::ForgetContext(JSGlobalContextRef context) { Contexts().erase(context); }

CefRefPtr<CefV8Context> cef_internal::FindContext(JSGlobalContextRef context) {
  auto it = Contexts().find(context);
  return it == Contexts().end() ? nullptr : CefRefPtr<CefV8Context>(it->second);
}

JSGlobalContextRef cef_internal::JscOf(const CefRefPtr<CefV8Context>& context) {
  return context ? static_cast<JscContext*>(context.get())->jsc() : nullptr;
}

JSValueRef cef_internal::JscOf(const CefRefPtr<CefV8Value>& value) {
  return value ? static_cast<JscValue*>(value.get())->jsc() : nullptr;
}

std::string cef_internal::ScriptString(JSContextRef context, JSValueRef value) {
  return StringOf(context, value);
}

JSValueRef cef_internal::ScriptError(JSContextRef context, const std::string& message) {
  JSValueRef text = MakeString(context, message);
  return JSObjectMakeError(context, 1, &text, nullptr);
}

JSValueRef cef_internal::RunScript(JSContextRef context, const std::string& code,
                                   const std::string& source) {
  JSStringRef script = NewJsString(code);
  JSStringRef url = source.empty() ? nullptr : NewJsString(source);
  JSValueRef result = JSEvaluateScript(context, script, nullptr, url, 1, nullptr);
  if (url) JSStringRelease(url);
  JSStringRelease(script);
  return result;
}

CefRefPtr<CefV8Context> cef_internal::NewStandaloneContext() {
  JSGlobalContextRef ctx = JSGlobalContextCreate(nullptr);
  CefRefPtr<CefV8Context> c = new JscContext(ctx, nullptr, nullptr);
  JSGlobalContextRelease(ctx);
  return c;
}

CefRefPtr<CefV8Value> cef_internal::Evaluate(const CefRefPtr<CefV8Context>& context,
                                             const std::string& code) {
  if (!context) return nullptr;
  auto* c = static_cast<JscContext*>(context.get());
  JSValueRef v = RunScript(c->jsc(), code, std::string());
  return v ? new JscValue(c, v) : nullptr;
}

CefRefPtr<CefV8Context> CefV8Context::GetCurrentContext() {
  if (!Calling().empty()) return Calling().back();
  if (!Entered().empty()) return Entered().back();
  return nullptr;
}

CefRefPtr<CefV8Value> CefV8Value::CreateUndefined() {
  return MakeValue(kJSTypeUndefined, [](JSContextRef c) { return JSValueMakeUndefined(c); });
}
CefRefPtr<CefV8Value> CefV8Value::CreateNull() {
  return MakeValue(kJSTypeNull, [](JSContextRef c) { return JSValueMakeNull(c); });
}
CefRefPtr<CefV8Value> CefV8Value::CreateBool(bool value) {
  return MakeValue(kJSTypeBoolean,
                   [value](JSContextRef c) { return JSValueMakeBoolean(c, value); });
}
CefRefPtr<CefV8Value> CefV8Value::CreateInt(int value) {
  return MakeValue(kJSTypeNumber, [value](JSContextRef c) { return JSValueMakeNumber(c, value); });
}
CefRefPtr<CefV8Value> CefV8Value::CreateDouble(double value) {
  return MakeValue(kJSTypeNumber, [value](JSContextRef c) { return JSValueMakeNumber(c, value); });
}
CefRefPtr<CefV8Value> CefV8Value::CreateString(const CefString& value) {
  const std::string& s = value.ToString();
  return MakeValue(kJSTypeString, [&s](JSContextRef c) { return MakeString(c, s); });
}
CefRefPtr<CefV8Value> CefV8Value::CreateArray(int length) {
  JscContext* context = CurrentContext();
  if (!context) return nullptr;
  JSContextRef c = context->jsc();
  // Built natively: a page may have replaced the global Array.
  JSObjectRef arr = JSObjectMakeArray(c, 0, nullptr, nullptr);
  if (!arr) return new JscValue(context, JSValueMakeUndefined(c), kJSTypeUndefined);
  JSObjectSetProperty(c, arr, LengthName(), JSValueMakeNumber(c, length < 0 ? 0 : length),
                      kJSPropertyAttributeNone, nullptr);
  return new JscValue(context, arr, kJSTypeObject);
}

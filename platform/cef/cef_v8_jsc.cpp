// Script values and contexts over JavaScriptCore's GLib interface.
#include <jsc/jsc.h>

#include <cmath>
#include <cstdint>
#include <map>

#include "platform/cef/cef_internal.h"
#include "platform/cef/cef_v8.h"

namespace {

class JscContext : public CefV8Context, public CefRefCounted<JscContext> {
 public:
  JscContext(JSCContext* ctx, CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame)
      : ctx_(JSC_CONTEXT(g_object_ref(ctx))), browser_(browser), frame_(frame) {}
  ~JscContext() override { g_object_unref(ctx_); }

  CefRefPtr<CefBrowser> GetBrowser() override { return browser_; }
  CefRefPtr<CefFrame> GetFrame() override { return frame_; }
  CefRefPtr<CefV8Value> GetGlobal() override;
  bool Enter() override;
  bool Exit() override;
  bool IsSame(CefRefPtr<CefV8Context> that) override {
    return that && cef_internal::JscOf(that) == ctx_;
  }
  JSCContext* jsc() const { return ctx_; }

 private:
  JSCContext* ctx_;
  CefRefPtr<CefBrowser> browser_;
  CefRefPtr<CefFrame> frame_;
};

// Every script context of a web process lives on its one thread.
std::map<JSCContext*, CefRefPtr<JscContext>>& Contexts() {
  static std::map<JSCContext*, CefRefPtr<JscContext>> map;
  return map;
}
std::vector<CefRefPtr<CefV8Context>>& Entered() {
  static std::vector<CefRefPtr<CefV8Context>> stack;
  return stack;
}

JSCContext* CurrentJsc() {
  if (!Entered().empty()) return cef_internal::JscOf(Entered().back());
  return jsc_context_get_current();
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

class JscValue : public CefV8Value, public CefRefCounted<JscValue> {
 public:
  explicit JscValue(JSCValue* v) : v_(v) {}  // adopts the reference
  ~JscValue() override { g_object_unref(v_); }

  bool IsUndefined() override { return jsc_value_is_undefined(v_); }
  bool IsNull() override { return jsc_value_is_null(v_); }
  bool IsBool() override { return jsc_value_is_boolean(v_); }
  bool IsInt() override {
    if (!jsc_value_is_number(v_)) return false;
    double d = jsc_value_to_double(v_);
    if (!std::isfinite(d) || std::floor(d) != d) return false;
    if (d < INT32_MIN || d > INT32_MAX) return false;
    return !(d == 0 && std::signbit(d));
  }
  bool IsDouble() override { return jsc_value_is_number(v_); }
  bool IsString() override { return jsc_value_is_string(v_); }
  bool IsObject() override { return jsc_value_is_object(v_); }
  bool IsArray() override { return jsc_value_is_array(v_); }
  bool IsFunction() override { return jsc_value_is_function(v_); }

  bool GetBoolValue() override { return jsc_value_to_boolean(v_); }
  int GetIntValue() override { return jsc_value_to_int32(v_); }
  double GetDoubleValue() override { return jsc_value_to_double(v_); }
  CefString GetStringValue() override {
    if (!jsc_value_is_string(v_)) return CefString();
    gchar* s = jsc_value_to_string(v_);
    CefString out(s ? s : "");
    g_free(s);
    return out;
  }

  int GetArrayLength() override {
    if (!jsc_value_is_object(v_)) return 0;
    JSCValue* len = jsc_value_object_get_property(v_, "length");
    int n = jsc_value_is_number(len) ? jsc_value_to_int32(len) : 0;
    g_object_unref(len);
    return n < 0 ? 0 : n;
  }
  CefRefPtr<CefV8Value> GetValue(int index) override {
    if (!jsc_value_is_object(v_) || index < 0) return nullptr;
    return new JscValue(jsc_value_object_get_property_at_index(v_, index));
  }
  bool SetValue(int index, CefRefPtr<CefV8Value> value) override {
    if (!jsc_value_is_object(v_) || index < 0 || !value) return false;
    jsc_value_object_set_property_at_index(v_, index, cef_internal::JscOf(value));
    return true;
  }

  CefRefPtr<CefV8Value> ExecuteFunction(CefRefPtr<CefV8Value> object,
                                        const CefV8ValueList& arguments) override {
    if (!jsc_value_is_function(v_)) return nullptr;
    JSCContext* ctx = jsc_value_get_context(v_);
    std::vector<JSCValue*> params;
    JSCValue* self = object ? cef_internal::JscOf(object) : nullptr;
    JSCValue* undef = nullptr;
    if (!self) self = undef = jsc_value_new_undefined(ctx);
    params.push_back(self);
    for (const auto& a : arguments) params.push_back(cef_internal::JscOf(a));
    jsc_context_clear_exception(ctx);
    JSCValue* result = jsc_value_object_invoke_methodv(v_, "call", params.size(), params.data());
    if (undef) g_object_unref(undef);
    if (jsc_context_get_exception(ctx)) {
      jsc_context_clear_exception(ctx);
      if (result) g_object_unref(result);
      return nullptr;
    }
    return result ? new JscValue(result) : nullptr;
  }

  JSCValue* jsc() const { return v_; }

 private:
  JSCValue* v_;
};

CefRefPtr<CefV8Value> JscContext::GetGlobal() {
  return new JscValue(jsc_context_get_global_object(ctx_));
}

template <class F>
CefRefPtr<CefV8Value> MakeValue(F make) {
  JSCContext* ctx = CurrentJsc();
  if (!ctx) return nullptr;
  return new JscValue(make(ctx));
}

}  // namespace

CefRefPtr<CefV8Context> cef_internal::AddContext(JSCContext* context, CefRefPtr<CefBrowser> browser,
                                                 CefRefPtr<CefFrame> frame) {
  CefRefPtr<JscContext> c = new JscContext(context, browser, frame);
  Contexts()[context] = c;
  return c;
}

void cef_internal::ForgetContext(JSCContext* context) { Contexts().erase(context); }

CefRefPtr<CefV8Context> cef_internal::FindContext(JSCContext* context) {
  auto it = Contexts().find(context);
  return it == Contexts().end() ? nullptr : CefRefPtr<CefV8Context>(it->second);
}

JSCContext* cef_internal::JscOf(const CefRefPtr<CefV8Context>& context) {
  return context ? static_cast<JscContext*>(context.get())->jsc() : nullptr;
}

CefRefPtr<CefV8Value> cef_internal::WrapValue(JSCValue* value) {
  return value ? new JscValue(JSC_VALUE(g_object_ref(value))) : nullptr;
}

JSCValue* cef_internal::JscOf(const CefRefPtr<CefV8Value>& value) {
  return value ? static_cast<JscValue*>(value.get())->jsc() : nullptr;
}

CefRefPtr<CefV8Context> cef_internal::NewStandaloneContext() {
  JSCContext* ctx = jsc_context_new();
  CefRefPtr<CefV8Context> c = new JscContext(ctx, nullptr, nullptr);
  g_object_unref(ctx);
  return c;
}

CefRefPtr<CefV8Value> cef_internal::Evaluate(const CefRefPtr<CefV8Context>& context,
                                             const std::string& code) {
  JSCContext* ctx = JscOf(context);
  if (!ctx) return nullptr;
  JSCValue* v = jsc_context_evaluate(ctx, code.c_str(), code.size());
  return v ? new JscValue(v) : nullptr;
}

CefRefPtr<CefV8Context> CefV8Context::GetCurrentContext() {
  JSCContext* running = jsc_context_get_current();
  if (running) {
    CefRefPtr<CefV8Context> known = cef_internal::FindContext(running);
    if (known) return known;
    return new JscContext(running, nullptr, nullptr);
  }
  if (!Entered().empty()) return Entered().back();
  return nullptr;
}

CefRefPtr<CefV8Value> CefV8Value::CreateUndefined() {
  return MakeValue([](JSCContext* c) { return jsc_value_new_undefined(c); });
}
CefRefPtr<CefV8Value> CefV8Value::CreateNull() {
  return MakeValue([](JSCContext* c) { return jsc_value_new_null(c); });
}
CefRefPtr<CefV8Value> CefV8Value::CreateBool(bool value) {
  return MakeValue([value](JSCContext* c) { return jsc_value_new_boolean(c, value); });
}
CefRefPtr<CefV8Value> CefV8Value::CreateInt(int value) {
  return MakeValue([value](JSCContext* c) { return jsc_value_new_number(c, value); });
}
CefRefPtr<CefV8Value> CefV8Value::CreateDouble(double value) {
  return MakeValue([value](JSCContext* c) { return jsc_value_new_number(c, value); });
}
CefRefPtr<CefV8Value> CefV8Value::CreateString(const CefString& value) {
  const std::string& s = value.ToString();
  return MakeValue([&s](JSCContext* c) {
    GBytes* bytes = g_bytes_new(s.data(), s.size());
    JSCValue* v = jsc_value_new_string_from_bytes(c, bytes);
    g_bytes_unref(bytes);
    return v;
  });
}
CefRefPtr<CefV8Value> CefV8Value::CreateArray(int length) {
  return MakeValue([length](JSCContext* c) {
    // Built natively: a page may have replaced the global Array.
    JSCValue* arr = jsc_value_new_array(c, G_TYPE_NONE);
    JSCValue* n = jsc_value_new_number(c, length < 0 ? 0 : length);
    jsc_value_object_set_property(arr, "length", n);
    g_object_unref(n);
    return arr;
  });
}

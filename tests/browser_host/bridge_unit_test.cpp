// The pure pieces of the page bridge, without a display.
#include <JavaScriptCore/JavaScript.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <json/json.h>

#include <climits>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "browser_host/app_extension.h"
#include "browser_host/binding_extension.h"
#include "browser_host/bridge_text.h"
#include "browser_host/text_convert.h"
#include "browser_host/key_filter.h"
#include "browser_host/task_pool.h"
#include "platform/cef/cef_internal.h"

// The engine's own full collection, exported for checks like this one.
extern "C" void JSSynchronousGarbageCollectForDebugging(JSContextRef);

using binding_extension::BindingCommand;
using binding_extension::ParseBindingCommand;
using binding_extension::ParseCallbackInfo;
using bridge_text::SplitAtDot;

TEST(RequestName, IsCompactSortedJsonWithALineFeed) {
  int saved = g_funcId;
  g_funcId = 7;
  std::string name = MakeCallbackInfoJson(1, "SysCmd.close", 2);
  EXPECT_EQ(name, "{\"browserID\":1,\"frameID\":2,\"funcID\":7,\"funcName\":\"SysCmd.close\"}\n");
  EXPECT_EQ(name.size(), 65u);
  g_funcId = -3;
  EXPECT_EQ(MakeCallbackInfoJson(-1, "a\"b\\c\n中", 9007199254740993LL),
            "{\"browserID\":-1,\"frameID\":9007199254740993,\"funcID\":-3,"
            "\"funcName\":\"a\\\"b\\\\c\\n中\"}\n");
  g_funcId = saved;
}

TEST(RequestName, ParsingAcceptsOnlyAnIntegerIdAndATextName) {
  int id = 0;
  std::string fn;
  EXPECT_TRUE(ParseCallbackInfo(
      "{\"browserID\":1,\"frameID\":2,\"funcID\":-1,\"funcName\":\"a.b\"}\n", id, fn));
  EXPECT_EQ(id, -1);
  EXPECT_EQ(fn, "a.b");
  for (const char* bad :
       {"", "not json", "[1,2]", "{\"funcName\":\"a.b\"}", "{\"funcID\":3}",
        "{\"funcID\":\"3\",\"funcName\":\"a.b\"}", "{\"funcID\":3.5,\"funcName\":\"a.b\"}",
        "{\"funcID\":3.0,\"funcName\":\"a.b\"}", "{\"funcID\":99999999999,\"funcName\":\"a.b\"}",
        "{\"funcID\":true,\"funcName\":\"a.b\"}", "{\"funcID\":3,\"funcName\":5}",
        "{\"funcID\":null,\"funcName\":\"a.b\"}"})
    EXPECT_FALSE(ParseCallbackInfo(bad, id, fn)) << bad;
}

TEST(SplitAtDot, KeepsEmptyPiecesAndTrimsTheWhitespaceSet) {
  using bridge_text::TrimWhitespace;
  std::vector<std::string> p;
  SplitAtDot("a", p);
  EXPECT_EQ(p, std::vector<std::string>{"a"});
  p.clear();
  SplitAtDot("a.", p);
  EXPECT_EQ(p, (std::vector<std::string>{"a", ""}));
  p.clear();
  SplitAtDot("a..b", p);
  EXPECT_EQ(p, (std::vector<std::string>{"a", "", "b"}));
  p.clear();
  SplitAtDot(" \t\u3000SysCmd\u00A0 .\u2000close\u200C\u205F", p);
  EXPECT_EQ(p, (std::vector<std::string>{"SysCmd", "close"}));
  // U+200B is not in the set.
  EXPECT_EQ(TrimWhitespace("\u200Bx\u200B"), "\u200Bx\u200B");
  EXPECT_EQ(TrimWhitespace("\u180E\u0085\u2028\u2029\u202F x \u200A"), "x");
  EXPECT_EQ(TrimWhitespace("\u1680\u3000"), "");
  // Characters that only share bytes with the set stay.
  EXPECT_EQ(TrimWhitespace("\u3001x\u2010"), "\u3001x\u2010");
}

TEST(RequestName, TheWriterGivesWhatTheJsonWriterGives) {
  Json::StreamWriterBuilder b;
  b["indentation"] = "";
  b["emitUTF8"] = true;
  std::vector<std::string> names = {"", "SysCmd.close", "中文.命令", std::string("a\0b", 3)};
  for (int c = 0; c < 256; ++c) names.push_back("x" + std::string(1, static_cast<char>(c)) + "y");
  for (const std::string& name : names) {
    for (int64_t frame : {int64_t{0}, int64_t{-1}, INT64_MAX, INT64_MIN}) {
      Json::Value root(Json::objectValue);
      root["browserID"] = INT_MIN;
      root["frameID"] = Json::Int64(frame);
      root["funcID"] = INT_MAX;
      root["funcName"] = name;
      EXPECT_EQ(bridge_text::WriteRequestName(INT_MIN, frame, INT_MAX, name),
                Json::writeString(b, root) + "\n");
    }
  }
}

TEST(RequestName, TheShortReadingAgreesWithTheFullOne) {
  // Whatever the short reading takes must read the same in full; what it leaves, the full
  // reading decides.
  const std::string taken[] = {
      "{\"browserID\":1,\"frameID\":2,\"funcID\":7,\"funcName\":\"SysCmd.close\"}\n",
      "{\"browserID\":-1,\"frameID\":0,\"funcID\":-2147483648,\"funcName\":\"中\"}",
      "{\"browserID\":1,\"frameID\":2,\"funcID\":0,\"funcName\":\"\"}\n"};
  for (const std::string& name : taken) {
    int id = 0, fullId = 1;
    std::string fn, fullFn = "x";
    ASSERT_TRUE(bridge_text::ReadRequestName(name, id, fn)) << name;
    ASSERT_TRUE(ParseCallbackInfo(name, fullId, fullFn)) << name;
    Json::Value root;
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    ASSERT_TRUE(reader->parse(name.data(), name.data() + name.size(), &root, nullptr));
    EXPECT_EQ(id, root["funcID"].asInt());
    EXPECT_EQ(fn, root["funcName"].asString());
  }
  const std::string left[] = {
      "{\"browserID\":1,\"frameID\":2,\"funcID\":07,\"funcName\":\"a.b\"}",
      "{\"browserID\":1,\"frameID\":2,\"funcID\":2147483648,\"funcName\":\"a.b\"}",
      "{\"browserID\":1,\"frameID\":2,\"funcID\":3,\"funcName\":\"a\\u002eb\"}",
      "{\"browserID\":1,\"frameID\":2,\"funcID\":3,\"funcName\":\"a.b\"} ",
      "{\"browserID\":1, \"frameID\":2,\"funcID\":3,\"funcName\":\"a.b\"}",
      "{\"browserID\":1,\"frameID\":2,\"funcID\":3,\"funcName\":\"a.b\"}\n\n"};
  for (const std::string& name : left) {
    int id = 0;
    std::string fn;
    EXPECT_FALSE(bridge_text::ReadRequestName(name, id, fn)) << name;
  }
  // Escaped, the name still reads through the full reading.
  int id = 0;
  std::string fn;
  ASSERT_TRUE(ParseCallbackInfo(left[2], id, fn));
  EXPECT_EQ(fn, "a.b");
  EXPECT_FALSE(ParseCallbackInfo(left[1], id, fn));
}

TEST(RequestName, ValidTextIsLeftAsItIsAndBrokenTextAsTheWideRoundTripLeavesIt) {
  using bridge_text::AsWideRoundTrip;
  for (const std::string& text : {std::string("SysCmd.close"), std::string("中文"),
                                  std::string("a\0b", 3), std::string("ok\xffrest"),
                                  std::string("\xc3"), std::string("\xed\xa0\x80x")})
    EXPECT_EQ(AsWideRoundTrip(text), WStringToString(StringToWString(text, CP_ACP), CP_ACP));
}

namespace {

CefRefPtr<CefProcessMessage> Message(const std::string& funcName, int funcId,
                                     std::vector<std::string> args) {
  int saved = g_funcId;
  g_funcId = funcId;
  CefRefPtr<CefProcessMessage> m = CefProcessMessage::Create(MakeCallbackInfoJson(1, funcName, 2));
  g_funcId = saved;
  for (size_t i = 0; i < args.size(); ++i) m->GetArgumentList()->SetString(i, args[i]);
  return m;
}

}  // namespace

TEST(PageCommand, AcceptedCommandsGiveTheirFourTexts) {
  BindingCommand c;
  ASSERT_TRUE(ParseBindingCommand(Message(" SysCmd . close ", 4, {"{}", "1"}), c));
  EXPECT_EQ(c.region, "SysCmd");
  EXPECT_EQ(c.command, "close");
  EXPECT_EQ(c.params, "{}");
  EXPECT_EQ(c.type, "1");
  ASSERT_TRUE(ParseBindingCommand(Message("app.", -1, {"p", "0"}), c));
  EXPECT_EQ(c.region, "app");
  EXPECT_EQ(c.command, "");
  ASSERT_TRUE(ParseBindingCommand(Message(".close", 2, {"p", "0"}), c));
  EXPECT_EQ(c.region, "");
  ASSERT_TRUE(ParseBindingCommand(Message("Dialog.fileopen", 2, {"p", "0"}), c));
  EXPECT_EQ(c.region, "Dialog");
  // Entries that are no text read as empty text.
  CefRefPtr<CefProcessMessage> m = Message("a.b", 3, {});
  m->GetArgumentList()->SetInt(0, 5);
  m->GetArgumentList()->SetBool(1, true);
  ASSERT_TRUE(ParseBindingCommand(m, c));
  EXPECT_EQ(c.params, "");
  EXPECT_EQ(c.type, "");
}

TEST(PageCommand, RefusedCommands) {
  BindingCommand c;
  EXPECT_FALSE(ParseBindingCommand(Message("a.b", 0, {"p", "0"}), c));
  EXPECT_FALSE(ParseBindingCommand(Message("", 3, {"p", "0"}), c));
  EXPECT_FALSE(ParseBindingCommand(Message("abc", 3, {"p", "0"}), c));
  EXPECT_FALSE(ParseBindingCommand(Message("a.b.c", 3, {"p", "0"}), c));
  EXPECT_FALSE(ParseBindingCommand(Message(" dialog .x", 3, {"p", "0"}), c));
  EXPECT_FALSE(ParseBindingCommand(Message("a.b", 3, {"p"}), c));
  EXPECT_FALSE(ParseBindingCommand(Message("a.b", 3, {"p", "0", "x"}), c));
  EXPECT_FALSE(ParseBindingCommand(
      CefProcessMessage::Create("{\"funcID\":\"1\",\"funcName\":\"a.b\"}\n"), c));
  EXPECT_FALSE(
      ParseBindingCommand(CefProcessMessage::Create("ClientRenderer.FocusedNodeChanged"), c));
}

namespace {

class CaughtReply : public CefProcessMessageReply, public CefRefCounted<CaughtReply> {
 public:
  bool Send(CefRefPtr<CefProcessMessage> reply) override {
    sent = reply;
    return true;
  }
  CefRefPtr<CefProcessMessage> sent;
};

}  // namespace

TEST(PageCommand, ACommandNoWorkerCanTakeIsAnsweredUnderItsName) {
  TaskPool none(std::chrono::seconds(10), [](std::function<void()>) { return false; });
  CefRefPtr<CaughtReply> reply = new CaughtReply();
  const std::string name = MakeCallbackInfoJson(1, "SysCmd.close", 2);
  binding_extension::QueueBindingCommand(none, binding_extension::ReplyRoute{nullptr, reply},
                                         name, BindingCommand{"SysCmd", "close", "", "0"});
  ASSERT_TRUE(reply->sent);
  EXPECT_EQ(reply->sent->GetName().ToString(), name);
  EXPECT_EQ(reply->sent->GetArgumentList()->GetString(0).ToString(),
            "{\"data\":\"\",\"flag\":0,\"flagMsg\":\"响应消息命令时出现异常\"}");
}

TEST(KeyFilter, BackspaceOutsideFieldsAndSystemF5) {
  CefKeyEvent e;
  e.windows_key_code = 8;
  e.type = KEYEVENT_RAWKEYDOWN;
  EXPECT_EQ(FilterKey(e), KeyFilterDecision::kSwallowBackspace);
  e.focus_on_editable_field = 1;
  EXPECT_EQ(FilterKey(e), KeyFilterDecision::kPass);
  e.focus_on_editable_field = 0;
  for (auto t : {KEYEVENT_KEYUP, KEYEVENT_CHAR, KEYEVENT_KEYDOWN}) {
    e.type = t;
    EXPECT_EQ(FilterKey(e), KeyFilterDecision::kPass);
  }
  e.windows_key_code = 116;
  e.type = KEYEVENT_RAWKEYDOWN;
  EXPECT_EQ(FilterKey(e), KeyFilterDecision::kPass);
  e.is_system_key = 1;
  for (auto t : {KEYEVENT_RAWKEYDOWN, KEYEVENT_KEYUP, KEYEVENT_CHAR}) {
    e.type = t;
    EXPECT_EQ(FilterKey(e), KeyFilterDecision::kSwallowF5);
  }
  e.focus_on_editable_field = 1;
  EXPECT_EQ(FilterKey(e), KeyFilterDecision::kSwallowF5);
}

TEST(KeyFilter, KeyCodesOfCommonKeys) {
  EXPECT_EQ(CefWindowsKeyCodeFromKeyval(0xff08), 8);    // BackSpace
  EXPECT_EQ(CefWindowsKeyCodeFromKeyval(0xffc2), 116);  // F5
  EXPECT_EQ(CefWindowsKeyCodeFromKeyval('a'), 65);
  EXPECT_EQ(CefWindowsKeyCodeFromKeyval('Z'), 90);
  EXPECT_EQ(CefWindowsKeyCodeFromKeyval('7'), 55);
  EXPECT_EQ(CefWindowsKeyCodeFromKeyval(0xff0d), 13);  // Return
}

TEST(ListValues, TravelBetweenProcessesUnchanged) {
  CefRefPtr<CefListValue> l = CefListValue::Create();
  l->SetString(0, "text 中");
  l->SetBool(1, true);
  l->SetInt(2, -5);
  l->SetDouble(3, 2.5);
  CefRefPtr<CefListValue> sub = CefListValue::Create();
  sub->SetString(0, "in");
  l->SetList(4, sub);
  l->SetNull(5);
  l->SetString(6, std::string("bad\xff", 4));
  GVariant* v = g_variant_ref_sink(CefListToVariant(l));
  CefRefPtr<CefListValue> back = CefListFromVariant(v);
  g_variant_unref(v);
  ASSERT_EQ(back->GetSize(), 7u);
  EXPECT_EQ(back->GetString(0).ToString(), "text 中");
  EXPECT_TRUE(back->GetBool(1));
  EXPECT_EQ(back->GetInt(2), -5);
  EXPECT_EQ(back->GetDouble(3), 2.5);
  ASSERT_EQ(back->GetType(4), VTYPE_LIST);
  EXPECT_EQ(back->GetList(4)->GetString(0).ToString(), "in");
  EXPECT_EQ(back->GetType(5), VTYPE_NULL);
  EXPECT_EQ(back->GetString(6).ToString(), "bad\xEF\xBF\xBD");
  EXPECT_EQ(back->GetString(1).ToString(), "");  // another kind reads as empty text
}

TEST(ValueConversion, ScriptArraysToListsAndBack) {
  CefRefPtr<CefV8Context> ctx = cef_internal::NewStandaloneContext();
  ctx->Enter();
  CefRefPtr<CefV8Value> a = cef_internal::Evaluate(
      ctx,
      "['s', true, 5, 1.5, 3000000000, -0, [1, ['x']], {}, null, undefined, function(){}, "
      "-2147483648, 2147483648]");
  ASSERT_TRUE(a && a->IsArray());
  CefRefPtr<CefListValue> l = CefListValue::Create();
  CopyV8ArrayToList(a, l);
  ASSERT_EQ(l->GetSize(), 13u);
  EXPECT_EQ(l->GetType(0), VTYPE_STRING);
  EXPECT_EQ(l->GetType(1), VTYPE_BOOL);
  EXPECT_EQ(l->GetType(2), VTYPE_INT);
  EXPECT_EQ(l->GetType(3), VTYPE_DOUBLE);
  EXPECT_EQ(l->GetType(4), VTYPE_DOUBLE);
  EXPECT_EQ(l->GetType(5), VTYPE_DOUBLE);
  ASSERT_EQ(l->GetType(6), VTYPE_LIST);
  EXPECT_EQ(l->GetList(6)->GetType(1), VTYPE_LIST);
  for (int i = 7; i <= 10; ++i) EXPECT_EQ(l->GetType(i), VTYPE_NULL) << i;
  EXPECT_EQ(l->GetType(11), VTYPE_INT);
  EXPECT_EQ(l->GetInt(11), -2147483648);
  EXPECT_EQ(l->GetType(12), VTYPE_DOUBLE);

  CefRefPtr<CefV8Value> back = CefV8Value::CreateArray(static_cast<int>(l->GetSize()));
  CopyListToV8Array(l, back);
  EXPECT_EQ(back->GetArrayLength(), 13);
  EXPECT_EQ(back->GetValue(0)->GetStringValue().ToString(), "s");
  EXPECT_TRUE(back->GetValue(1)->GetBoolValue());
  EXPECT_EQ(back->GetValue(2)->GetIntValue(), 5);
  EXPECT_EQ(back->GetValue(3)->GetDoubleValue(), 1.5);
  EXPECT_EQ(back->GetValue(6)->GetArrayLength(), 2);
  EXPECT_EQ(back->GetValue(6)->GetValue(1)->GetValue(0)->GetStringValue().ToString(), "x");
  EXPECT_TRUE(back->GetValue(7)->IsNull());
  CefRefPtr<CefV8Value> empty = cef_internal::Evaluate(ctx, "[]");
  CefRefPtr<CefListValue> none = CefListValue::Create();
  CopyV8ArrayToList(empty, none);
  EXPECT_EQ(none->GetSize(), 0u);
  ctx->Exit();
}

TEST(ValueConversion, CallingAFunctionWithItsReceiver) {
  CefRefPtr<CefV8Context> ctx = cef_internal::NewStandaloneContext();
  ctx->Enter();
  CefRefPtr<CefV8Value> f = cef_internal::Evaluate(ctx, "(function(a){return this.k + a;})");
  CefRefPtr<CefV8Value> self = cef_internal::Evaluate(ctx, "({k: 40})");
  CefRefPtr<CefV8Value> r = f->ExecuteFunction(self, {CefV8Value::CreateInt(2)});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->GetIntValue(), 42);
  CefRefPtr<CefV8Value> thrower =
      cef_internal::Evaluate(ctx, "(function(){throw new Error('x');})");
  EXPECT_FALSE(thrower->ExecuteFunction(self, {}));
  ctx->Exit();
}

TEST(ValueConversion, CallsSkipAPageReplacedCall) {
  CefRefPtr<CefV8Context> ctx = cef_internal::NewStandaloneContext();
  ctx->Enter();
  cef_internal::Evaluate(ctx, "Function.prototype.call = function(){ throw new Error('no'); };");
  CefRefPtr<CefV8Value> f = cef_internal::Evaluate(ctx, "(function(a){return a + 1;})");
  CefRefPtr<CefV8Value> r = f->ExecuteFunction(nullptr, {CefV8Value::CreateInt(41)});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->GetIntValue(), 42);
  ctx->Exit();
}

TEST(ValueConversion, TextCrossesAsUtf8BothWays) {
  CefRefPtr<CefV8Context> ctx = cef_internal::NewStandaloneContext();
  ctx->Enter();
  // Characters outside the basic plane are surrogate pairs in the script.
  CefRefPtr<CefV8Value> s = CefV8Value::CreateString("a中\xF0\x9F\x98\x80");
  CefRefPtr<CefV8Value> len =
      cef_internal::Evaluate(ctx, "(function(s){return s.length;})")->ExecuteFunction(nullptr, {s});
  EXPECT_EQ(len->GetIntValue(), 4);
  EXPECT_EQ(s->GetStringValue().ToString(), "a中\xF0\x9F\x98\x80");
  // Broken text in, replacement characters out; a lone surrogate from a script likewise.
  EXPECT_EQ(CefV8Value::CreateString("ok\xFFrest\xC3")->GetStringValue().ToString(),
            "ok\xEF\xBF\xBDrest\xEF\xBF\xBD");
  EXPECT_EQ(cef_internal::Evaluate(ctx, "'x\\uD800y'")->GetStringValue().ToString(),
            "x\xEF\xBF\xBDy");
  // A NUL from a script ends the text, as the program's readers expect.
  EXPECT_EQ(cef_internal::Evaluate(ctx, "'a\\u0000b'")->GetStringValue().ToString(), "a");
  EXPECT_EQ(cef_internal::Evaluate(ctx, "5")->GetStringValue().ToString(), "");
  ctx->Exit();
}

TEST(ValueConversion, ValuesKeepTheirContextAndObjectsAlive) {
  CefRefPtr<CefV8Value> kept;
  JSGlobalContextRef global = nullptr;
  {
    CefRefPtr<CefV8Context> ctx = cef_internal::NewStandaloneContext();
    global = cef_internal::JscOf(ctx);
    kept = cef_internal::Evaluate(
        ctx, "(function(){ var o = {n: 7}; return function(){ return o.n; }; })()");
  }
  // Only the value holds the context now; garbage and a full collection later, the function
  // and what it closes over are still there.
  JSStringRef garbage = JSStringCreateWithUTF8CString(
      "var a = []; for (var i = 0; i < 100000; ++i) a.push({i: i}); a = null;");
  JSEvaluateScript(global, garbage, nullptr, nullptr, 1, nullptr);
  JSStringRelease(garbage);
  JSSynchronousGarbageCollectForDebugging(global);
  ASSERT_TRUE(kept->IsFunction());
  CefRefPtr<CefV8Value> r = kept->ExecuteFunction(nullptr, {});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->GetIntValue(), 7);
}

TEST(ValueConversion, ArgumentsKeptBeyondTheCallStayAlive) {
  CefRefPtr<CefV8Context> ctx = cef_internal::NewStandaloneContext();
  JSGlobalContextRef global = cef_internal::JscOf(ctx);
  CefRefPtr<CefV8Value> kept;
  {
    cef_internal::CallingScript calling(global);
    kept = calling.Argument(cef_internal::RunScript(global, "(function(){ return 9; })", ""));
    calling.Argument(cef_internal::RunScript(global, "({dropped: true})", ""));
    EXPECT_TRUE(CefV8Context::GetCurrentContext()->IsSame(ctx));
  }
  // Nothing in the script holds the function any more: only the wrapper kept after the call.
  JSSynchronousGarbageCollectForDebugging(global);
  CefRefPtr<CefV8Value> r = kept->ExecuteFunction(nullptr, {});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->GetIntValue(), 9);
  EXPECT_FALSE(CefV8Context::GetCurrentContext());
}

TEST(ExtensionScript, NativeDeclarationsBecomeCallsOfTheDispatcher) {
  std::string bound = cef_internal::BindNativeFunctions(
      "f=function(a){native function readFileAll();return readFileAll(a);};", "D");
  EXPECT_EQ(bound,
            "f=function(a){function readFileAll(){return D(\"readFileAll\",this,...arguments);}"
            "return readFileAll(a);};");
  std::string script = kAppExtensionScript;
  EXPECT_EQ(script.find('\n'), std::string::npos);
  EXPECT_EQ(script.size(), 1206u);
}

namespace {

struct Rendezvous {
  std::mutex m;
  std::condition_variable cv;
  int arrived = 0;
  int left = 0;
};

class WaitAll : public Kestrow::Base::KeTask {
 public:
  WaitAll(std::shared_ptr<Rendezvous> r, int total) : r_(std::move(r)), total_(total) {}
  void Run() override {
    std::unique_lock<std::mutex> lock(r_->m);
    ++r_->arrived;
    r_->cv.notify_all();
    r_->cv.wait_for(lock, std::chrono::seconds(20), [this] { return r_->arrived >= total_; });
    ++r_->left;
    r_->cv.notify_all();
  }

 private:
  std::shared_ptr<Rendezvous> r_;
  int total_;
};

}  // namespace

TEST(WorkPool, GrowsWithBlockedItems) {
  // Every item waits until all have started: a pool of fixed size would stall.
  auto r = std::make_shared<Rendezvous>();
  const int total = 64;
  for (int i = 0; i < total; ++i) ASSERT_TRUE(QueueKeTask(new WaitAll(r, total), false));
  std::unique_lock<std::mutex> lock(r->m);
  EXPECT_TRUE(r->cv.wait_for(lock, std::chrono::seconds(20), [&] { return r->arrived >= total; }));
  EXPECT_TRUE(r->cv.wait_for(lock, std::chrono::seconds(20), [&] { return r->left >= total; }));
}

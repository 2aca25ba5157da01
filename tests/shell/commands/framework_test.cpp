#include <gtest/gtest.h>

#include <set>

#include "shell/commands/command.h"
#include "tests/support/test_support.h"

TEST(Reply, ExactBytesWithRawUtf8AndNoLineFeed) {
  std::string out = "old";
  BuildCallbackJson(1, "操作成功", "", out);
  EXPECT_EQ(out, "{\"data\":\"操作成功\",\"flag\":1,\"flagMsg\":\"\"}");
  BuildCallbackJson(0, "", "未知的命令类型", out);
  EXPECT_EQ(out, "{\"data\":\"\",\"flag\":0,\"flagMsg\":\"未知的命令类型\"}");
  BuildCallbackJson(1, "a\nb \"q\" \\", "", out);
  EXPECT_EQ(out, "{\"data\":\"a\\nb \\\"q\\\" \\\\\",\"flag\":1,\"flagMsg\":\"\"}");
}

TEST(Reply, RequestTextForTheLog) {
  std::string out;
  BuildRequestJson({"PlAy", "exam", "{\"file\":\"a.mp3\"}\n", "1"}, out);
  EXPECT_EQ(out,
            "{\"name\":\"PlAy\",\"params\":\"{\\\"file\\\":\\\"a.mp3\\\"}\\n\",\"region\":\"exam\","
            "\"type\":\"1\"}");
}

TEST(Json, WriterParserAndValueTexts) {
  Json::Value v;
  EXPECT_FALSE(ParseJson("", v));
  EXPECT_FALSE(ParseJson("{", v));
  ASSERT_TRUE(ParseJson("{\"b\":[1,2.5,\"x\"],\"a\":{\"k\":null} /* note */}", v));
  EXPECT_EQ(WriteJson(v), "{\"a\":{\"k\":null},\"b\":[1,2.5,\"x\"]}\n");

  EXPECT_EQ(JsonValueToString(Json::Value()), "null");
  EXPECT_EQ(JsonValueToString(Json::Value(-12)), "-12");
  EXPECT_EQ(JsonValueToString(Json::Value(Json::UInt64(18446744073709551615ull))),
            "18446744073709551615");
  EXPECT_EQ(JsonValueToString(Json::Value(3.14159265)), "3.14159");
  EXPECT_EQ(JsonValueToString(Json::Value("文本")), "文本");
  EXPECT_EQ(JsonValueToString(Json::Value(true)), "1");
  EXPECT_EQ(JsonValueToString(Json::Value(false)), "0");
  EXPECT_EQ(JsonValueToString(v["a"]), "");
  EXPECT_EQ(JsonValueToString(v["b"]), "[1\n2.5\n\"x\"\n]");
}

// What a command's params may be: comments and a bare value at the root are taken; trailing
// commas and a byte-order mark are refused, even when only a comment follows the comma.
TEST(Json, ParserRefusesTrailingCommasAndAByteOrderMark) {
  Json::Value v;
  for (const char* text : {"{\"lock\":false,}", "[1,]", "{\"a\":[1,],\"b\":2}",
                           "{\"a\":1,/* c */}", "\xEF\xBB\xBF{\"a\":1}", "\xEF\xBB\xBF[]"})
    EXPECT_FALSE(ParseJson(text, v)) << text;
  for (const char* text : {"// note\n{\"a\":1}", "[1 /* one */, 2] // end", "5", "\"t\"", "null"})
    EXPECT_TRUE(ParseJson(text, v)) << text;
  EXPECT_EQ(v, Json::Value());
}

TEST(Guid, ThirtyTwoHexDigitsOnlyTheThirdGroupLowerCaseAllDistinct) {
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    std::string guid = NewGuidString();
    ASSERT_EQ(guid.size(), 32u);
    for (std::size_t k = 0; k < guid.size(); ++k) {
      char c = guid[k];
      bool third = k >= 12 && k < 16;
      ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(c)) ||
                  (third ? (c >= 'a' && c <= 'f') : (c >= 'A' && c <= 'F')))
          << guid;
    }
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 2000u);
}

namespace {

class ProbeCommand : public Command {
 public:
  explicit ProbeCommand(const CommandRequest& r) : Command("probe word", r) {
    Json::Value v;
    parsed = ParseParams(r, v);
    if (parsed) text = v["text"].asString();
  }
  void execute(std::string& reply) override {
    BuildCallbackJson(1, text, "", reply);
    running = false;
  }
  void stop() override { running = false; }
  bool parsed = false;
  std::string text = "default";
};

}  // namespace

TEST(CommandBase, ParamsParsingAndIdleness) {
  ProbeCommand empty({"x", "r", "", "0"});
  EXPECT_FALSE(empty.parsed);
  EXPECT_EQ(empty.text, "default");
  EXPECT_EQ(empty.id.size(), 32u);
  EXPECT_TRUE(empty.running);
  EXPECT_FALSE(empty.IsIdle());
  empty.stop();
  EXPECT_FALSE(empty.IsIdle());  // execute has not returned yet
  empty.MarkExecuteReturned();
  EXPECT_TRUE(empty.IsIdle());

  ProbeCommand numbers({"x", "r", "{\"text\":12}", "0"});
  EXPECT_EQ(numbers.text, "12");
  EXPECT_THROW(ProbeCommand({"x", "r", "{\"text\":[1]}", "0"}), std::exception);
  try {
    ProbeCommand bad({"x", "r", "{", "0"});
    FAIL();
  } catch (const CmdException& e) {
    EXPECT_EQ(e.getMessage(), "解析json串参数失败");
  }
}

// The replies and the request text are written by hand; they must be the JSON writer's own text
// to the byte for every byte a page could send.
TEST(Reply, HandWrittenTextsMatchTheJsonWriter) {
  std::vector<std::string> texts = {"", "操作成功", "a\"b\\c/d", std::string("nul\0x", 5)};
  std::string every_byte;
  for (int c = 1; c < 256; ++c) every_byte.push_back(static_cast<char>(c));
  texts.push_back(every_byte);
  for (int c = 0; c < 256; ++c) texts.push_back(std::string(1, static_cast<char>(c)) + "x");
  for (const std::string& text : texts) {
    Json::Value reply(Json::objectValue);
    reply["flag"] = 1;
    reply["data"] = text;
    reply["flagMsg"] = text;
    std::string expected = WriteJson(reply);
    expected.pop_back();  // the writer's final line feed
    std::string out;
    BuildCallbackJson(1, text, text, out);
    ASSERT_EQ(out, expected);

    Json::Value request(Json::objectValue);
    for (const char* member : {"name", "region", "params", "type"}) request[member] = text;
    expected = WriteJson(request);
    expected.pop_back();
    BuildRequestJson({text, text, text, text}, out);
    ASSERT_EQ(out, expected);
  }
}

namespace {

class ThrowingCommand : public Command {
 public:
  explicit ThrowingCommand(const CommandRequest& r) : Command("throwing", r) {}
  void execute(std::string&) override { throw std::runtime_error("fails"); }
};

class PlayingCommand : public Command {
 public:
  explicit PlayingCommand(const CommandRequest& r) : Command("playing", r) {}
  bool RunsOnAfterExecute() const override { return true; }
  void execute(std::string& reply) override { BuildCallbackJson(1, "started", "", reply); }
};

}  // namespace

TEST(CommandBase, RunClearsTheFlagOnEveryWayOutUnlessTheWorkGoesOn) {
  std::string reply;
  ThrowingCommand failing({"x", "r", "", "0"});
  EXPECT_THROW(failing.Run(reply), std::runtime_error);
  EXPECT_FALSE(failing.running);

  PlayingCommand playing({"x", "r", "", "0"});
  playing.Run(reply);
  EXPECT_EQ(reply, "{\"data\":\"started\",\"flag\":1,\"flagMsg\":\"\"}");
  EXPECT_TRUE(playing.running);  // until its stop
  playing.stop();
  EXPECT_FALSE(playing.running);
}

#include <thread>
#include <vector>

#include "tests/exam_commands/session_test_util.h"

namespace {

class SettingsTest : public ExamSessionFixture {
 protected:
  std::string CachePath() const { return dataDir + "hash.cache"; }

  // The section "cache" as Python's configparser reads the file, as a JSON object.
  Json::Value ReadWithConfigParser() {
    std::string script =
        "import configparser, json, sys\n"
        "c = configparser.ConfigParser(interpolation=None)\n"
        "c.read(sys.argv[1], encoding='utf-8')\n"
        "print(json.dumps({'sections': c.sections(), 'cache': dict(c['cache'])}, "
        "ensure_ascii=False))\n";
    WriteWhole(root.path() + "read_cache.py", script);
    int status = -1;
    std::string out =
        RunCapture("python3 " + root.path() + "read_cache.py " + CachePath(), &status);
    EXPECT_EQ(status, 0) << out;
    Json::Value v;
    EXPECT_TRUE(ParseJson(out, v)) << out;
    return v;
  }
};

TEST_F(SettingsTest, HashCacheValuesReadBackHereAndByConfigParser) {
  const std::string chinese = "考生张三";
  const std::string symbols = "R&D 100% a=b; c#d";
  EXPECT_EQ(Send("setkey", "{\"key\":\"Name\",\"value\":" + Quote(chinese) + "}").data, "操作成功");
  EXPECT_EQ(Send("setkey", "{\"key\":\"mixed\",\"value\":" + Quote(symbols) + ",\"type\":0}").flag,
            1);
  EXPECT_EQ(Send("setkey", "{\"key\":\"number\",\"value\":42}").flag, 1);

  // INI names do not depend on case.
  Reply read = Send("readkey", "{\"key\":\"NAME\"}");
  EXPECT_EQ(read.flag, 1);
  EXPECT_EQ(read.data, chinese);
  EXPECT_EQ(read.flagMsg, "");
  EXPECT_EQ(Send("readkey", "{\"key\":\"mixed\"}").data, symbols);
  EXPECT_EQ(Send("readkey", "{\"key\":\"number\"}").data, "42");

  // A later write of the same key in other letters replaces the entry, never adds one.
  EXPECT_EQ(Send("setkey", "{\"key\":\"NUMBER\",\"value\":\"43\"}").flag, 1);
  Json::Value parsed = ReadWithConfigParser();
  EXPECT_EQ(parsed["sections"].size(), 1u);
  EXPECT_EQ(parsed["cache"]["name"].asString(), chinese);
  EXPECT_EQ(parsed["cache"]["mixed"].asString(), symbols);
  EXPECT_EQ(parsed["cache"]["number"].asString(), "43");
  EXPECT_EQ(parsed["cache"].size(), 3u);
}

TEST_F(SettingsTest, MissingAndEmptyValuesAreNotFound) {
  Reply missing = Send("readkey", "{\"key\":\"nothing\",\"type\":0}");
  EXPECT_EQ(missing.flag, 0);
  EXPECT_EQ(missing.data, "");
  EXPECT_EQ(missing.flagMsg, "数据不存在");
  EXPECT_EQ(Send("setkey", "{\"key\":\"blank\",\"value\":\"\"}").flag, 1);
  EXPECT_EQ(Send("readkey", "{\"key\":\"blank\"}").flagMsg, "数据不存在");
}

TEST_F(SettingsTest, TextsThatWouldAddLinesToHashCacheAreRefused) {
  ASSERT_EQ(Send("setkey", "{\"key\":\"kept\",\"value\":\"1\"}").flag, 1);
  const std::string before = ReadWhole(CachePath());
  const char* refused[] = {
      "{\"key\":\"a\",\"value\":\"x\\n[evil]\\nsession=0\"}",
      "{\"key\":\"a\",\"value\":\"x\\ry\"}",
      "{\"key\":\"a\\nb\",\"value\":\"x\"}",
      "{\"key\":\"a=b\",\"value\":\"x\"}",
      "{\"key\":\"[evil]\",\"value\":\"x\"}",
      "{\"key\":\"a\\u0000b\",\"value\":\"x\"}",
      "{\"key\":\"\",\"value\":\"x\"}",
      // The next start removes the temporary folder named by "session".
      "{\"key\":\"Session\",\"value\":\"../../home\"}",
      "{\"key\":\" session \",\"value\":\"/\"}",
      "{\"key\":\"session\",\"value\":\"someone-elses-folder\"}",
  };
  for (const char* params : refused) {
    Reply reply = Send("setkey", params);
    EXPECT_EQ(reply.flag, 0) << params;
    EXPECT_EQ(reply.flagMsg, "不支持的参数设置") << params;
  }
  EXPECT_EQ(ReadWhole(CachePath()), before);
  Json::Value parsed = ReadWithConfigParser();
  EXPECT_EQ(parsed["sections"].size(), 1u);
  EXPECT_EQ(parsed["cache"].size(), 1u);
}

TEST_F(SettingsTest, TheSessionKeyHoldsOnlyASessionGuid) {
  const std::string guid = "0123456789ABCDEF0123456789abcdef";
  EXPECT_EQ(Send("setkey", "{\"key\":\"SESSION\",\"value\":\"" + guid + "\"}").flag, 1);
  EXPECT_EQ(Send("readkey", "{\"key\":\"session\"}").data, guid);
  EXPECT_EQ(Send("setkey", "{\"key\":\"session\",\"value\":\"\"}").flag, 1);
  EXPECT_EQ(Send("readkey", "{\"key\":\"session\"}").flagMsg, "数据不存在");
}

TEST_F(SettingsTest, AWriteThatFailsIsReportedAsFailure) {
  // A folder where the file should be: nothing can be written there.
  MakeDirs(CachePath(), false, true);
  Reply reply = Send("setkey", "{\"key\":\"a\",\"value\":\"1\"}");
  EXPECT_EQ(reply.flag, 0);
  EXPECT_EQ(reply.data, "");
  EXPECT_EQ(reply.flagMsg, "保存数据失败");
}

TEST_F(SettingsTest, ReadsAreCutAt1023CharactersNotBytes) {
  std::string long_value;
  for (int i = 0; i < 1500; ++i) long_value += "题";
  ASSERT_EQ(Send("setkey", "{\"key\":\"essay\",\"value\":" + Quote(long_value) + "}").flag, 1);
  std::string read = Send("readkey", "{\"key\":\"essay\"}").data;
  EXPECT_EQ(read.size(), 1023u * 3);
  EXPECT_EQ(read, long_value.substr(0, 1023 * 3));
}

TEST_F(SettingsTest, HostValues) {
  EXPECT_EQ(Send("setkey", "{\"key\":\"URL\",\"value\":\"http://127.0.0.1:8080/exam\",\"type\":1}")
                .data,
            "操作成功");
  EXPECT_EQ(state.Session().baseUrl, "http://127.0.0.1:8080/exam/");
  EXPECT_EQ(Send("readkey", "{\"key\":\"url\",\"type\":1}").data, "http://127.0.0.1:8080/exam/");
  EXPECT_EQ(Send("setkey", "{\"key\":\"url\",\"value\":\"http://127.0.0.1/\",\"type\":1}").flag, 1);
  EXPECT_EQ(Send("readkey", "{\"key\":\"Url\",\"type\":1}").data, "http://127.0.0.1/");
  EXPECT_EQ(Send("setkey", "{\"key\":\"url\",\"value\":\"\",\"type\":1}").flag, 1);
  EXPECT_EQ(state.Session().baseUrl, "");

  EXPECT_EQ(Send("readkey", "{\"key\":\"FileVersion\",\"type\":1}").data, "1.0.0.1");
  Reply set_other = Send("setkey", "{\"key\":\"fileversion\",\"value\":\"9\",\"type\":1}");
  EXPECT_EQ(set_other.flag, 0);
  EXPECT_EQ(set_other.flagMsg, "不支持的参数设置");
  EXPECT_EQ(Send("readkey", "{\"key\":\"other\",\"type\":1}").flagMsg, "不支持的参数设置");
}

TEST_F(SettingsTest, SessionValuesIgnoreCase) {
  EXPECT_EQ(Send("setkey", "{\"key\":\"Step\",\"value\":\"3\",\"type\":2}").flag, 1);
  EXPECT_EQ(state.Session().values.at("step"), "3");
  EXPECT_EQ(Send("readkey", "{\"key\":\"STEP\",\"type\":2}").data, "3");
  EXPECT_EQ(Send("readkey", "{\"key\":\"other\",\"type\":2}").flagMsg, "数据不存在");
}

TEST_F(SettingsTest, OtherStoresChangeNothing) {
  EXPECT_EQ(Send("setkey", "{\"key\":\"a\",\"value\":\"1\",\"type\":7}").data, "操作成功");
  EXPECT_FALSE(IsExistingFile(CachePath()));
  EXPECT_TRUE(state.Session().values.empty());
  EXPECT_EQ(Dispatch("readkey", "{\"key\":\"a\",\"type\":7}"), "");
}

TEST_F(SettingsTest, ParamsOfTheWrongKind) {
  EXPECT_EQ(Send("setkey", "{bad").flagMsg, "解析json串参数失败");
  EXPECT_EQ(Send("setkey", "{\"key\":[1],\"value\":\"x\"}").flagMsg,
            "Type is not convertible to string");
  EXPECT_EQ(Send("readkey", "{\"key\":\"a\",\"type\":\"1\"}").flagMsg,
            "Value is not convertible to Int.");
  // No params at all reads the empty key of hash.cache, which is never there.
  EXPECT_EQ(Send("readkey", "").flagMsg, "数据不存在");
}

TEST_F(SettingsTest, ConcurrentWritersKeepEveryKey) {
  constexpr int kThreads = 8, kEach = 20;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([t] {
      for (int i = 0; i < kEach; ++i) {
        std::string key = "k" + std::to_string(t) + "_" + std::to_string(i);
        Reply r = ReadReply(
            Dispatch("setkey", "{\"key\":\"" + key + "\",\"value\":\"v" + key + "\"}"));
        EXPECT_EQ(r.flag, 1);
      }
    });
  }
  for (std::thread& w : workers) w.join();
  Json::Value parsed = ReadWithConfigParser();
  ASSERT_EQ(parsed["cache"].size(), static_cast<unsigned>(kThreads * kEach));
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kEach; ++i) {
      std::string key = "k" + std::to_string(t) + "_" + std::to_string(i);
      EXPECT_EQ(parsed["cache"][key].asString(), "v" + key);
    }
  }
}

}  // namespace

TEST_F(SettingsTest, KeysAreFoundWhateverSpaceSurroundsThem) {
  EXPECT_EQ(Send("setkey", "{\"key\":\"a \",\"value\":\"v\"}").flag, 1);
  EXPECT_EQ(Send("readkey", "{\"key\":\"a \"}").data, "v");
  EXPECT_EQ(Send("readkey", "{\"key\":\"a\"}").data, "v");
  // The same entry, not a second one beside it.
  EXPECT_EQ(Send("setkey", "{\"key\":\"\\ta\",\"value\":\"w\"}").flag, 1);
  EXPECT_EQ(Send("readkey", "{\"key\":\" a\"}").data, "w");
  Json::Value parsed = ReadWithConfigParser();
  EXPECT_EQ(parsed["cache"].size(), 1u);
  EXPECT_EQ(parsed["cache"]["a"].asString(), "w");
}

#include "exam_commands/machine_info_command.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "machine_code/machine_code.h"
#include "shell/core/helpers.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace {

// The child runs of the two-process test write their reply here.
const char kReplyFileVariable[] = "QW_GETCONFIG_REPLY_FILE";

TEST(MachineInfoJsonTest, DataIsAnObjectOnOneLine) {
  std::string out;
  BuildMachineInfoJson(1, "192.0.2.2", "02-FC-00-00-00-01", "pT1zPOa5U5iEqycvQD9PUgAAAAH=",
                       "Operation Successful", out);
  EXPECT_EQ(out,
            "{\"data\":{\"ip\":\"192.0.2.2\",\"mac\":\"02-FC-00-00-00-01\",\"macode\":"
            "\"pT1zPOa5U5iEqycvQD9PUgAAAAH=\"},\"flag\":1,\"flagMsg\":\"Operation Successful\"}");
  BuildMachineInfoJson(0, "a\nb", "", "", "\xE5\xA4\xB1\xE8\xB4\xA5", out);
  EXPECT_EQ(out, "{\"data\":{\"ip\":\"a\\nb\",\"mac\":\"\",\"macode\":\"\"},\"flag\":0,"
                 "\"flagMsg\":\"\xE5\xA4\xB1\xE8\xB4\xA5\"}");
}

// Canned answers for the three values, and which address the MAC was asked for.
struct Canned {
  static bool codeOk, ipOk, macOk;
  static std::string code, ip, mac, askedIp;
  static bool Code(std::string& out) {
    out = code;
    return codeOk;
  }
  static bool Ip(std::string& out) {
    out = ip;
    return ipOk;
  }
  static bool Mac(const std::string& forIp, std::string& out) {
    askedIp = forIp;
    out = mac;
    return macOk;
  }
  static void Reset() {
    codeOk = ipOk = macOk = true;
    code = "pT1zPOa5U5iEqycvQD9PUgAAAAH=";
    ip = "10.1.2.3";
    mac = "00-1A-2B-3C-4D-5E";
    askedIp.clear();
  }
  static std::string Reply() {
    const MachineInfoSources sources = {&Code, &Ip, &Mac};
    std::string reply;
    BuildMachineInfoReply(sources, reply);
    return reply;
  }
};
bool Canned::codeOk, Canned::ipOk, Canned::macOk;
std::string Canned::code, Canned::ip, Canned::mac, Canned::askedIp;

std::string Failure(const std::string& message) {
  return "{\"data\":\"\",\"flag\":0,\"flagMsg\":\"" + message + "\"}";
}

TEST(MachineInfoReplyTest, AllThreeFound) {
  Canned::Reset();
  EXPECT_EQ(Canned::Reply(),
            "{\"data\":{\"ip\":\"10.1.2.3\",\"mac\":\"00-1A-2B-3C-4D-5E\",\"macode\":"
            "\"pT1zPOa5U5iEqycvQD9PUgAAAAH=\"},\"flag\":1,\"flagMsg\":\"Operation Successful\"}");
  EXPECT_EQ(Canned::askedIp, "10.1.2.3");
}

TEST(MachineInfoReplyTest, FirstMissingValueNamesTheFailure) {
  const std::string noCode = Failure("处理getconfig时，获取本机机器码失败");
  const std::string noIp = Failure("处理getconfig时，获取本机IP地址失败");
  const std::string noMac = Failure("处理getconfig时，获取本机MAC地址失败");

  Canned::Reset();
  Canned::codeOk = false;
  Canned::ipOk = Canned::macOk = false;  // the network is down too: the code is checked first
  EXPECT_EQ(Canned::Reply(), noCode);
  Canned::Reset();
  Canned::code = "";
  EXPECT_EQ(Canned::Reply(), noCode);

  Canned::Reset();
  Canned::ipOk = false;
  EXPECT_EQ(Canned::Reply(), noIp);
  EXPECT_EQ(Canned::askedIp, "");
  Canned::Reset();
  Canned::ip = "";
  EXPECT_EQ(Canned::Reply(), noIp);

  Canned::Reset();
  Canned::macOk = false;
  EXPECT_EQ(Canned::Reply(), noMac);
  Canned::Reset();
  Canned::mac = "";
  EXPECT_EQ(Canned::Reply(), noMac);
}

class GetConfigOnThisMachine : public StateFixture {
 protected:
  GetConfigOnThisMachine() { withLog = true; }
  void SetUp() override {
    StateFixture::SetUp();
    RegisterMachineInfoCommand();
  }
};

TEST_F(GetConfigOnThisMachine, AnswersWithRealValues) {
  const std::string reply = Dispatch("getconfig", "");
  if (const char* file = std::getenv(kReplyFileVariable)) std::ofstream(file) << reply;
  Json::Value value;
  ASSERT_TRUE(ParseJson(reply, value)) << reply;
  ASSERT_EQ(value["flag"].asInt(), 1) << reply;
  EXPECT_EQ(value["flagMsg"].asString(), "Operation Successful");
  ASSERT_TRUE(value["data"].isObject());
  EXPECT_EQ(value["data"].getMemberNames(), (std::vector<std::string>{"ip", "mac", "macode"}));
  EXPECT_EQ(reply.find('\n'), std::string::npos);
  EXPECT_EQ(reply.compare(0, 15, "{\"data\":{\"ip\":\""), 0) << reply;

  std::string ip, mac;
  ASSERT_TRUE(GetLocalIp(ip));
  ASSERT_TRUE(GetMacByArp(ip, mac));
  EXPECT_EQ(value["data"]["ip"].asString(), ip);
  EXPECT_NE(ip.compare(0, 4, "127."), 0);
  EXPECT_EQ(value["data"]["mac"].asString(), mac);
  const std::string code = value["data"]["macode"].asString();
  EXPECT_EQ(code, computeMachineCode());
  ASSERT_EQ(code.size(), 28u);
  EXPECT_TRUE(code.substr(26) == "H=" || code.substr(26) == "N=") << code;

  const std::string log = LogText();
  EXPECT_NE(log.find("[get config]: constructor"), std::string::npos);
  EXPECT_NE(log.find("[get config]: execute"), std::string::npos);
}

TEST_F(GetConfigOnThisMachine, ParamsAreNotRead) {
  Json::Value value;
  ASSERT_TRUE(ParseJson(Dispatch("getconfig", "this is not JSON", "1"), value));
  EXPECT_EQ(value["flag"].asInt(), 1);
  ASSERT_TRUE(ParseJson(Dispatch("GetConfig", "{\"ip\":[1]}"), value));
  EXPECT_EQ(value["flag"].asInt(), 1);
}

// Runs this test program again for the real-machine case only; its reply is the result.
std::string ReplyOfAnotherRun(const std::string& replyFile) {
  std::string exe = "/proc/self/exe";
  std::string filter = "--gtest_filter=GetConfigOnThisMachine.AnswersWithRealValues";
  char* argv[] = {&exe[0], &filter[0], nullptr};
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).compare(0, sizeof kReplyFileVariable, std::string(kReplyFileVariable) +
                                                                  "=") != 0)
      env.push_back(*e);
  }
  env.push_back(std::string(kReplyFileVariable) + "=" + replyFile);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(&e[0]);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return "";
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "";
  std::ifstream in(replyFile);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(GetConfigTwoRuns, GiveTheSameCode) {
  TempDir dir;
  Json::Value first, second;
  ASSERT_TRUE(ParseJson(ReplyOfAnotherRun(dir.path() + "first.json"), first));
  ASSERT_TRUE(ParseJson(ReplyOfAnotherRun(dir.path() + "second.json"), second));
  ASSERT_EQ(first["flag"].asInt(), 1);
  ASSERT_EQ(second["flag"].asInt(), 1);
  EXPECT_EQ(first["data"]["macode"].asString().size(), 28u);
  EXPECT_EQ(first["data"]["macode"], second["data"]["macode"]);
  EXPECT_EQ(first["data"], second["data"]);
}

}  // namespace

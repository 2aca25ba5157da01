// A worker process saving answers is killed at random moments, again and again; after every
// kill the document must be whole and hold every answer whose save was answered with success.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "shell/commands/dispatcher.h"
#include "tests/exam_commands/session_test_util.h"

namespace {

constexpr int kKills = 300;
// However slow the machine, the test stops killing after this long.
constexpr auto kTimeLimit = std::chrono::seconds(40);

std::string AnswerText(int n) { return "答案 " + std::to_string(n) + " R&D <x>"; }

// Saves answers n, n+1, ... one request each, and writes n to |ackFd| once its save has been
// answered with success. Never returns.
[[noreturn]] void SaveForever(int first, int ackFd) {
  for (int n = first;; ++n) {
    std::string id = std::to_string(n);
    std::string params = "[{\"key\":\"/test/q" + id + "/response[id=" + id +
                         "]/answer\",\"value\":\"" + AnswerText(n) + "\"}]";
    Json::Value reply;
    if (!ParseJson(DispatchCmd("Test", "saveanswer", params.c_str(), "0"), reply) ||
        reply["flag"].asInt() != 1)
      _exit(2);
    if (write(ackFd, &n, sizeof n) != sizeof n) _exit(3);
  }
}

// The answers of the document by response id; false when it does not parse.
bool ReadAnswers(const std::string& file, std::map<int, std::string>& answers) {
  xmlDoc* doc = xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR |
                                                       XML_PARSE_NOWARNING);
  if (!doc) return false;
  xmlNode* root = xmlDocGetRootElement(doc);
  for (xmlNode* q = root ? root->children : nullptr; q; q = q->next) {
    for (xmlNode* r = q->children; r; r = r->next) {
      xmlChar* id = xmlGetProp(r, reinterpret_cast<const xmlChar*>("id"));
      xmlChar* text = r->children ? xmlNodeGetContent(r->children) : nullptr;
      if (id) answers[std::atoi(reinterpret_cast<const char*>(id))] =
          text ? reinterpret_cast<const char*>(text) : "";
      xmlFree(id);
      xmlFree(text);
    }
  }
  xmlFreeDoc(doc);
  return true;
}

// Waits for the next acknowledgement on |fd|; false when the worker has ended or is stuck.
bool ReadAck(int fd, int& n) {
  pollfd ready{fd, POLLIN, 0};
  if (poll(&ready, 1, 20000) != 1) return false;
  return read(fd, &n, sizeof n) == sizeof n;
}

class AnswerCrashTest : public ExamSessionFixture {};

TEST_F(AnswerCrashTest, KilledAtAnyMomentTheDocumentKeepsEveryAcknowledgedAnswer) {
  ASSERT_EQ(Send("startexam", "{\"examineeId\":\"E\",\"paperId\":\"P\"}").flag, 1);
  const std::string file = state.Session().answerFolder + "answer.xml";
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> waits(0, 2);
  std::uniform_real_distribution<double> share(0.0, 1.5);
  // How long one save takes on this machine now, as measured between acknowledgements; the
  // kill comes at a random moment within about one save, wherever its work is.
  auto save_time = std::chrono::microseconds(3000);

  const auto start = std::chrono::steady_clock::now();
  int acknowledged = 0;  // answers 0 .. acknowledged-1 were answered with success
  int kills = 0;
  for (; kills < kKills && std::chrono::steady_clock::now() - start < kTimeLimit; ++kills) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      SaveForever(acknowledged, fds[1]);
    }
    close(fds[1]);
    // Most kills come after a save or two of this worker, so that the document keeps growing
    // however slow the saves are; some come while it is still starting.
    int wait_for = waits(random);
    auto last = std::chrono::steady_clock::now();
    for (int i = 0; i < wait_for; ++i) {
      int n;
      ASSERT_TRUE(ReadAck(fds[0], n)) << "the saving process stopped answering";
      ASSERT_EQ(n, acknowledged);
      ++acknowledged;
      auto now = std::chrono::steady_clock::now();
      if (i > 0) save_time = std::chrono::duration_cast<std::chrono::microseconds>(now - last);
      last = now;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(
        static_cast<long>(share(random) * static_cast<double>(save_time.count()))));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the saving process ended by itself: " << status;
    int n;
    while (read(fds[0], &n, sizeof n) == sizeof n) {
      ASSERT_EQ(n, acknowledged);
      ++acknowledged;
    }
    close(fds[0]);

    if (!IsExistingFile(file)) {
      ASSERT_EQ(acknowledged, 0) << "answers were acknowledged but no document exists";
      continue;
    }
    std::map<int, std::string> answers;
    ASSERT_TRUE(ReadAnswers(file, answers)) << "torn document after kill " << kills;
    for (int i = 0; i < acknowledged; ++i) {
      auto it = answers.find(i);
      ASSERT_NE(it, answers.end()) << "acknowledged answer " << i << " lost after kill " << kills;
      ASSERT_EQ(it->second, AnswerText(i));
    }
    // At most the one save in flight when the kill came may be there too.
    ASSERT_LE(answers.size(), static_cast<std::size_t>(acknowledged) + 1);
  }
  EXPECT_GE(kills, 100);
  EXPECT_GT(acknowledged, 0);
  std::printf("%d kills, %d answers acknowledged\n", kills, acknowledged);

  // The page can go on with the document that survived.
  EXPECT_EQ(Send("saveanswer", "[{\"key\":\"/test/after\",\"value\":\"x\"}]").flag, 1);
  EXPECT_EQ(RunCapture("xmllint --noout " + file + " 2>&1"), "");
}

}  // namespace

// The transport through real sockets: a listening server on a thread of the test, the client
// library's entries as the evaluator uses them.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/mirvane_transport/mirvane_transport.h"
#include "platform/mirvane_transport/transport_client.h"
#include "platform/mirvane_transport/transport_endpoint.h"
#include "platform/mirvane_transport/transport_frame.h"
#include "platform/mirvane_transport/transport_server.h"
#include "platform/mirvane_transport/transport_text.h"

using namespace mirvane;

namespace {

// What the receiver saw, shared with the test's thread.
struct Received {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<int, std::wstring>> messages;
  std::vector<std::thread::id> threads;
} g_received;

int Receive(int number, const wchar_t* text) {
  std::lock_guard<std::mutex> lock(g_received.mutex);
  g_received.messages.emplace_back(number, text);
  g_received.threads.push_back(std::this_thread::get_id());
  g_received.changed.notify_all();
  return 0;
}

bool WaitForMessages(std::size_t count) {
  std::unique_lock<std::mutex> lock(g_received.mutex);
  return g_received.changed.wait_for(lock, std::chrono::seconds(10),
                                     [&] { return g_received.messages.size() >= count; });
}

std::wstring AddressText(Receiver receiver) {
  return std::to_wstring(reinterpret_cast<uintptr_t>(receiver));
}

// An engine stand-in on its own thread: answers every message with the same number and the
// text with "ok:" in front.
class EchoServer {
 public:
  explicit EchoServer(const std::string& endpoint) {
    listening_ = server_.Listen(endpoint);
    thread_ = std::thread([this] {
      server_.Run(
          [](int32_t number, const std::string& text, const TransportServer::Reply& reply) {
            reply(number, "ok:" + text);
          },
          [this] { return !stop_; });
    });
  }
  ~EchoServer() {
    stop_ = true;
    thread_.join();
  }
  bool listening() const { return listening_; }

 private:
  TransportServer server_;
  std::atomic<bool> stop_{false};
  bool listening_ = false;
  std::thread thread_;
};

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/transport-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
    std::lock_guard<std::mutex> lock(g_received.mutex);
    g_received.messages.clear();
    g_received.threads.clear();
  }
  void TearDown() override {
    unlink((folder_ + "/ut_mirvane").c_str());
    rmdir(folder_.c_str());
  }
  std::string folder_;
};

}  // namespace

TEST(TransportFrame, RoundTripInPiecesAndRefusesOversizedFrames) {
  std::string bytes = EncodeFrame(2900, "{\"identity\":\"甲\"}") + EncodeFrame(8888, "") +
                      EncodeFrame(-1, "x");
  FrameReader reader;
  std::vector<Frame> frames;
  bool damaged = false;
  for (char c : bytes) {  // one byte at a time, as the slowest socket would deliver it
    reader.Append(&c, 1);
    Frame frame;
    while (reader.Next(frame, damaged)) frames.push_back(frame);
    ASSERT_FALSE(damaged);
  }
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].number, 2900);
  EXPECT_EQ(frames[0].text, "{\"identity\":\"甲\"}");
  EXPECT_EQ(frames[1].number, 8888);
  EXPECT_EQ(frames[1].text, "");
  EXPECT_EQ(frames[2].number, -1);

  std::string huge = EncodeFrame(3, "");
  huge[7] = '\x7F';  // a length of about 2 GB
  FrameReader bad;
  bad.Append(huge.data(), huge.size());
  Frame frame;
  EXPECT_FALSE(bad.Next(frame, damaged));
  EXPECT_TRUE(damaged);
}

TEST(TransportText, WideAndUtf8RoundTripAndMendBadCharacters) {
  std::wstring text = L"评测 ok \U0001F600";
  EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
  EXPECT_EQ(WideToUtf8(L"评"), "\xE8\xAF\x84");
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), L"a\uFFFDb");
  EXPECT_EQ(Utf8ToWide("\xC0\x80"), L"\uFFFD\uFFFD");  // overlong NUL
}

TEST_F(TransportTest, SocketIsPrivateToItsUser) {
  EchoServer server("ut_mirvane");
  ASSERT_TRUE(server.listening());
  struct stat st;
  ASSERT_EQ(lstat((folder_ + "/ut_mirvane").c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_uid, getuid());
  EXPECT_EQ(EndpointPath("../x"), "");
}

TEST_F(TransportTest, ListenerNeverReplacesAFileThatIsNoSocket) {
  std::string path = folder_ + "/ut_mirvane";
  FILE* f = fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("keep", f);
  fclose(f);
  EXPECT_EQ(ListenEndpoint("ut_mirvane"), -1);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(TransportTest, EntriesDeliverAnswersOnTheTransportsOwnThread) {
  EchoServer server("ut_mirvane");
  ASSERT_TRUE(server.listening());
  ASSERT_EQ(MirvaneSetParam(L"recv_msg", AddressText(Receive).c_str()), 1);
  EXPECT_EQ(MirvaneSetParam(L"recv_msg_on_thread", L"1"), 1);
  EXPECT_EQ(MirvaneSetParam(L"run_on_thread", L"1"), 1);
  EXPECT_EQ(MirvaneSetParam(L"recv_msg", L"12abc"), 0);
  ASSERT_EQ(MirvaneOpen(L"ut_mirvane", 0), 1);
  ASSERT_EQ(MirvaneSend(8888, L"ut"), 1);
  ASSERT_EQ(MirvaneSend(3, L"{\"identity\":\"评\"}"), 1);
  ASSERT_TRUE(WaitForMessages(2));
  {
    std::lock_guard<std::mutex> lock(g_received.mutex);
    EXPECT_EQ(g_received.messages[0], std::make_pair(8888, std::wstring(L"ok:ut")));
    EXPECT_EQ(g_received.messages[1], std::make_pair(3, std::wstring(L"ok:{\"identity\":\"评\"}")));
    EXPECT_NE(g_received.threads[0], std::this_thread::get_id());
    EXPECT_EQ(g_received.threads[0], g_received.threads[1]);
  }
  MirvaneClose();
  EXPECT_EQ(MirvaneSend(8888, L"ut"), 0);  // closed: nothing is sent until the next open
}

TEST_F(TransportTest, SendBeforeTheListenerAndAfterItsRestartConnectsAgain) {
  TransportClient client;
  ASSERT_TRUE(client.SetParam(L"recv_msg", AddressText(Receive)));
  ASSERT_TRUE(client.Open(L"ut_mirvane", 0));
  EXPECT_FALSE(client.Send(8888, L"ut"));  // nobody listens yet
  {
    EchoServer first("ut_mirvane");
    ASSERT_TRUE(client.Send(8888, L"one"));
    ASSERT_TRUE(WaitForMessages(1));
  }
  // The first listener has gone; a second one takes over the endpoint.
  EchoServer second("ut_mirvane");
  ASSERT_TRUE(second.listening());
  bool sent = false;
  for (int i = 0; i < 3 && !sent; ++i) sent = client.Send(8888, L"two");
  ASSERT_TRUE(sent);
  ASSERT_TRUE(WaitForMessages(2));
  std::lock_guard<std::mutex> lock(g_received.mutex);
  EXPECT_EQ(g_received.messages[1].second, L"ok:two");
}

TEST_F(TransportTest, ServerDropsAClientThatSendsNoFrames) {
  EchoServer server("ut_mirvane");
  int fd = ConnectEndpoint("ut_mirvane");
  ASSERT_GE(fd, 0);
  std::string junk = EncodeFrame(3, "");
  junk[7] = '\x7F';
  ASSERT_TRUE(WriteAll(fd, junk));
  char c;
  EXPECT_EQ(recv(fd, &c, 1, 0), 0);  // closed by the server
  close(fd);
}

TEST_F(TransportTest, AnEndingListenerLeavesTheSocketOfANewerOne) {
  auto older = std::make_unique<EchoServer>("ut_mirvane");
  EchoServer newer("ut_mirvane");  // replaces the older one's socket file
  ASSERT_TRUE(newer.listening());
  older.reset();
  TransportClient client;
  ASSERT_TRUE(client.SetParam(L"recv_msg", AddressText(Receive)));
  ASSERT_TRUE(client.Open(L"ut_mirvane", 0));
  ASSERT_TRUE(client.Send(8888, L"still there"));
  ASSERT_TRUE(WaitForMessages(1));
}

TEST_F(TransportTest, AClientThatNeverReadsIsDroppedAndOthersAreServed) {
  EchoServer server("ut_mirvane");
  int idle = ConnectEndpoint("ut_mirvane");
  ASSERT_GE(idle, 0);
  // Requests whose echoes far outgrow the socket buffers, from a client that reads none.
  std::thread flood([idle] {
    std::string frame = EncodeFrame(3, std::string(64 << 10, 'x'));
    for (int i = 0; i < 64 && WriteAll(idle, frame); ++i) {
    }
  });
  TransportClient client;
  ASSERT_TRUE(client.SetParam(L"recv_msg", AddressText(Receive)));
  ASSERT_TRUE(client.Open(L"ut_mirvane", 0));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_TRUE(client.Send(8888, L"ut"));
  bool answered = WaitForMessages(1);
  // Unblocks the flood and a server stuck on the idle client, whatever the outcome.
  shutdown(idle, SHUT_RDWR);
  flood.join();
  close(idle);
  EXPECT_TRUE(answered);
}

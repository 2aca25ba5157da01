// mirvane.exe, the speech-evaluation engine: listens on "ut_mirvane", answers the client's
// handshake at once, loads the recogniser while the client connects, and scores one request at
// a time. It ends when its client process has gone.
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "platform/mirvane/recogniser.h"
#include "platform/mirvane/scorer.h"
#include "platform/mirvane_transport/transport_server.h"

namespace {

constexpr int kHandshake = 8888;
constexpr int kRequest = 3;
constexpr int kResult = 2900;
constexpr char kModelFolder[] = "/usr/share/pocketsphinx/model/en-us/";

}  // namespace

int main() {
  // The client starts us and ends us; an engine that outlived it would hold 100 MB for nobody.
  const pid_t client = getppid();
  umask(077);
  mirvane::TransportServer server;
  if (!server.Listen("ut_mirvane")) return 1;

  std::unique_ptr<mirvane::Recogniser> recogniser;
  std::thread loader([&] { recogniser = std::make_unique<mirvane::Recogniser>(kModelFolder); });
  server.Run(
      [&](int32_t number, const std::string& text, const mirvane::TransportServer::Reply& reply) {
        if (number == kHandshake) {
          reply(kHandshake, "ut");
        } else if (number == kRequest) {
          if (loader.joinable()) loader.join();
          mirvane::Scorer scorer(recogniser.get());
          reply(kResult, scorer.Handle(text));
        }
      },
      [&] { return getppid() == client; });
  if (loader.joinable()) loader.join();
  return 0;
}

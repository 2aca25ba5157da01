// The engine's side of the transport: listens at an endpoint, accepts clients and hands every
// message to a handler on the serving thread, which may answer the client it came from.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

namespace mirvane {

class TransportServer {
 public:
  // |reply| sends one message back to the client the handled one came from, only during the
  // handler's call; false when that client has gone or has stopped reading (it is then dropped).
  using Reply = std::function<bool(int32_t number, const std::string& text)>;
  using Handler = std::function<void(int32_t number, const std::string& text, const Reply& reply)>;

  TransportServer() = default;
  ~TransportServer();
  TransportServer(const TransportServer&) = delete;
  TransportServer& operator=(const TransportServer&) = delete;

  bool Listen(const std::string& endpoint);
  // Serves until |keepGoing| (asked about once a second and after every message) says no.
  void Run(const Handler& handler, const std::function<bool()>& keepGoing);

 private:
  int listenFd_ = -1;
  std::string path_;
  // The socket file we bound, told apart from a newer listener's file of the same name.
  dev_t socketDev_ = 0;
  ino_t socketIno_ = 0;
};

}  // namespace mirvane

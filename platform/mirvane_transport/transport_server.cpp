#include "platform/mirvane_transport/transport_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "platform/mirvane_transport/transport_endpoint.h"
#include "platform/mirvane_transport/transport_frame.h"

namespace mirvane {

namespace {

struct Client {
  int fd;
  FrameReader reader;
};

// False when the client has gone or sent what is no frame of ours.
bool Serve(Client& client, const TransportServer::Handler& handler) {
  char buffer[16384];
  ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) return false;
  client.reader.Append(buffer, static_cast<std::size_t>(n));
  int fd = client.fd;
  TransportServer::Reply reply = [fd](int32_t number, const std::string& text) {
    return WriteAll(fd, EncodeFrame(number, text));
  };
  Frame frame;
  bool damaged = false;
  while (client.reader.Next(frame, damaged)) handler(frame.number, frame.text, reply);
  return !damaged;
}

}  // namespace

TransportServer::~TransportServer() {
  if (listenFd_ < 0) return;
  close(listenFd_);
  // Remove our socket only while it is still ours: a newer engine may have taken the name.
  struct stat st;
  if (stat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(path_.c_str());
}

bool TransportServer::Listen(const std::string& endpoint) {
  listenFd_ = ListenEndpoint(endpoint);
  path_ = EndpointPath(endpoint);
  return listenFd_ >= 0;
}

void TransportServer::Run(const Handler& handler, const std::function<bool()>& keepGoing) {
  std::vector<std::unique_ptr<Client>> clients;
  while (keepGoing()) {
    std::vector<pollfd> fds{{listenFd_, POLLIN, 0}};
    for (const auto& c : clients) fds.push_back({c->fd, POLLIN, 0});
    int ready = poll(fds.data(), fds.size(), 1000);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    for (std::size_t i = fds.size(); i-- > 1;) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      if (!Serve(*clients[i - 1], handler)) {
        close(clients[i - 1]->fd);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i - 1));
      }
    }
    if (fds[0].revents & POLLIN) {
      int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      ucred peer;
      socklen_t length = sizeof peer;
      if (fd >= 0 && getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
          peer.uid == getuid())
        clients.push_back(std::make_unique<Client>(Client{fd, {}}));
      else if (fd >= 0)
        close(fd);
    }
  }
  for (const auto& c : clients) close(c->fd);
}

}  // namespace mirvane

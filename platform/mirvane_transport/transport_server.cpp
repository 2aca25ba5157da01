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
  bool stalled = false;  // a reply did not fit: the client stopped reading
};

// False when the client has gone, sent what is no frame of ours or stopped reading its replies.
bool Serve(Client& client, const TransportServer::Handler& handler) {
  char buffer[16384];
  ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) return false;
  client.reader.Append(buffer, static_cast<std::size_t>(n));
  // One thread serves every client, so a reply never waits for room: a client that does not
  // read would hold up all the others. Once a reply is cut short the stream is no longer in
  // frames, so that client is dropped.
  TransportServer::Reply reply = [&client](int32_t number, const std::string& text) {
    if (!client.stalled && !WriteWithoutWaiting(client.fd, EncodeFrame(number, text)))
      client.stalled = true;
    return !client.stalled;
  };
  Frame frame;
  bool damaged = false;
  while (!client.stalled && client.reader.Next(frame, damaged))
    handler(frame.number, frame.text, reply);
  return !damaged && !client.stalled;
}

}  // namespace

TransportServer::~TransportServer() {
  if (listenFd_ < 0) return;
  close(listenFd_);
  // Remove our socket only while it is still ours: a newer engine may have replaced it with
  // its own under the same name.
  struct stat st;
  if (lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == socketDev_ &&
      st.st_ino == socketIno_)
    unlink(path_.c_str());
}

bool TransportServer::Listen(const std::string& endpoint) {
  listenFd_ = ListenEndpoint(endpoint);
  path_ = EndpointPath(endpoint);
  if (listenFd_ < 0) return false;
  struct stat st;
  if (lstat(path_.c_str(), &st) != 0) {
    close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  socketDev_ = st.st_dev;
  socketIno_ = st.st_ino;
  return true;
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

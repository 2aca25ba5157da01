#include "platform/mirvane_transport/transport_endpoint.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace mirvane {

namespace {

bool OwnPrivateFolder(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
         (st.st_mode & 077) == 0;
}

bool MakeAddress(const std::string& name, sockaddr_un& address) {
  std::string path = EndpointPath(name);
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

std::string RuntimeFolder() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && xdg[0] == '/') {
    std::string folder = xdg;
    if (folder.back() != '/') folder += '/';
    struct stat st;
    if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid())
      return folder;
  }
  std::string folder = "/tmp/quellwick-run-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return "";
  return OwnPrivateFolder(folder) ? folder + "/" : "";
}

std::string EndpointPath(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    return "";
  std::string folder = RuntimeFolder();
  return folder.empty() ? "" : folder + name;
}

int ListenEndpoint(const std::string& name) {
  sockaddr_un address;
  if (!MakeAddress(name, address)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // Only a socket may be replaced: a stale one from an engine that died, never a file.
  struct stat st;
  if (lstat(address.sun_path, &st) == 0) {
    if (!S_ISSOCK(st.st_mode) || unlink(address.sun_path) != 0) {
      close(fd);
      return -1;
    }
  }
  // The socket is born without access for others; the chmod below makes that explicit for
  // whatever umask the engine was started with.
  mode_t old_mask = umask(0177);
  int bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  umask(old_mask);
  if (bound != 0 || chmod(address.sun_path, 0600) != 0 || listen(fd, 8) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int ConnectEndpoint(const std::string& name) {
  sockaddr_un address;
  if (!MakeAddress(name, address)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  ucred peer;
  socklen_t length = sizeof peer;
  if (rc != 0 || getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
      peer.uid != getuid()) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace mirvane

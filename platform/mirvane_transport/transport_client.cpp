#include "platform/mirvane_transport/transport_client.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>

#include "platform/mirvane_transport/transport_endpoint.h"
#include "platform/mirvane_transport/transport_frame.h"
#include "platform/mirvane_transport/transport_text.h"

namespace mirvane {

struct TransportClient::Connection {
  explicit Connection(int fd) : fd(fd) {}
  ~Connection() { close(fd); }
  const int fd;
  std::atomic<bool> broken{false};  // set by the reader when the peer has gone
};

TransportClient::~TransportClient() { Close(); }

bool TransportClient::SetParam(const std::wstring& name, const std::wstring& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (name == L"recv_msg") {
    wchar_t* end = nullptr;
    errno = 0;
    unsigned long long address = std::wcstoull(value.c_str(), &end, 0);
    if (value.empty() || errno != 0 || *end != L'\0' || address == 0) return false;
    receiver_ = reinterpret_cast<Receiver>(static_cast<uintptr_t>(address));
    return true;
  }
  if (name == L"recv_msg_on_thread" || name == L"run_on_thread") return value == L"1";
  return false;
}

bool TransportClient::Open(const std::wstring& endpoint, int flag) {
  (void)flag;  // no open mode but the plain one exists
  std::string name = WideToUtf8(endpoint);
  if (EndpointPath(name).empty()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (name != endpoint_ || (connection_ && connection_->broken)) DropLocked();
  endpoint_ = name;
  if (!connection_) ConnectLocked();
  return true;
}

bool TransportClient::Send(int number, const std::wstring& text) {
  std::string frame = EncodeFrame(number, WideToUtf8(text));
  std::lock_guard<std::mutex> lock(mutex_);
  if (endpoint_.empty()) return false;
  if (connection_ && connection_->broken) DropLocked();
  if (!connection_ && !ConnectLocked()) return false;
  if (WriteAll(connection_->fd, frame)) return true;
  DropLocked();
  return false;
}

void TransportClient::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  DropLocked();
  endpoint_.clear();
}

bool TransportClient::ConnectLocked() {
  int fd = ConnectEndpoint(endpoint_);
  if (fd < 0) return false;
  connection_ = std::make_shared<Connection>(fd);
  reader_ = std::thread(ReadLoop, connection_, receiver_);
  return true;
}

void TransportClient::DropLocked() {
  if (!connection_) return;
  shutdown(connection_->fd, SHUT_RDWR);
  // A receiver that sends from its own delivery would wait for itself here; its thread is left
  // to end on its own instead, holding the connection until it does.
  if (reader_.joinable()) {
    if (reader_.get_id() == std::this_thread::get_id())
      reader_.detach();
    else
      reader_.join();
  }
  connection_.reset();
}

void TransportClient::ReadLoop(std::shared_ptr<Connection> connection, Receiver receiver) {
  FrameReader reader;
  char buffer[16384];
  while (true) {
    ssize_t n = recv(connection->fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    reader.Append(buffer, static_cast<std::size_t>(n));
    Frame frame;
    bool damaged = false;
    while (reader.Next(frame, damaged)) {
      if (receiver) receiver(frame.number, Utf8ToWide(frame.text).c_str());
    }
    if (damaged) break;
  }
  connection->broken = true;
}

}  // namespace mirvane

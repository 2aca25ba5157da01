#include "platform/mirvane_transport/transport_frame.h"

#include <sys/socket.h>

#include <cerrno>

namespace mirvane {

namespace {

void PutU32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t GetU32(const std::string& in, std::size_t at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i)
    value |= static_cast<uint32_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
  return value;
}

bool Send(int fd, const std::string& bytes, int flags) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, flags | MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string EncodeFrame(int32_t number, const std::string& text) {
  std::string out;
  out.reserve(8 + text.size());
  PutU32(out, static_cast<uint32_t>(number));
  PutU32(out, static_cast<uint32_t>(text.size()));
  out += text;
  return out;
}

bool FrameReader::Next(Frame& frame, bool& damaged) {
  damaged = false;
  if (buffer_.size() < 8) return false;
  uint32_t length = GetU32(buffer_, 4);
  if (length > kMaxFrameText) {
    damaged = true;
    return false;
  }
  if (buffer_.size() < 8 + static_cast<std::size_t>(length)) return false;
  frame.number = static_cast<int32_t>(GetU32(buffer_, 0));
  frame.text.assign(buffer_, 8, length);
  buffer_.erase(0, 8 + static_cast<std::size_t>(length));
  return true;
}

bool WriteAll(int fd, const std::string& bytes) { return Send(fd, bytes, 0); }

bool WriteWithoutWaiting(int fd, const std::string& bytes) {
  return Send(fd, bytes, MSG_DONTWAIT);
}

}  // namespace mirvane

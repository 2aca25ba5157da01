// One message on the wire: its number and its UTF-8 text, as a frame of three parts: the number
// (32-bit, little-endian), the text's length in bytes (32-bit, little-endian) and the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mirvane {

struct Frame {
  int32_t number = 0;
  std::string text;  // UTF-8
};

// A frame longer than this is no message of ours: the connection is dropped instead of
// allocating whatever a damaged length asks for.
constexpr uint32_t kMaxFrameText = 16u << 20;

std::string EncodeFrame(int32_t number, const std::string& text);

// Collects received bytes and hands out the complete frames in order.
class FrameReader {
 public:
  void Append(const char* data, std::size_t size) { buffer_.append(data, size); }
  // True with the next complete frame; false while incomplete. |damaged| is set when the
  // stream announces a frame longer than kMaxFrameText.
  bool Next(Frame& frame, bool& damaged);

 private:
  std::string buffer_;
};

// Writes all of |bytes| to the socket, retrying short writes and interruptions; never raises
// SIGPIPE. False when the connection is gone.
bool WriteAll(int fd, const std::string& bytes);
// As WriteAll, but false as soon as the socket has no room left, with part of |bytes| perhaps
// written.
bool WriteWithoutWaiting(int fd, const std::string& bytes);

}  // namespace mirvane

// Recording the default capture device into a 16 kHz mono 16-bit WAV whose header is rewritten
// after every block, so a recording cut off at any moment (a crash included) is a playable WAV
// of what was recorded up to its last block.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/orvalis/levels.h"
#include "platform/orvalis/operations.h"

namespace orvalis {
namespace {

// Four periods of one notice each: the thread wakes once per notice and sleeps in between.
constexpr int kRecordBufferMs = 4 * kTickMs;
constexpr int kDeviceTimeoutMs = 2000;
constexpr uint32_t kHeaderBytes = 44;
// The RIFF sizes are 32-bit: a recording stops before it would overflow them.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - kHeaderBytes;

void Put32(unsigned char* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = (unsigned char)(v >> (8 * i));
}

bool WriteAllAt(int fd, const void* data, size_t size, off_t offset) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = pwrite(fd, p, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n, size -= size_t(n), offset += n;
  }
  return true;
}

bool WriteHeader(int fd, uint32_t dataBytes) {
  unsigned char h[kHeaderBytes];
  std::memcpy(h, "RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0", 24);
  Put32(h + 4, 36 + dataBytes);
  Put32(h + 24, kRecordRate);
  Put32(h + 28, kRecordRate * 2);
  std::memcpy(h + 32, "\x02\0\x10\0data", 8);
  Put32(h + 40, dataBytes);
  return WriteAllAt(fd, h, sizeof h, 0);
}

// Sizes are updated only after the samples they count are in the file.
bool UpdateSizes(int fd, uint32_t dataBytes) {
  unsigned char size[4];
  Put32(size, 36 + dataBytes);
  if (!WriteAllAt(fd, size, 4, 4)) return false;
  Put32(size, dataBytes);
  return WriteAllAt(fd, size, 4, 40);
}

class Recorder {
 public:
  Recorder(Recording& recording, long long frames, const Context& context)
      : fd_(recording.fd), pcm_(recording.pcm.get()), wanted_(frames), context_(context) {}

  int Run() {
    if (snd_pcm_start(pcm_) < 0) return SND_ERR_FAILED;
    std::vector<int16_t> block(size_t(kRecordRate) * kRecordBufferMs / 1000);
    int stalledMs = 0;
    while (got_ < wanted_) {
      snd_pcm_uframes_t room = snd_pcm_uframes_t(std::min<long long>(block.size(), wanted_ - got_));
      snd_pcm_sframes_t n = snd_pcm_readi(pcm_, block.data(), room);
      if (n == -EAGAIN) {
        switch (WaitDevice(pcm_, context_.stop, kDeviceTimeoutMs)) {
          case WaitResult::kReady:
            continue;
          case WaitResult::kStopped:
            return SND_ERR_FAILED;
          case WaitResult::kTimeout:
          case WaitResult::kFailed:
            return SND_ERR_FAILED;
        }
      }
      if (n < 0) {
        // An overrun loses samples but the recording goes on; anything else is a failure.
        if (snd_pcm_recover(pcm_, int(n), 1) < 0 || snd_pcm_start(pcm_) < 0) return SND_ERR_FAILED;
        if ((stalledMs += kTickMs) > kDeviceTimeoutMs) return SND_ERR_FAILED;
        continue;
      }
      stalledMs = 0;
      if (!Append(block.data(), size_t(n))) return SND_ERR_FAILED;
      if (context_.stop.Raised()) return SND_ERR_FAILED;
    }
    return 0;
  }

 private:
  bool Append(const int16_t* samples, size_t count) {
    uint64_t bytes = count * 2;
    if (dataBytes_ + bytes > kMaxDataBytes) return false;
    if (!WriteAllAt(fd_, samples, bytes, off_t(kHeaderBytes + dataBytes_))) return false;
    dataBytes_ += bytes;
    got_ += (long long)count;
    if (!UpdateSizes(fd_, uint32_t(dataBytes_))) return false;
    for (size_t i = 0; i < count; ++i) {
      pending_.push_back(float(samples[i]) / 32768.0f);
      if (pending_.size() == size_t(kRecordRate) * kTickMs / 1000) Tick();
    }
    return true;
  }

  void Tick() {
    if (context_.switches.energy)
      context_.Notify(SND_NOTIFY_ENERGY, std::to_wstring(Energy(pending_.data(), pending_.size())));
    if (context_.switches.waveform)
      context_.Notify(SND_NOTIFY_WAVEFORM, Waveform(pending_.data(), pending_.size()));
    pending_.clear();
  }

  int fd_;
  snd_pcm_t* pcm_;
  const long long wanted_;
  const Context& context_;
  long long got_ = 0;
  uint64_t dataBytes_ = 0;
  std::vector<float> pending_;
};

}  // namespace

bool OpenRecording(const std::string& path, Recording& recording) {
  recording.pcm = OpenDefault(SND_PCM_STREAM_CAPTURE, SND_PCM_FORMAT_S16_LE, 1, kRecordRate,
                              kRecordBufferMs);
  if (!recording.pcm) return false;
  recording.fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (recording.fd >= 0 && WriteHeader(recording.fd, 0)) return true;
  if (recording.fd >= 0) close(recording.fd);
  recording.fd = -1;
  recording.pcm.reset();
  return false;
}

void RunRecording(Recording recording, long long frames, const Context& context) {
  int code = SND_ERR_FAILED;
  try {
    code = Recorder(recording, frames, context).Run();
  } catch (...) {
  }
  recording.pcm.reset();
  // What was recorded stays on disk even when the machine goes down right after.
  if (fsync(recording.fd) != 0 && code == 0) code = SND_ERR_FAILED;
  close(recording.fd);
  context.NotifyEnd(SND_NOTIFY_RECORD_END, code);
}

}  // namespace orvalis

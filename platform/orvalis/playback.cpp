// Playing a sound file through the default device in real time, reporting the position that
// is being heard (frames written less the device's delay) and the level of what is heard.
#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/orvalis/levels.h"
#include "platform/orvalis/operations.h"

namespace orvalis {
namespace {

using Clock = std::chrono::steady_clock;

// Small enough that a stop is heard at once, large enough to ride out a busy machine.
constexpr int kPlayBufferMs = 100;
// A device that takes nothing for this long has failed.
constexpr int kDeviceTimeoutMs = 2000;

// The mono mix of the last frames written, by frame number, so the level reported is that of
// the sound being heard rather than of what was just handed to the device.
class History {
 public:
  explicit History(size_t capacity) : ring_(capacity) {}
  void Append(const float* frames, size_t count, int channels) {
    for (size_t f = 0; f < count; ++f, ++end_) {
      float sum = 0;
      for (int c = 0; c < channels; ++c) sum += frames[f * size_t(channels) + size_t(c)];
      ring_[size_t(end_) % ring_.size()] = sum / float(channels);
    }
  }
  std::vector<float> Range(long long from, long long to) const {
    from = std::max({from, 0LL, end_ - (long long)ring_.size()});
    to = std::min(to, end_);
    std::vector<float> out;
    for (long long i = from; i < to; ++i) out.push_back(ring_[size_t(i) % ring_.size()]);
    return out;
  }

 private:
  std::vector<float> ring_;
  long long end_ = 0;
};

class Player {
 public:
  Player(Playback& playback, const Context& context)
      : file_(playback.file.get()),
        pcm_(playback.pcm.get()),
        channels_(playback.info.channels),
        rate_(playback.info.samplerate),
        tickFrames_(rate_ * kTickMs / 1000),
        history_(size_t(rate_) * 2),
        context_(context) {}

  int Run() {
    Step step = PlayFile();
    if (step == Step::kOk) step = WaitHeard();
    if (step == Step::kOk) {
      Tick(true);
      return 0;
    }
    // Closing the device drops what it still holds.
    return SND_ERR_FAILED;
  }

 private:
  enum class Step { kOk, kStopped, kFailed };

  Step PlayFile() {
    const sf_count_t chunk = std::max(1, rate_ / 50);
    std::vector<float> buffer(size_t(chunk) * size_t(channels_));
    for (;;) {
      sf_count_t got = sf_readf_float(file_, buffer.data(), chunk);
      if (got <= 0) return sf_error(file_) == SF_ERR_NO_ERROR ? Step::kOk : Step::kFailed;
      history_.Append(buffer.data(), size_t(got), channels_);
      Step step = Write(buffer.data(), got);
      if (step != Step::kOk) return step;
    }
  }

  Step Write(const float* data, sf_count_t frames) {
    int stalledMs = 0;
    while (frames > 0) {
      snd_pcm_sframes_t n = snd_pcm_writei(pcm_, data, snd_pcm_uframes_t(frames));
      if (n == -EAGAIN) {
        switch (WaitDevice(pcm_, context_.stop, kTickMs)) {
          case WaitResult::kReady:
            break;
          case WaitResult::kStopped:
            return Step::kStopped;
          case WaitResult::kFailed:
            return Step::kFailed;
          case WaitResult::kTimeout:
            if ((stalledMs += kTickMs) > kDeviceTimeoutMs) return Step::kFailed;
            break;
        }
      } else if (n < 0) {
        if (snd_pcm_recover(pcm_, int(n), 1) < 0) return Step::kFailed;
      } else {
        data += n * channels_;
        frames -= n;
        written_ += n;
        stalledMs = 0;
      }
      Tick(false);
    }
    return Step::kOk;
  }

  // After the last frame was handed over: waits until the device has played it.
  Step WaitHeard() {
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED && written_ > 0 && snd_pcm_start(pcm_) < 0)
      return Step::kFailed;
    auto deadline = Clock::now() + std::chrono::milliseconds(kDeviceTimeoutMs);
    long long heard = Position();
    while (snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING && heard < written_) {
      long long leftMs = (written_ - heard) * 1000 / rate_;
      if (context_.stop.Sleep(int(std::clamp(leftMs, 1LL, (long long)kTickMs))))
        return Step::kStopped;
      Tick(false);
      long long now = Position();
      if (now > heard) deadline = Clock::now() + std::chrono::milliseconds(kDeviceTimeoutMs);
      else if (Clock::now() > deadline) return Step::kFailed;
      heard = now;
    }
    // The close lets the device play out the little it may still hold.
    return Step::kOk;
  }

  long long Position() {
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_delay(pcm_, &delay) < 0) delay = 0;
    return std::clamp(written_ - (long long)delay, 0LL, written_);
  }

  void Tick(bool final) {
    auto now = Clock::now();
    if (!final && now < nextTick_) return;
    nextTick_ = now + std::chrono::milliseconds(kTickMs);
    long long heard = final ? written_ : Position();
    if (context_.switches.playPosition)
      context_.Notify(SND_NOTIFY_PLAYPOS, std::to_wstring(heard * 10 / rate_));
    if (final) return;
    std::vector<float> recent = history_.Range(heard - tickFrames_, heard);
    if (context_.switches.energy)
      context_.Notify(SND_NOTIFY_ENERGY, std::to_wstring(Energy(recent.data(), recent.size())));
    if (context_.switches.waveform)
      context_.Notify(SND_NOTIFY_WAVEFORM, Waveform(recent.data(), recent.size()));
  }

  SNDFILE* file_;
  snd_pcm_t* pcm_;
  const int channels_;
  const int rate_;
  const long long tickFrames_;
  History history_;
  const Context& context_;
  long long written_ = 0;
  Clock::time_point nextTick_ = Clock::now() + std::chrono::milliseconds(kTickMs);
};

}  // namespace

bool OpenPlayback(const std::string& path, Playback& playback) {
  playback.info = SF_INFO{};
  playback.file.reset(sf_open(path.c_str(), SFM_READ, &playback.info));
  if (!playback.file || playback.info.channels <= 0 || playback.info.samplerate <= 0) return false;
  // Files of floating-point samples may exceed full scale: clip them rather than wrap.
  sf_command(playback.file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
  playback.pcm = OpenDefault(SND_PCM_STREAM_PLAYBACK, SND_PCM_FORMAT_FLOAT_LE,
                             playback.info.channels, playback.info.samplerate, kPlayBufferMs);
  return bool(playback.pcm);
}

void RunPlayback(Playback playback, const Context& context) {
  int code = SND_ERR_FAILED;
  try {
    code = Player(playback, context).Run();
  } catch (...) {
  }
  ClosePcm(playback.pcm.release(), code == 0);
  playback.file.reset();
  context.NotifyEnd(SND_NOTIFY_PLAY_END, code);
}

}  // namespace orvalis

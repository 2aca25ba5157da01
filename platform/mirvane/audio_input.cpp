#include "platform/mirvane/audio_input.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <memory>

#include "platform/mirvane/engine_codes.h"

namespace mirvane {

namespace {

struct SndFileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};

double Sinc(double x) { return x == 0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x); }

}  // namespace

std::vector<float> Resample(const std::vector<float>& input, int rate) {
  if (rate == kRecogniserRate || input.empty()) return input;
  const double step = static_cast<double>(rate) / kRecogniserRate;  // input samples per output
  const double cutoff = std::min(1.0, 1.0 / step);  // of the input's Nyquist frequency
  const int half = static_cast<int>(std::ceil(8 / cutoff));  // taps on each side
  const auto outputs = static_cast<std::size_t>(input.size() / step);
  const auto last = static_cast<long>(input.size()) - 1;
  std::vector<float> output(outputs);
  for (std::size_t n = 0; n < outputs; ++n) {
    double t = static_cast<double>(n) * step;
    long centre = static_cast<long>(t);
    double sum = 0;
    for (long k = centre - half + 1; k <= centre + half; ++k) {
      if (k < 0 || k > last) continue;
      double d = t - static_cast<double>(k);
      double window = 0.5 + 0.5 * std::cos(M_PI * d / half);  // Hann
      sum += input[static_cast<std::size_t>(k)] * cutoff * Sinc(cutoff * d) * window;
    }
    output[n] = static_cast<float>(sum);
  }
  return output;
}

int ReadRecording(const std::string& path, std::vector<int16_t>& samples) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return errno == ENOENT ? kRecordingMissing : kRecordingUnreadable;
  if (!S_ISREG(st.st_mode)) return kRecordingUnreadable;
  SF_INFO info{};
  std::unique_ptr<SNDFILE, SndFileCloser> file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file || info.channels <= 0 || info.samplerate <= 0) return kRecordingUnreadable;
  // Ten minutes are far beyond any answer; a header claiming more is damaged.
  if (info.frames < 0 || info.frames > static_cast<sf_count_t>(info.samplerate) * 600)
    return kRecordingUnreadable;
  std::vector<float> interleaved(static_cast<std::size_t>(info.frames * info.channels));
  sf_count_t got = sf_readf_float(file.get(), interleaved.data(), info.frames);
  if (got < 0) return kRecordingUnreadable;
  std::vector<float> mono(static_cast<std::size_t>(got));
  for (std::size_t i = 0; i < mono.size(); ++i) {
    float sum = 0;
    for (int c = 0; c < info.channels; ++c) sum += interleaved[i * info.channels + c];
    mono[i] = sum / static_cast<float>(info.channels);
  }
  std::vector<float> resampled = Resample(mono, info.samplerate);
  samples.resize(resampled.size());
  for (std::size_t i = 0; i < resampled.size(); ++i) {
    float v = std::clamp(resampled[i], -1.0f, 1.0f) * 32767.0f;
    samples[i] = static_cast<int16_t>(std::lround(v));
  }
  return kScored;
}

double PeakLevelDb(const std::vector<int16_t>& samples) {
  const std::size_t window = kRecogniserRate * 30 / 1000;
  double loudest = 0;
  for (std::size_t start = 0; start < samples.size(); start += window / 2) {
    std::size_t end = std::min(samples.size(), start + window);
    double energy = 0;
    for (std::size_t i = start; i < end; ++i) energy += double(samples[i]) * samples[i];
    loudest = std::max(loudest, energy / static_cast<double>(end - start));
  }
  if (loudest <= 0) return -std::numeric_limits<double>::infinity();
  return 10 * std::log10(loudest / (32768.0 * 32768.0));
}

}  // namespace mirvane

#include "platform/orvalis/levels.h"

#include <algorithm>
#include <cmath>

#include "platform/orvalis/orvalis.h"

namespace orvalis {
namespace {

constexpr double kFloorDb = -120.0;  // the level given to digital silence

double LevelDb(const float* samples, size_t n) {
  if (n == 0) return kFloorDb;
  double sum = 0;
  for (size_t i = 0; i < n; ++i) sum += double(samples[i]) * samples[i];
  double rms = std::sqrt(sum / double(n));
  return rms > 0 ? std::max(kFloorDb, 20 * std::log10(rms)) : kFloorDb;
}

// Samples that sit at full scale next to another one there: a flat top cut by the converter,
// where a single loud sample is just a peak.
size_t ClippedSamples(const std::vector<float>& samples) {
  constexpr float kFullScale = 0.99f;
  size_t clipped = 0, run = 0;
  for (float s : samples) {
    if (std::fabs(s) >= kFullScale) {
      ++run;
      if (run == 2) clipped += 2;
      else if (run > 2) ++clipped;
    } else {
      run = 0;
    }
  }
  return clipped;
}

}  // namespace

int Energy(const float* samples, size_t n) {
  double db = LevelDb(samples, n);
  return int(std::lround(std::clamp((db + 60.0) * 100.0 / 60.0, 0.0, 100.0)));
}

std::wstring Waveform(const float* samples, size_t n, size_t points) {
  std::wstring text;
  size_t count = std::min(points, n);
  for (size_t p = 0; p < count; ++p) {
    size_t from = n * p / count, to = n * (p + 1) / count;
    float peak = 0;
    for (size_t i = from; i < to; ++i)
      if (std::fabs(samples[i]) > std::fabs(peak)) peak = samples[i];
    long value = std::lround(std::clamp(peak * 32768.0f, -32768.0f, 32767.0f));
    if (p) text += L',';
    text += std::to_wstring(value);
  }
  return text;
}

int CheckRecording(const std::vector<float>& samples, int rate) {
  constexpr double kMinSeconds = 1.0;
  constexpr double kSilentDb = -55.0, kQuietDb = -35.0, kMinContrastDb = 15.0;
  constexpr double kMaxClippedShare = 0.001;
  if (rate <= 0 || double(samples.size()) < kMinSeconds * rate) return SND_CHECK_TOO_SHORT;
  const size_t piece = size_t(rate) / 50;  // 20 ms
  std::vector<double> levels;
  for (size_t at = 0; at + piece <= samples.size(); at += piece)
    levels.push_back(LevelDb(&samples[at], piece));
  std::sort(levels.begin(), levels.end());
  // The voice's level: loud pieces, but not a single click; the floor: the quiet pieces.
  double voice = levels[levels.size() * 95 / 100];
  double floor = levels[levels.size() * 10 / 100];
  if (voice < kSilentDb) return SND_CHECK_SILENT;
  if (double(ClippedSamples(samples)) > kMaxClippedShare * double(samples.size()))
    return SND_CHECK_CLIPPED;
  if (voice < kQuietDb) return SND_CHECK_TOO_QUIET;
  if (voice - floor < kMinContrastDb) return SND_CHECK_NOISY;
  return SND_CHECK_GOOD;
}

}  // namespace orvalis

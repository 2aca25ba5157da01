// What the library computes from samples: the level and waveform sent while sound plays or is
// recorded, and the audio check's verdict on a recording.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace orvalis {

// The level of |n| mono samples (-1..1) as a whole number 0..100: -60 dBFS and below is 0, full
// scale is 100, linear in decibels between.
int Energy(const float* samples, size_t n);
// |n| mono samples reduced to |points| values (the sample of greatest magnitude in each
// slice, scaled to 16 bits), comma-separated; fewer values when there are fewer samples.
std::wstring Waveform(const float* samples, size_t n, size_t points = 32);
// The audio check's result (SND_CHECK_*) for a recording of mono samples at |rate|.
int CheckRecording(const std::vector<float>& samples, int rate);

}  // namespace orvalis

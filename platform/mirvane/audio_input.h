// The recording as the recogniser takes it: 16 kHz, mono, 16-bit samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mirvane {

constexpr int kRecogniserRate = 16000;

// Reads any sound file libsndfile decodes (WAV, FLAC, Ogg, MP3), mixes its channels down and
// resamples it. Returns kScored, kRecordingMissing or kRecordingUnreadable.
int ReadRecording(const std::string& path, std::vector<int16_t>& samples);

// Converts mono samples from |rate| to kRecogniserRate (windowed-sinc low-pass).
std::vector<float> Resample(const std::vector<float>& input, int rate);

// The loudness of the loudest 30 ms window in dB below full scale (-inf for digital silence).
double PeakLevelDb(const std::vector<int16_t>& samples);

}  // namespace mirvane

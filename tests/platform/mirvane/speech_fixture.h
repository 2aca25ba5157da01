// Test speech: flite's slt voice with half a second of silence in front, the way a candidate's
// recording starts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes |text| spoken by slt to |path| (16-bit WAV at |rate|, |channels| channels); false when
// flite or sox is missing.
bool MakeSpeech(const std::string& text, const std::string& path, int rate = 16000,
                int channels = 1);
// Writes |seconds| of digital silence, or of a quiet hum when |level| is above 0.
void MakeTone(const std::string& path, double seconds, double level, int rate = 16000);
std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& text);
// A fresh folder under /tmp, with "/" at the end.
std::string MakeTempFolder();

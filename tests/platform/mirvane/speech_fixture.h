// Test speech: flite's voices (slt unless told) or espeak-ng's, with half a second of silence in
// front, the way a candidate's recording starts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes |text| spoken by |voice| to |path| (16-bit WAV at |rate|, |channels| channels); false
// when the synthesiser or sox is missing. |voice| is a flite voice, or "espeak-ng:" and one of
// espeak-ng's.
bool MakeSpeech(const std::string& text, const std::string& path, int rate = 16000,
                int channels = 1, const std::string& voice = "slt");
// Writes |seconds| of digital silence, or of a quiet hum when |level| is above 0.
void MakeTone(const std::string& path, double seconds, double level, int rate = 16000);
std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& text);
// A fresh folder under /tmp, with "/" at the end.
std::string MakeTempFolder();

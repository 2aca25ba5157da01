#include "tests/platform/mirvane/speech_fixture.h"

#include <sndfile.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>

namespace {

bool Run(const std::vector<std::string>& args) {
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool MakeSpeech(const std::string& text, const std::string& path, int rate, int channels,
                const std::string& voice) {
  const std::string espeak = "espeak-ng:";
  std::string raw = path + ".voice.wav";
  bool spoken = voice.compare(0, espeak.size(), espeak) == 0
                    ? Run({"espeak-ng", "-v", voice.substr(espeak.size()), "-w", raw, text})
                    : Run({"flite", "-voice", voice, "-t", text, "-o", raw});
  // Repeatable dither: speech the recogniser barely follows must not score differently each run.
  bool ok = spoken && Run({"sox", "-R", raw, "-r", std::to_string(rate), "-c",
                           std::to_string(channels), "-b", "16", path, "pad", "0.5", "0"});
  unlink(raw.c_str());
  return ok;
}

void MakeTone(const std::string& path, double seconds, double level, int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  std::vector<short> samples(static_cast<std::size_t>(seconds * rate));
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<short>(level * 32767 * std::sin(2 * M_PI * 100 * i / rate));
  sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(file);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string MakeTempFolder() {
  char pattern[] = "/tmp/mirvane-test-XXXXXX";
  return std::string(mkdtemp(pattern)) + "/";
}

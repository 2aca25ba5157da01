// PocketSphinx with its US English model, loaded once: free recognition with the language model
// and forced alignment of the speech to an expected word sequence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ps_decoder_s;

namespace mirvane {

struct AlignedWord {
  std::string word;
  double score = 0;  // acoustic log-likelihood per frame against the best senone: 0 is perfect
  int frames = 0;
};

struct Alignment {
  bool aligned = false;  // false when the speech could not be matched to the text at all
  double score = 0;      // per frame over the aligned words, as AlignedWord::score
  // The opening words of the text that the speech holds.
  std::vector<AlignedWord> words;
};

class Recogniser {
 public:
  // Loads the model from |modelFolder| (holding "en-us/", "en-us.lm.bin", "cmudict-en-us.dict").
  explicit Recogniser(const std::string& modelFolder);
  ~Recogniser();
  Recogniser(const Recogniser&) = delete;
  Recogniser& operator=(const Recogniser&) = delete;

  bool loaded() const { return decoder_ != nullptr; }
  // The running cepstral mean that the next utterance starts from, and setting it.
  std::vector<float> CepstralMean() const;
  bool SetCepstralMean(const std::vector<float>& mean);

  // The words recognised in 16 kHz mono samples, lower case, separated by single spaces.
  std::string Recognise(const std::vector<int16_t>& samples);
  // Forced alignment of the samples to the longest opening run of |words| that they hold, so a
  // reading that stops early is judged on the words it read; every word must be in the
  // dictionary.
  Alignment Align(const std::vector<int16_t>& samples, const std::vector<std::string>& words);
  bool Knows(const std::string& word) const;

 private:
  bool Decode(const std::vector<int16_t>& samples);
  bool SetGrammar(const std::string& grammar);

  ps_decoder_s* decoder_ = nullptr;
  std::string freeSearch_;  // the language-model search the decoder starts with
};

}  // namespace mirvane

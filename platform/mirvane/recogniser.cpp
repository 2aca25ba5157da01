#include "platform/mirvane/recogniser.h"

#include <pocketsphinx.h>
#include <sphinxbase/feat.h>
#include <sphinxbase/jsgf.h>
#include <sphinxbase/logmath.h>

#include <cmath>
#include <memory>

namespace mirvane {

namespace {

constexpr char kAlignSearch[] = "align";

// Silence and filler words are not what the candidate said.
bool IsFiller(const char* word) {
  return !word || word[0] == '<' || word[0] == '[' || word[0] == '\0' ||
         std::string(word) == "sil";
}

// Dictionary variants ("read(2)") are the same word.
std::string BaseWord(const char* word) {
  std::string text = word;
  std::size_t paren = text.find('(');
  return paren == std::string::npos ? text : text.substr(0, paren);
}

}  // namespace

Recogniser::Recogniser(const std::string& modelFolder) {
  std::string hmm = modelFolder + "en-us";
  std::string lm = modelFolder + "en-us.lm.bin";
  std::string dict = modelFolder + "cmudict-en-us.dict";
  // Live normalisation carries the cepstral mean from utterance to utterance, which is what a
  // candidate's running model keeps between items.
  cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-lm", lm.c_str(),
                                 "-dict", dict.c_str(), "-logfn", "/dev/null", "-cmn", "live",
                                 nullptr);
  if (!config) return;
  decoder_ = ps_init(config);
  cmd_ln_free_r(config);
  // The language model loaded with the decoder is its first search; it is not loaded twice.
  if (!decoder_) return;
  ps_search_iter_t* search = ps_search_iter(decoder_);
  if (search) {
    freeSearch_ = ps_search_iter_val(search);
    ps_search_iter_free(search);
  }
}

Recogniser::~Recogniser() {
  if (decoder_) ps_free(decoder_);
}

std::vector<float> Recogniser::CepstralMean() const {
  feat_t* feat = ps_get_feat(decoder_);
  std::vector<float> mean;
  if (!feat || !feat->cmn_struct) return mean;
  std::vector<mfcc_t> raw(static_cast<std::size_t>(feat->cmn_struct->veclen));
  cmn_live_get(feat->cmn_struct, raw.data());
  for (mfcc_t v : raw) mean.push_back(static_cast<float>(MFCC2FLOAT(v)));
  return mean;
}

bool Recogniser::SetCepstralMean(const std::vector<float>& mean) {
  feat_t* feat = ps_get_feat(decoder_);
  if (!feat || !feat->cmn_struct ||
      mean.size() != static_cast<std::size_t>(feat->cmn_struct->veclen))
    return false;
  std::vector<mfcc_t> raw;
  for (float v : mean) raw.push_back(FLOAT2MFCC(v));
  cmn_live_set(feat->cmn_struct, raw.data());
  return true;
}

bool Recogniser::Decode(const std::vector<int16_t>& samples) {
  if (ps_start_utt(decoder_) < 0) return false;
  int rc = ps_process_raw(decoder_, samples.data(), samples.size(), FALSE, TRUE);
  return ps_end_utt(decoder_) >= 0 && rc >= 0;
}

std::string Recogniser::Recognise(const std::vector<int16_t>& samples) {
  if (ps_set_search(decoder_, freeSearch_.c_str()) < 0 || !Decode(samples)) return "";
  std::string text;
  for (ps_seg_t* seg = ps_seg_iter(decoder_); seg; seg = ps_seg_next(seg)) {
    const char* word = ps_seg_word(seg);
    if (IsFiller(word)) continue;
    if (!text.empty()) text += ' ';
    text += BaseWord(word);
  }
  return text;
}

bool Recogniser::Knows(const std::string& word) const {
  char* pron = ps_lookup_word(decoder_, word.c_str());
  bool known = pron != nullptr;
  ckd_free(pron);
  return known;
}

bool Recogniser::SetGrammar(const std::string& grammar) {
  // The decoder's own JSGF entry keeps the parsed grammar for ever; it is built here instead
  // and every part released once the decoder holds the search.
  std::unique_ptr<jsgf_t, void (*)(jsgf_t*)> jsgf(jsgf_parse_string(grammar.c_str(), nullptr),
                                                   jsgf_grammar_free);
  if (!jsgf) return false;
  jsgf_rule_t* rule = jsgf_get_public_rule(jsgf.get());
  if (!rule) return false;
  float lw = static_cast<float>(cmd_ln_float32_r(ps_get_config(decoder_), "-lw"));
  fsg_model_t* fsg = jsgf_build_fsg(jsgf.get(), rule, ps_get_logmath(decoder_), lw);
  if (!fsg) return false;
  int rc = ps_set_fsg(decoder_, kAlignSearch, fsg);
  fsg_model_free(fsg);
  return rc >= 0;
}

Alignment Recogniser::Align(const std::vector<int16_t>& samples,
                            const std::vector<std::string>& words) {
  Alignment result;
  if (words.empty()) return result;
  // The first word, then each further word only after the one before it ("a [b [c]]"): a
  // reading that stops early meets the words it read, not the whole text squeezed into it.
  std::string grammar = "#JSGF V1.0;\ngrammar expected;\npublic <s> = " + words.front();
  for (std::size_t i = 1; i < words.size(); ++i) grammar += " [" + words[i];
  grammar += std::string(words.size() - 1, ']') + ";\n";
  if (!SetGrammar(grammar) || ps_set_search(decoder_, kAlignSearch) < 0 || !Decode(samples))
    return result;
  int32 best = 0;
  if (!ps_get_hyp(decoder_, &best)) return result;
  logmath_t* lmath = ps_get_logmath(decoder_);
  double total = 0;
  int frames = 0;
  for (ps_seg_t* seg = ps_seg_iter(decoder_); seg; seg = ps_seg_next(seg)) {
    const char* word = ps_seg_word(seg);
    if (IsFiller(word)) continue;
    int start = 0, end = 0;
    ps_seg_frames(seg, &start, &end);
    int32 ascr = 0, lscr = 0, lback = 0;
    ps_seg_prob(seg, &ascr, &lscr, &lback);
    AlignedWord aligned;
    aligned.word = BaseWord(word);
    aligned.frames = end - start + 1;
    // Senone scores are kept shifted right by ten bits inside the decoder.
    double ln = logmath_log_to_ln(lmath, ascr) * 1024;
    aligned.score = aligned.frames > 0 ? ln / aligned.frames : ln;
    total += ln;
    frames += aligned.frames;
    result.words.push_back(aligned);
  }
  result.aligned = !result.words.empty() && frames > 0;
  result.score = frames > 0 ? total / frames : 0;
  return result;
}

}  // namespace mirvane

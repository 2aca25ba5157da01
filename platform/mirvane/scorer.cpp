#include "platform/mirvane/scorer.h"

#include <json/json.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "platform/mirvane/audio_input.h"
#include "platform/mirvane/engine_codes.h"
#include "platform/mirvane/json_input.h"
#include "platform/mirvane/paper.h"
#include "platform/mirvane/recogniser.h"
#include "platform/mirvane/result_files.h"
#include "platform/mirvane/text_match.h"

namespace mirvane {

namespace {

// Shorter than this is no answer at all (a click of the record button).
constexpr std::size_t kShortestSamples = kRecogniserRate * 3 / 10;
// Below this level the microphone heard nothing: room noise lies well above it, digital
// silence far below.
constexpr double kSilenceDb = -55;

struct Request {
  std::string identity, snd, paper, dist, usermodel, category;
};

std::string Compact(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

bool ParseRequest(const std::string& text, Request& request) {
  Json::Value root;
  std::istringstream in(text);
  if (!ReadBoundedJson(in, root) || !root.isObject()) return false;
  const std::pair<const char*, std::string*> members[] = {
      {"identity", &request.identity}, {"snd_file", &request.snd},
      {"paper_file", &request.paper},  {"dist_file", &request.dist},
      {"usermodel_file", &request.usermodel}, {"category", &request.category}};
  bool ok = true;
  for (const auto& member : members) {
    const Json::Value& value = root[member.first];
    if (value.isString())
      *member.second = value.asString();
    else if (!value.isNull())
      ok = false;
  }
  return ok;
}

int Percent(double share) { return static_cast<int>(std::lround(std::clamp(share, 0.0, 1.0) * 100)); }

Json::Value ScoreReading(Recogniser& recogniser, const std::vector<int16_t>& samples,
                         const Paper& paper, const std::vector<std::string>& recognised) {
  std::vector<bool> matched;
  double accuracy = WordAccuracy(paper.text, recognised, &matched);
  std::vector<std::string> known;
  for (const std::string& w : paper.text)
    if (recogniser.Knows(w)) known.push_back(w);
  Alignment alignment = recogniser.Align(samples, known);
  // The words past the aligned ones were not read: they have no pronunciation to judge.
  std::size_t read = alignment.aligned ? alignment.words.size() : 0;

  Json::Value detail(Json::objectValue);
  Json::Value words(Json::arrayValue);
  std::size_t next = 0;  // the next aligned word
  for (std::size_t i = 0; i < paper.text.size(); ++i) {
    Json::Value word(Json::objectValue);
    word["word"] = paper.text[i];
    word["recognised"] = static_cast<bool>(matched[i]);
    int score = 0;
    if (recogniser.Knows(paper.text[i]) && next < read)
      score = Goodness(alignment.words[next++].score);
    word["score"] = score;
    words.append(word);
  }
  int pronunciation = read > 0 ? Goodness(alignment.score) : 0;
  // Pronunciation is earned word by word: a text read half way, however well, earns half of it,
  // so half a reading scores about half.
  double readShare = static_cast<double>(read) / static_cast<double>(known.size());
  detail["score"] =
      static_cast<int>(std::lround(0.5 * accuracy * 100 + 0.5 * pronunciation * readShare));
  detail["word_accuracy"] = Percent(accuracy);
  detail["pronunciation"] = pronunciation;
  detail["alignment"] = alignment.aligned ? Json::Value(std::round(alignment.score * 100) / 100)
                                          : Json::Value();
  detail["words"] = words;
  return detail;
}

Json::Value ScoreFreeAnswer(const Paper& paper, const std::vector<std::string>& recognised) {
  double best = -1;
  std::size_t best_index = 0;
  std::vector<bool> best_matched;
  for (std::size_t i = 0; i < paper.answers.size(); ++i) {
    std::vector<bool> matched;
    double accuracy = WordAccuracy(paper.answers[i], recognised, &matched);
    if (accuracy > best) {
      best = accuracy;
      best_index = i;
      best_matched = matched;
    }
  }
  std::vector<std::string> found;
  double coverage = KeywordCoverage(paper.keywords, recognised, &found);
  double share = paper.keywords.empty() ? best : 0.6 * best + 0.4 * coverage;

  Json::Value detail(Json::objectValue);
  Json::Value words(Json::arrayValue);
  for (std::size_t i = 0; i < paper.answers[best_index].size(); ++i) {
    Json::Value word(Json::objectValue);
    word["word"] = paper.answers[best_index][i];
    word["recognised"] = static_cast<bool>(best_matched[i]);
    word["score"] = best_matched[i] ? 100 : 0;
    words.append(word);
  }
  Json::Value keywords(Json::arrayValue);
  for (const std::string& k : found) keywords.append(k);
  detail["score"] = Percent(share);
  detail["word_accuracy"] = Percent(best);
  detail["best_answer"] = static_cast<int>(best_index);
  detail["keywords_found"] = keywords;
  detail["words"] = words;
  return detail;
}

}  // namespace

int Goodness(double alignmentScore) {
  // -0.5 per frame and better is as good as the model can tell; -5.5 and worse is nothing alike.
  return Percent((alignmentScore + 5.5) / 5.0);
}

std::string Scorer::Handle(const std::string& text) {
  Request request;
  Json::Value detail(Json::objectValue);
  int code = kScored;
  Category category = Category::kReadAloud;
  Paper paper;
  std::vector<int16_t> samples;
  bool may_write = false;
  if (!ParseRequest(text, request)) {
    code = kRequestInvalid;
  } else if (!CategoryFromName(request.category, category)) {
    code = kUnknownCategory;
  } else if (!OutputAllowed(request.dist, {request.snd, request.paper, request.usermodel}) ||
             !OutputAllowed(request.usermodel, {request.snd, request.paper, request.dist}) ||
             (!request.dist.empty() && request.dist == request.usermodel)) {
    code = kOutputRefused;
  } else {
    may_write = true;
    code = ReadPaper(request.paper, category, paper);
    if (code == kScored) code = ReadRecording(request.snd, samples);
    if (code == kScored && samples.size() < kShortestSamples) code = kRecordingTooShort;
    if (code == kScored && PeakLevelDb(samples) < kSilenceDb) code = kRecordingSilent;
    if (code == kScored && !(recogniser_ && recogniser_->loaded())) code = kModelUnavailable;
  }

  if (code == kScored) {
    std::vector<float> mean;
    bool damaged = false;
    if (ReadUserModel(request.usermodel, mean, damaged)) recogniser_->SetCepstralMean(mean);
    std::string heard = recogniser_->Recognise(samples);
    std::vector<float> learned = recogniser_->CepstralMean();
    std::vector<std::string> recognised = Words(heard);
    if (category == Category::kReadAloud) {
      bool any_known = std::any_of(paper.text.begin(), paper.text.end(),
                                   [&](const std::string& w) { return recogniser_->Knows(w); });
      if (any_known)
        detail = ScoreReading(*recogniser_, samples, paper, recognised);
      else
        code = kPaperInvalid;
    } else {
      detail = ScoreFreeAnswer(paper, recognised);
    }
    detail["recognised"] = heard;
    // A damaged model is the candidate's file, not ours to replace.
    if (code == kScored && !request.usermodel.empty() && !damaged)
      WriteUserModel(request.usermodel, learned);
  }

  if (may_write && !request.dist.empty()) {
    // Every outcome is written, so a page never reads an earlier item's score as this one's.
    if (code != kScored) detail = Json::Value(Json::objectValue), detail["score"] = 0;
    detail["identity"] = request.identity;
    detail["category"] = request.category;
    detail["err_code"] = code;
    if (!WriteFileAtomically(request.dist, Compact(detail) + "\n") && code == kScored)
      code = kOutputFailed;
  }

  Json::Value answer(Json::objectValue);
  answer["identity"] = request.identity;
  answer["err_code"] = code;
  return Compact(answer);
}

}  // namespace mirvane

// The engine's rules that need no recogniser: requests, papers, recordings and the files it may
// write.
#include <gtest/gtest.h>

#include <json/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

#include "platform/mirvane/audio_input.h"
#include "platform/mirvane/engine_codes.h"
#include "platform/mirvane/paper.h"
#include "platform/mirvane/result_files.h"
#include "platform/mirvane/scorer.h"
#include "platform/mirvane/text_match.h"
#include "tests/platform/mirvane/speech_fixture.h"

using namespace mirvane;

namespace {

Json::Value Parse(const std::string& text) {
  Json::Value value;
  Json::Reader().parse(text, value);
  return value;
}

class ScorerRules : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = MakeTempFolder();
    MakeTone(folder + "speech.wav", 2.0, 0.3);
    WriteAll(folder + "read.json", "{\"text\":\"Hello world.\"}");
  }
  void TearDown() override { system(("rm -rf " + folder).c_str()); }

  // The answer code for a request with these members (the rest defaults to a valid request).
  int Code(Json::Value request) {
    Json::Value defaults(Json::objectValue);
    defaults["identity"] = "q1";
    defaults["snd_file"] = folder + "speech.wav";
    defaults["paper_file"] = folder + "read.json";
    defaults["category"] = "read_aloud";
    for (const std::string& name : defaults.getMemberNames())
      if (!request.isMember(name)) request[name] = defaults[name];
    Scorer scorer(nullptr);
    Json::Value answer = Parse(scorer.Handle(Json::FastWriter().write(request)));
    EXPECT_EQ(answer["identity"].asString(), request["identity"].asString());
    return answer["err_code"].asInt();
  }

  std::string folder;
};

}  // namespace

TEST(TextMatch, WordAccuracyCountsEveryKindOfError) {
  std::vector<std::string> expected = Words("The quick brown fox.");
  ASSERT_EQ(expected, (std::vector<std::string>{"the", "quick", "brown", "fox"}));
  std::vector<bool> matched;
  EXPECT_DOUBLE_EQ(WordAccuracy(expected, expected, &matched), 1.0);
  EXPECT_DOUBLE_EQ(WordAccuracy(expected, Words("the quick fox"), &matched), 0.75);
  EXPECT_EQ(matched, (std::vector<bool>{true, true, false, true}));
  EXPECT_DOUBLE_EQ(WordAccuracy(expected, Words("a the quick brown fox"), nullptr), 0.75);
  EXPECT_DOUBLE_EQ(WordAccuracy(expected, Words("one two three four five six"), nullptr), 0.0);
  EXPECT_DOUBLE_EQ(WordAccuracy({}, expected, nullptr), 0.0);
  std::vector<std::string> found;
  EXPECT_DOUBLE_EQ(KeywordCoverage({"fox", "dog"}, expected, &found), 0.5);
  EXPECT_EQ(found, std::vector<std::string>{"fox"});
  EXPECT_DOUBLE_EQ(KeywordCoverage({}, expected, nullptr), 1.0);
  EXPECT_EQ(Words("don't  stop-it 'quoted' 中文 x2"),
            (std::vector<std::string>{"don't", "stop", "it", "quoted", "x2"}));
}

TEST(AudioInput, ResamplingKeepsSpeechBandAndRemovesWhatCannotBeKept) {
  auto tone = [](double hz, int rate) {
    std::vector<float> out(static_cast<std::size_t>(rate));
    for (std::size_t i = 0; i < out.size(); ++i)
      out[i] = 0.5f * static_cast<float>(std::sin(2 * M_PI * hz * i / rate));
    return out;
  };
  auto rms = [](const std::vector<float>& v) {
    double sum = 0;
    for (std::size_t i = 1000; i + 1000 < v.size(); ++i) sum += v[i] * v[i];
    return std::sqrt(sum / (v.size() - 2000));
  };
  std::vector<float> kept = Resample(tone(1000, 48000), 48000);
  EXPECT_EQ(kept.size(), 16000u);
  EXPECT_NEAR(rms(kept), 0.5 / std::sqrt(2.0), 0.01);
  EXPECT_LT(rms(Resample(tone(12000, 48000), 48000)), 0.01);  // above 8 kHz: aliasing removed
  EXPECT_EQ(Resample(tone(1000, 8000), 8000).size(), 16000u);
}

TEST_F(ScorerRules, RequestsThatCannotBeScoredSayWhy) {
  EXPECT_EQ(Code(Json::Value(Json::objectValue)), kModelUnavailable);  // all checks passed
  Json::Value request;
  request["category"] = "opinion";
  EXPECT_EQ(Code(request), kUnknownCategory);
  request = Json::Value();
  request["snd_file"] = 7;
  EXPECT_EQ(Code(request), kRequestInvalid);
  request = Json::Value();
  request["snd_file"] = folder + "none.wav";
  EXPECT_EQ(Code(request), kRecordingMissing);
  request["snd_file"] = folder;
  EXPECT_EQ(Code(request), kRecordingUnreadable);
  WriteAll(folder + "text.wav", "not a sound file");
  request["snd_file"] = folder + "text.wav";
  EXPECT_EQ(Code(request), kRecordingUnreadable);
  MakeTone(folder + "silent.wav", 3.0, 0.0);
  request["snd_file"] = folder + "silent.wav";
  EXPECT_EQ(Code(request), kRecordingSilent);
  MakeTone(folder + "click.wav", 0.1, 0.3);
  request["snd_file"] = folder + "click.wav";
  EXPECT_EQ(Code(request), kRecordingTooShort);

  request = Json::Value();
  request["paper_file"] = "";
  EXPECT_EQ(Code(request), kPaperMissing);
  request["paper_file"] = folder + "none.json";
  EXPECT_EQ(Code(request), kPaperMissing);
  WriteAll(folder + "free.json", "{\"answers\":[\"yes\"]}");
  request["paper_file"] = folder + "free.json";  // a free answer's paper has no text to read
  EXPECT_EQ(Code(request), kPaperInvalid);
  request["category"] = "simple_expression";
  EXPECT_EQ(Code(request), kModelUnavailable);
  WriteAll(folder + "broken.json", "{\"answers\":");
  request["paper_file"] = folder + "broken.json";
  EXPECT_EQ(Code(request), kPaperInvalid);
}

TEST_F(ScorerRules, WritesOnlyRegularFilesThatAreNoInputs) {
  std::string before = ReadAll(folder + "speech.wav");
  Json::Value request;
  request["dist_file"] = folder + "speech.wav";
  EXPECT_EQ(Code(request), kOutputRefused);
  ASSERT_EQ(symlink((folder + "speech.wav").c_str(), (folder + "alias.json").c_str()), 0);
  request["dist_file"] = folder + "alias.json";
  EXPECT_EQ(Code(request), kOutputRefused);
  request["dist_file"] = folder;
  EXPECT_EQ(Code(request), kOutputRefused);
  request["dist_file"] = "/dev/null";
  EXPECT_EQ(Code(request), kOutputRefused);
  request["dist_file"] = folder + "later.wav";  // a recording that is not there yet
  request["snd_file"] = folder + "later.wav";
  EXPECT_EQ(Code(request), kOutputRefused);
  EXPECT_FALSE(std::ifstream(folder + "later.wav").good());
  request = Json::Value();
  request["usermodel_file"] = folder + "read.json";
  EXPECT_EQ(Code(request), kOutputRefused);
  request["usermodel_file"] = folder + "model.json";
  request["dist_file"] = folder + "model.json";
  EXPECT_EQ(Code(request), kOutputRefused);
  EXPECT_EQ(ReadAll(folder + "speech.wav"), before);
  EXPECT_EQ(ReadAll(folder + "read.json"), "{\"text\":\"Hello world.\"}");
}

TEST_F(ScorerRules, DistFileTellsEveryOutcomeSoNoEarlierScoreIsReadAsThisOne) {
  WriteAll(folder + "out/dist.json", "");
  Json::Value request;
  request["dist_file"] = folder + "new/dist.json";
  request["snd_file"] = folder + "none.wav";
  EXPECT_EQ(Code(request), kRecordingMissing);
  Json::Value dist = Parse(ReadAll(folder + "new/dist.json"));
  EXPECT_EQ(dist["err_code"].asInt(), kRecordingMissing);
  EXPECT_EQ(dist["score"].asInt(), 0);
  EXPECT_EQ(dist["identity"].asString(), "q1");
}

TEST_F(ScorerRules, UserModelRoundTripAndDamagedModelsAreLeftAlone) {
  std::string path = folder + "user.json";
  std::vector<float> mean{41.5f, -5.25f, 0.125f};
  ASSERT_TRUE(WriteUserModel(path, mean));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  std::vector<float> back;
  bool damaged = true;
  ASSERT_TRUE(ReadUserModel(path, back, damaged));
  EXPECT_FALSE(damaged);
  EXPECT_EQ(back, mean);
  WriteAll(path, "{\"cepstral_mean\":[1,\"x\"]}");
  EXPECT_FALSE(ReadUserModel(path, back, damaged));
  EXPECT_TRUE(damaged);
  EXPECT_FALSE(ReadUserModel(folder + "none.json", back, damaged));
  EXPECT_FALSE(damaged);
}

TEST(ResultFiles, AtomicWriteLeavesNoTemporaryFileBehind) {
  std::string folder = MakeTempFolder();
  ASSERT_TRUE(WriteFileAtomically(folder + "a/b/dist.json", "one"));
  ASSERT_TRUE(WriteFileAtomically(folder + "a/b/dist.json", "two"));
  EXPECT_EQ(ReadAll(folder + "a/b/dist.json"), "two");
  EXPECT_EQ(system(("test $(ls " + folder + "a/b | wc -l) -eq 1").c_str()), 0);
  EXPECT_FALSE(WriteFileAtomically(folder + "a/b/dist.json/x", "x"));  // a file is no folder
  system(("rm -rf " + folder).c_str());
}

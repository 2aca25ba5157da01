// Scoring real speech: flite's and espeak-ng's voices read through PocketSphinx's US English
// model, and the engine process answering over the transport.
#include <gtest/gtest.h>

#include <json/json.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/mirvane/engine_codes.h"
#include "platform/mirvane/recogniser.h"
#include "platform/mirvane/scorer.h"
#include "platform/mirvane_transport/transport_client.h"
#include "tests/platform/mirvane/speech_fixture.h"

using namespace mirvane;

extern char** environ;

namespace {

const char kExpected[] = "The quick brown fox jumps over the lazy dog.";
const char kOther[] = "I would like a cup of tea with milk please.";

Json::Value Parse(const std::string& text) {
  Json::Value value;
  Json::Reader().parse(text, value);
  return value;
}

class SpeechScoring : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder = new std::string(MakeTempFolder());
    ASSERT_TRUE(MakeSpeech(kExpected, *folder + "expected.wav"));
    ASSERT_TRUE(MakeSpeech(kOther, *folder + "other.wav"));
    ASSERT_TRUE(MakeSpeech(kExpected, *folder + "expected48.wav", 48000, 2));
    WriteAll(*folder + "read.json", std::string("{\"text\":\"") + kExpected + "\"}");
    WriteAll(*folder + "free.json",
             "{\"answers\":[\"A quick brown fox jumps over a lazy dog\","
             "\"The fox jumps over the dog\"],\"keywords\":[\"fox\",\"dog\"]}");
    recogniser = new Recogniser("/usr/share/pocketsphinx/model/en-us/");
  }
  static void TearDownTestSuite() {
    delete recogniser;
    system(("rm -rf " + *folder).c_str());
    delete folder;
  }

  // Scores the recording; returns the dist file's content.
  Json::Value Score(const std::string& recording, const std::string& paper,
                    const std::string& category, const std::string& usermodel = "") {
    Json::Value request(Json::objectValue);
    request["identity"] = "item";
    request["snd_file"] = *folder + recording;
    request["paper_file"] = *folder + paper;
    request["dist_file"] = *folder + "dist.json";
    request["usermodel_file"] = usermodel.empty() ? "" : *folder + usermodel;
    request["category"] = category;
    Scorer scorer(recogniser);
    Json::Value answer = Parse(scorer.Handle(Json::FastWriter().write(request)));
    EXPECT_EQ(answer["identity"].asString(), "item");
    EXPECT_EQ(answer["err_code"].asInt(), kScored);
    return Parse(ReadAll(*folder + "dist.json"));
  }

  static std::string* folder;
  static Recogniser* recogniser;
};

std::string* SpeechScoring::folder = nullptr;
Recogniser* SpeechScoring::recogniser = nullptr;

}  // namespace

TEST_F(SpeechScoring, ReadingTheSentenceScoresHighAndOtherWordsLow) {
  ASSERT_TRUE(recogniser->loaded());
  std::string recording = ReadAll(*folder + "expected.wav");
  Json::Value good = Score("expected.wav", "read.json", "read_aloud");
  EXPECT_GE(good["score"].asInt(), 70) << good;
  EXPECT_EQ(good["word_accuracy"].asInt(), 100) << good;
  EXPECT_EQ(good["recognised"].asString(), "the quick brown fox jumps over the lazy dog");
  ASSERT_EQ(good["words"].size(), 9u);
  EXPECT_EQ(good["words"][3]["word"].asString(), "fox");
  EXPECT_GE(good["words"][3]["score"].asInt(), 50) << good;
  EXPECT_EQ(good["err_code"].asInt(), 0);
  EXPECT_EQ(ReadAll(*folder + "expected.wav"), recording);  // never written

  Json::Value bad = Score("other.wav", "read.json", "read_aloud");
  EXPECT_LE(bad["score"].asInt(), 40) << bad;
  EXPECT_LT(bad["word_accuracy"].asInt(), 30) << bad;

  // A recording at another rate and with two channels is the same speech.
  Json::Value stereo = Score("expected48.wav", "read.json", "read_aloud");
  EXPECT_GE(stereo["score"].asInt(), 70) << stereo;
}

// Reading half the text earns about half, whoever reads: flite's voices, which the recogniser
// follows well, and espeak-ng's, which it follows badly.
TEST_F(SpeechScoring, HalfAReadingScoresAboutHalfOverSeveralVoices) {
  const char text[] =
      "I usually drink a cup of tea with milk in the morning, then I walk to school.";
  const char* readings[] = {text, "I usually drink a cup of tea with milk",
                            "My brother plays football in the park every Sunday afternoon."};
  WriteAll(*folder + "long.json", std::string("{\"text\":\"") + text + "\"}");
  const std::string voices[] = {"slt", "awb", "kal16", "espeak-ng:en-us", "espeak-ng:en-gb-x-rp"};
  double halves = 0;
  for (const std::string& voice : voices) {
    int scores[3];
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(MakeSpeech(readings[i], *folder + "voice.wav", 16000, 1, voice));
      scores[i] = Score("voice.wav", "long.json", "read_aloud")["score"].asInt();
    }
    std::printf("%-21s whole %3d  half %3d  other sentence %3d\n", voice.c_str(), scores[0],
                scores[1], scores[2]);
    bool flite = voice.find(':') == std::string::npos;
    EXPECT_TRUE(!flite || scores[0] >= 70) << voice << " whole " << scores[0];
    EXPECT_LE(scores[2], 40) << voice;
    // Near half of what the same reader earns for the whole text, however well it reads (a word
    // more or less recognised moves a poorly followed voice's half by several points).
    EXPECT_GE(scores[1], 0.35 * scores[0]) << voice;
    EXPECT_LE(scores[1], 0.75 * scores[0]) << voice;
    halves += scores[1];
  }
  double average = halves / std::size(voices);
  std::printf("half a reading on average %.1f\n", average);
  EXPECT_GE(average, 35);
  EXPECT_LE(average, 65);
}

TEST_F(SpeechScoring, FreeAnswerMeetsReferencesAndKeyWords) {
  Json::Value good = Score("expected.wav", "free.json", "simple_expression");
  EXPECT_GE(good["score"].asInt(), 70) << good;
  EXPECT_EQ(good["keywords_found"].size(), 2u) << good;
  EXPECT_EQ(good["best_answer"].asInt(), 0);
  Json::Value bad = Score("other.wav", "free.json", "simple_expression");
  EXPECT_LE(bad["score"].asInt(), 40) << bad;
  EXPECT_EQ(bad["keywords_found"].size(), 0u) << bad;
}

namespace {

// JSON nested two thousand levels deep around |inner|.
std::string Nested(const std::string& inner) {
  return std::string(2000, '[') + inner + std::string(2000, ']');
}

}  // namespace

TEST_F(SpeechScoring, DeeplyNestedPaperOrUserModelIsRefusedNotFatal) {
  WriteAll(*folder + "deep.json", "{\"text\":" + Nested("\"fox\"") + "}");
  WriteAll(*folder + "dist.json", "{\"err_code\":0,\"identity\":\"item\",\"score\":95}\n");
  Json::Value request(Json::objectValue);
  request["identity"] = "item";
  request["snd_file"] = *folder + "expected.wav";
  request["paper_file"] = *folder + "deep.json";
  request["dist_file"] = *folder + "dist.json";
  request["category"] = "read_aloud";
  Scorer scorer(recogniser);
  Json::Value answer = Parse(scorer.Handle(Json::FastWriter().write(request)));
  EXPECT_EQ(answer["err_code"].asInt(), kPaperInvalid);
  // The earlier score does not stay behind looking like this item's.
  Json::Value dist = Parse(ReadAll(*folder + "dist.json"));
  EXPECT_EQ(dist["err_code"].asInt(), kPaperInvalid) << dist;
  EXPECT_EQ(dist["score"].asInt(), 0) << dist;

  // A user model nobody could have written is no model: the item is scored without it and
  // the file is left as it is.
  const std::string model = "{\"cepstral_mean\":" + Nested("41.0") + "}";
  WriteAll(*folder + "deepuser.json", model);
  Json::Value scored = Score("expected.wav", "read.json", "read_aloud", "deepuser.json");
  EXPECT_GE(scored["score"].asInt(), 70) << scored;
  EXPECT_EQ(ReadAll(*folder + "deepuser.json"), model);
}

TEST_F(SpeechScoring, UserModelCarriesTheCepstralMeanToTheNextItem) {
  Score("expected.wav", "read.json", "read_aloud", "user.json");
  Json::Value model = Parse(ReadAll(*folder + "user.json"));
  ASSERT_EQ(model["cepstral_mean"].size(), 13u) << model;
  // The mean moved from the model's cold start towards this speaker.
  EXPECT_NE(model["cepstral_mean"][0].asDouble(), 41.0);
  Json::Value again = Score("expected.wav", "read.json", "read_aloud", "user.json");
  EXPECT_GE(again["score"].asInt(), 70) << again;
}

namespace {

int g_answers = 0;
std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<std::pair<int, std::wstring>> g_messages;

int Receive(int number, const wchar_t* text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_messages.emplace_back(number, text);
  ++g_answers;
  g_changed.notify_all();
  return 0;
}

}  // namespace

TEST_F(SpeechScoring, EngineAnswersHandshakeAndRequestOverTheTransport) {
  std::string runtime = *folder + "run";
  ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  char* argv[] = {const_cast<char*>(ENGINE), nullptr};
  pid_t engine;
  ASSERT_EQ(posix_spawn(&engine, ENGINE, nullptr, nullptr, argv, environ), 0);

  TransportClient client;
  ASSERT_TRUE(client.SetParam(L"recv_msg",
                              std::to_wstring(reinterpret_cast<uintptr_t>(&Receive))));
  ASSERT_TRUE(client.Open(L"ut_mirvane", 0));
  bool shook = false;
  for (int i = 0; i < 50 && !shook; ++i) {
    client.Send(8888, L"ut");
    std::unique_lock<std::mutex> lock(g_mutex);
    shook = g_changed.wait_for(lock, std::chrono::milliseconds(200), [] { return g_answers > 0; });
  }
  ASSERT_TRUE(shook);
  // A request nested past the reader's limit is refused, and the engine answers the next one.
  ASSERT_TRUE(client.Send(3, L"{\"identity\":" + std::wstring(2000, L'[') +
                                 std::wstring(2000, L']') + L"}"));
  std::wstring request = L"{\"identity\":\"问1\",\"snd_file\":\"" +
                         std::wstring(folder->begin(), folder->end()) +
                         L"expected.wav\",\"paper_file\":\"" +
                         std::wstring(folder->begin(), folder->end()) +
                         L"read.json\",\"category\":\"read_aloud\"}";
  ASSERT_TRUE(client.Send(3, request));
  {
    std::unique_lock<std::mutex> lock(g_mutex);
    auto results = [] {
      return std::count_if(g_messages.begin(), g_messages.end(),
                           [](const auto& m) { return m.first == 2900; });
    };
    ASSERT_TRUE(g_changed.wait_for(lock, std::chrono::seconds(60), [&] { return results() == 2; }));
    EXPECT_EQ(g_messages.front(), std::make_pair(8888, std::wstring(L"ut")));
    EXPECT_EQ(g_messages[g_messages.size() - 2].second, L"{\"err_code\":1,\"identity\":\"\"}");
    EXPECT_EQ(g_messages.back().second, L"{\"err_code\":0,\"identity\":\"问1\"}");
  }
  client.Close();
  kill(engine, SIGTERM);
  int status = 0;
  waitpid(engine, &status, 0);
  unsetenv("XDG_RUNTIME_DIR");
}

// The five sound commands over the fake library: what they hand the library, what they answer,
// the slots they choose, the queued evaluation items, names kept in their folders.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <fstream>

#include "audio/sound_commands.h"
#include "shell/commands/dispatcher.h"
#include "shell/core/helpers.h"
#include "tests/audio/fake_sound_library.h"

namespace {

const char kOk[] = R"({"data":"操作成功","flag":1,"flagMsg":""})";

void WriteWhole(const std::string& path, const std::string& text) {
  MakeDirs(path.substr(0, path.rfind('/') + 1), false, true);
  std::ofstream(path, std::ios::binary) << text;
}

class SoundCommands : public SoundFixture {
 protected:
  void SetUp() override {
    SoundFixture::SetUp();
    session = state.Session();
    FakeSoundLibrary::Clear();  // registration's own calls are not the commands'
  }
  // The library calls other than the notification switches.
  static std::vector<std::string> Operations() {
    std::vector<std::string> out;
    for (const std::string& call : FakeSoundLibrary::Calls())
      if (call.rfind("sndSetParam", 0) != 0) out.push_back(call);
    return out;
  }
  std::vector<EvalItem> Queue() {
    std::lock_guard<std::mutex> lock(state.evalQueueLock);
    return state.evalQueue;
  }

  SessionState session;
};

TEST(SoundRules, ScaledPlayValueIsWholeSecondsTruncated) {
  EXPECT_EQ(ScaledPlayValue(12345), 1234);
  EXPECT_EQ(ScaledPlayValue(0), 0);
  EXPECT_EQ(ScaledPlayValue(9), 0);
  EXPECT_EQ(ScaledPlayValue(-25), -1);
  EXPECT_EQ(ScaledPlayValue(INT_MAX), INT_MAX / 10);
}

TEST(SoundRules, RecordLengthIsTheLeadingNumberTimesTen) {
  EXPECT_EQ(RecordLength("30"), 300);
  EXPECT_EQ(RecordLength(""), 0);
  EXPECT_EQ(RecordLength("abc"), 0);
  EXPECT_EQ(RecordLength(" 5s"), 50);
  EXPECT_EQ(RecordLength("2.5"), 20);
  EXPECT_EQ(RecordLength("-3"), -30);
  EXPECT_EQ(RecordLength("99999999999999999999"), INT_MAX);
  EXPECT_EQ(RecordLength("-99999999999999999999"), INT_MIN);
}

TEST(SoundRules, PageFileNamesStayInTheirFolder) {
  std::string out;
  EXPECT_TRUE(PageFileName("a\\b/c.wav", out));
  EXPECT_EQ(out, "a/b/c.wav");
  for (const char* bad : {"", "/etc/passwd", "\\x.wav", "../x.wav", "a/../../x.wav", "a\\..\\x",
                          "C:x.wav"})
    EXPECT_FALSE(PageFileName(bad, out)) << bad;
}

TEST_F(SoundCommands, PlayPrefersTheSessionFolderAndAnswersWholeSeconds) {
  WriteWhole(session.tempFolder + "q.wav", "RIFF");
  WriteWhole(session.cacheFolder + "q.wav", "RIFF");
  FakeSoundLibrary::playValue = 12345;
  EXPECT_EQ(Dispatch("play", R"({"name":"q.wav"})"), R"({"data":"1234","flag":1,"flagMsg":""})");
  EXPECT_EQ(Operations(), std::vector<std::string>{"sndPlay(" + session.tempFolder + "q.wav,0)"});
  EXPECT_EQ(FakeSoundLibrary::Switch("notify_energy"), "1");
  EXPECT_STREQ(FakeSoundLibrary::LastRequest(), R"({"name":"q.wav"})");
}

TEST_F(SoundCommands, PlayFallsBackToTheCacheFolderAndRefusesWhatIsInNeither) {
  WriteWhole(session.cacheFolder + "sub/q.mp3", "ID3");
  EXPECT_EQ(Dispatch("play", R"({"name":"sub\\q.mp3"})"),
            R"({"data":"0","flag":1,"flagMsg":""})");
  EXPECT_EQ(Operations(), std::vector<std::string>{"sndPlay(" + session.cacheFolder + "sub/q.mp3,0)"});
  const char* missing = R"({"data":"","flag":0,"flagMsg":"放音失败，指定音频文件不存在"})";
  EXPECT_EQ(Dispatch("play", R"({"name":"none.wav"})"), missing);
  EXPECT_EQ(Dispatch("play", R"({"name":"../cache/sub/q.mp3"})"), missing);
  EXPECT_EQ(Dispatch("play", ""), missing);
  EXPECT_EQ(Operations().size(), 1u);
}

TEST_F(SoundCommands, PlayThatTheLibraryCannotStartFailsAndItsEndNoticeStillArrives) {
  WriteWhole(session.cacheFolder + "bad.wav", "not sound");
  FakeSoundLibrary::playResult = -1;
  EXPECT_EQ(Dispatch("play", R"({"name":"bad.wav","callback_func_err":"e","callback":1})"),
            R"({"data":"","flag":0,"flagMsg":"放音失败"})");
  Notify(16916, L"{\"err_code\":39169}");
  EXPECT_EQ(PageCalls(), std::vector<std::string>{"e('1')"});
}

TEST_F(SoundCommands, EachCommandSetsTheSlotsOfTheKeysPresent) {
  WriteWhole(session.cacheFolder + "q.wav", "RIFF");
  Dispatch("play", R"({"name":"q.wav","notify_cursor":"c","notify_waveform":null})");
  SoundCallbacks::Slots s = sound.slots();
  EXPECT_EQ(s.onCursor, &SoundCallbacks::OnSoundCursor);
  EXPECT_EQ(s.onWaveform, &SoundCallbacks::OnSoundWaveform);
  EXPECT_EQ(s.onPlayDone, nullptr);
  EXPECT_EQ(s.onEnergy, nullptr);
  EXPECT_EQ(s.onRecordDone, nullptr);

  Dispatch("record", R"({"name":"r.wav","len":1,"callback_func":"d","notify_cursor":"c",
                          "notify_energy":"e","callback_func_err":"x"})");
  s = sound.slots();
  EXPECT_EQ(s.onCursor, nullptr);  // record never reports a position
  EXPECT_EQ(s.onRecordDone, &SoundCallbacks::OnSoundDone);
  EXPECT_EQ(s.onPlayDone, nullptr);
  EXPECT_EQ(s.onEnergy, &SoundCallbacks::OnSoundEnergy);
  EXPECT_EQ(s.onError, &SoundCallbacks::OnSoundError);
  EXPECT_EQ(s.onWaveform, nullptr);

  Dispatch("checkaudio", R"({"name":"r.wav","callback_func":"d"})");
  s = sound.slots();
  EXPECT_EQ(s.onAudioCheckDone, &SoundCallbacks::OnAudioCheckResult);
  EXPECT_EQ(s.onRecordDone, nullptr);
  EXPECT_EQ(s.onEnergy, nullptr);
}

TEST_F(SoundCommands, InvalidParamsChangeNothing) {
  sound.install(std::make_shared<const std::string>("{\"callback_func\":\"keep\"}"),
                SoundCallbacks::Slots());
  for (const char* word : {"play", "record", "checkaudio"}) {
    EXPECT_EQ(Dispatch(word, "{oops"), R"({"data":"","flag":0,"flagMsg":"解析json串参数失败"})");
    EXPECT_EQ(Dispatch(word, "[1]"), R"({"data":"","flag":0,"flagMsg":"解析json串参数失败"})");
  }
  EXPECT_EQ(*sound.request(), "{\"callback_func\":\"keep\"}");
  EXPECT_TRUE(FakeSoundLibrary::Calls().empty());
}

TEST_F(SoundCommands, RecordMakesItsFoldersAndHandsTenthsOfASecond) {
  EXPECT_EQ(Dispatch("record", R"({"name":"a/b\\c.wav","len":30})"), kOk);
  EXPECT_TRUE(IsExistingDir(session.answerFolder + "a/b/"));
  EXPECT_EQ(Operations(),
            std::vector<std::string>{"sndRecord(" + session.answerFolder + "a/b/c.wav,300)"});
  EXPECT_EQ(FakeSoundLibrary::Switch("notify_energy"), "1");
  EXPECT_EQ(FakeSoundLibrary::Switch("notify_waveform"), "1");
  EXPECT_EQ(Dispatch("record", R"({"name":"d.wav"})"), kOk);
  EXPECT_EQ(Operations().back(), "sndRecord(" + session.answerFolder + "d.wav,0)");
  EXPECT_EQ(Dispatch("record", R"({"name":"e.wav","len":"x1"})"), kOk);
  EXPECT_EQ(Operations().back(), "sndRecord(" + session.answerFolder + "e.wav,0)");
}

TEST_F(SoundCommands, RecordFailsWhenTheFolderOrTheDeviceCannotBeHad) {
  const char* failed = R"({"data":"","flag":0,"flagMsg":"录音失败"})";
  // A file where the folder should be.
  WriteWhole(session.answerFolder + "taken", "x");
  EXPECT_EQ(Dispatch("record", R"({"name":"taken/r.wav","len":5,"callback_func":"d"})"), failed);
  EXPECT_TRUE(Operations().empty());
  FakeSoundLibrary::recordResult = 1;
  EXPECT_EQ(Dispatch("record", R"({"name":"r.wav","len":5,"callback_func":"d"})"), failed);
  EXPECT_EQ(Operations().size(), 1u);
  for (const char* name : {"", "../r.wav", "/tmp/r.wav"})
    EXPECT_EQ(Dispatch("record", "{\"name\":\"" + std::string(name) + "\",\"len\":5}"), failed);
  EXPECT_EQ(Dispatch("record", ""), failed);
  EXPECT_EQ(Operations().size(), 1u);
}

// The answer document's files and anything but regular files never reach the library: the
// one would be destroyed, the other would hold the library for good.
TEST_F(SoundCommands, AnswerDocumentAndSpecialFilesAreRefused) {
  const char* recordFailed = R"({"data":"","flag":0,"flagMsg":"录音失败"})";
  const char* noFile = R"({"data":"","flag":0,"flagMsg":"放音失败，指定音频文件不存在"})";
  WriteWhole(session.answerFolder + "answer.xml", "<test/>");
  WriteWhole(session.answerFolder + ".answer.xml.tmp", "<test/>");
  ASSERT_EQ(mkfifo((session.answerFolder + "pipe.wav").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((session.cacheFolder + "pipe.wav").c_str(), 0600), 0);
  for (const char* name : {"answer.xml", ".answer.xml.tmp", "a/answer.xml", "pipe.wav"}) {
    std::string n = name;
    EXPECT_EQ(Dispatch("record", R"({"name":")" + n + R"(","len":5})"), recordFailed) << n;
    EXPECT_EQ(Dispatch("checkaudio", R"({"name":")" + n + R"("})"),
              R"({"data":")" + n + R"(","flag":0,"flagMsg":"放音失败，指定音频文件不存在"})")
        << n;
  }
  for (const char* dist : {"answer.xml", "x/.answer.xml.tmp"})
    EXPECT_EQ(Dispatch("record", R"({"name":"q.wav","eval_info":{"dist":")" +
                                     std::string(dist) + R"("}})"),
              recordFailed);
  EXPECT_EQ(Dispatch("record", R"({"name":"q.wav","eval_info":{"usermodel":"answer.xml"}})"),
            recordFailed);
  for (const char* name : {"answer/answer.xml", "pipe.wav", "/dev/zero"})
    EXPECT_EQ(Dispatch("play", R"({"name":")" + std::string(name) + R"("})"), noFile) << name;
  EXPECT_TRUE(Operations().empty());
  EXPECT_TRUE(Queue().empty());
}

TEST_F(SoundCommands, RecordQueuesOneEvaluationItemWithItsPaths) {
  EXPECT_EQ(Dispatch("record", R"({"name":"q1.wav","len":5,"eval_info":{"identity":"q1",
      "usermodel":"m.bin","dist":"d/q1.json","paper":"","param":{"x":1},"category":7}})"),
            R"({"data":"","flag":0,"flagMsg":"Type is not convertible to string"})");
  EXPECT_TRUE(Queue().empty());
  EXPECT_EQ(Dispatch("record", R"({"name":"q1.wav","len":5,"eval_info":{"identity":"q1",
      "usermodel":"m.bin","dist":"d/q1.json","paper":"","param":"p=1","category":7}})"),
            kOk);
  std::vector<EvalItem> queue = Queue();
  ASSERT_EQ(queue.size(), 1u);
  EXPECT_EQ(queue[0].identity, "q1");
  EXPECT_EQ(queue[0].snd_file, session.answerFolder + "q1.wav");
  EXPECT_EQ(queue[0].paper_file, "");
  EXPECT_EQ(queue[0].dist_file, session.answerFolder + "d/q1.json");
  EXPECT_EQ(queue[0].usermodel_file, session.answerFolder + "m.bin");
  EXPECT_EQ(queue[0].category, "7");
  EXPECT_EQ(queue[0].eval_params, "p=1");
  EXPECT_EQ(queue[0].notify_energy, 0);

  EXPECT_EQ(Dispatch("record", R"({"name":"q2.wav","eval_info":{"paper":"p/1.xml"}})"), kOk);
  ASSERT_EQ(Queue().size(), 2u);
  EXPECT_EQ(Queue()[1].paper_file, session.cacheFolder + "p/1.xml");
  EXPECT_EQ(Queue()[1].dist_file, "");
  // A name of the item that would leave its folder refuses the whole recording.
  EXPECT_EQ(Dispatch("record", R"({"name":"q3.wav","eval_info":{"dist":"../../x"}})"),
            R"({"data":"","flag":0,"flagMsg":"录音失败"})");
  EXPECT_EQ(Queue().size(), 2u);
  EXPECT_EQ(Operations().size(), 2u);
}

TEST_F(SoundCommands, CheckAudioAnswersAndItsResultArrivesLater) {
  const char* missing =
      R"({"data":"gone.wav","flag":0,"flagMsg":"放音失败，指定音频文件不存在"})";
  EXPECT_EQ(Dispatch("checkaudio", R"({"name":"gone.wav"})"), missing);
  EXPECT_EQ(Dispatch("checkaudio", R"({"name":"../x.wav"})"),
            R"({"data":"../x.wav","flag":0,"flagMsg":"放音失败，指定音频文件不存在"})");
  EXPECT_TRUE(Operations().empty());

  WriteWhole(session.answerFolder + "r.wav", "RIFF");
  EXPECT_EQ(Dispatch("checkaudio", R"({"name":"r.wav","callback_func":"verdict"})"), kOk);
  EXPECT_EQ(Operations(), std::vector<std::string>{"sndAudiocheck(" + session.answerFolder +
                                                   "r.wav,0)"});
  EXPECT_EQ(FakeSoundLibrary::Switch("notify_energy"), "0");
  EXPECT_EQ(FakeSoundLibrary::Switch("notify_waveform"), "0");
  // The command is over and deleted by the next dispatch; its text lives on for the result.
  Dispatch("stopplay", R"({"callback_func":"s"})");
  Notify(16934, L"{\"err_code\":2}");
  EXPECT_EQ(PageCalls(), (std::vector<std::string>{"s('')", "verdict('2')"}));

  FakeSoundLibrary::checkResult = 1;
  EXPECT_EQ(Dispatch("checkaudio", R"({"name":"r.wav"})"),
            R"({"data":"r.wav","flag":0,"flagMsg":"音质检测失败"})");
}

TEST_F(SoundCommands, AfterCheckAudioAPlayGetsNoWaveform) {
  WriteWhole(session.answerFolder + "r.wav", "RIFF");
  WriteWhole(session.cacheFolder + "q.wav", "RIFF");
  Dispatch("checkaudio", R"({"name":"r.wav"})");
  Dispatch("play", R"({"name":"q.wav"})");
  EXPECT_EQ(FakeSoundLibrary::Switch("notify_waveform"), "0");
  EXPECT_EQ(FakeSoundLibrary::Switch("notify_energy"), "1");
}

TEST_F(SoundCommands, StopSilencesThePageBeforeTheLibraryStops) {
  WriteWhole(session.cacheFolder + "q.wav", "RIFF");
  EXPECT_EQ(Dispatch("play", R"({"name":"q.wav","callback_func":"done",
                                  "callback_func_err":"err","notify_cursor":"pos"})",
                     "1"),
            R"({"data":"0","flag":1,"flagMsg":""})");
  Notify(16902, L"5");
  // A type "1" stopplay stops the play first, then calls its own function once.
  EXPECT_EQ(Dispatch("stopplay", R"({"callback_func":"stopped","callback":"x"})", "1"), kOk);
  EXPECT_EQ(Operations().back(), "sndStop()");
  Notify(16916, L"{\"err_code\":39169}");
  Notify(16902, L"6");
  EXPECT_EQ(PageCalls(), (std::vector<std::string>{"pos('5')", "stopped('x')"}));
}

TEST_F(SoundCommands, StopNoticesCallThePageOnlyWithJsonParams) {
  EXPECT_EQ(Dispatch("stoprecord", R"({"callback_func":"done","callback":"x"})"), kOk);
  EXPECT_EQ(Dispatch("stopplay", ""),
            R"({"data":"","flag":0,"flagMsg":"解析json串参数失败"})");
  EXPECT_EQ(Dispatch("stopplay", "{no"),
            R"({"data":"","flag":0,"flagMsg":"解析json串参数失败"})");
  EXPECT_EQ(PageCalls(), std::vector<std::string>{"done('x')"});
  EXPECT_TRUE(FakeSoundLibrary::Calls().empty());
}

TEST_F(SoundCommands, WithoutTheLibraryTheSoundCommandsFail) {
  SoundCallbacks bare(&window);
  state.soundCallbacks = &bare;
  WriteWhole(session.cacheFolder + "q.wav", "RIFF");
  WriteWhole(session.answerFolder + "r.wav", "RIFF");
  EXPECT_EQ(Dispatch("play", R"({"name":"q.wav"})"),
            R"({"data":"","flag":0,"flagMsg":"放音失败"})");
  EXPECT_EQ(Dispatch("record", R"({"name":"n.wav","len":3})"),
            R"({"data":"","flag":0,"flagMsg":"录音失败"})");
  EXPECT_EQ(Dispatch("checkaudio", R"({"name":"r.wav"})"),
            R"({"data":"r.wav","flag":0,"flagMsg":"音质检测失败"})");
  StopAllCommands(state, [] {});
  state.soundCallbacks = &sound;
  EXPECT_TRUE(FakeSoundLibrary::Calls().empty());
}

}  // namespace

// The notification table: registration, dispatch by number, the page-call texts, and what
// keeps a notification from reading a replaced text or calling a page after a stop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "tests/audio/fake_sound_library.h"

namespace {

using Slots = SoundCallbacks::Slots;

class Notifications : public SoundFixture {
 protected:
  // A sound operation whose request text is |params|, with the handlers each key asks for.
  void Begin(const std::string& params, const Slots& slots) {
    sound.install(std::make_shared<const std::string>(params), slots);
  }
  static Slots AllSlots() {
    Slots s;
    s.onPlayDone = &SoundCallbacks::OnSoundDone;
    s.onCursor = &SoundCallbacks::OnSoundCursor;
    s.onWaveform = &SoundCallbacks::OnSoundWaveform;
    s.onRecordDone = &SoundCallbacks::OnSoundDone;
    s.onEnergy = &SoundCallbacks::OnSoundEnergy;
    s.onAudioCheckDone = &SoundCallbacks::OnAudioCheckResult;
    s.onError = &SoundCallbacks::OnSoundError;
    return s;
  }
};

TEST_F(Notifications, RegistrationHandsTheWholeAddressAndSwitchesEverythingOn) {
  std::vector<std::string> calls = FakeSoundLibrary::Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0], "sndSetParam(notify," +
                          std::to_string(reinterpret_cast<std::intptr_t>(&OnSoundNotify)) + ")");
  EXPECT_EQ(calls[1], "sndSetParam(notify_waveform,1)");
  EXPECT_EQ(calls[2], "sndSetParam(notify_curplaypos,1)");
  EXPECT_EQ(calls[3], "sndSetParam(notify_energy,1)");
  EXPECT_EQ(FakeSoundLibrary::Procedure(), &OnSoundNotify);
  EXPECT_TRUE(sound.available());
}

TEST_F(Notifications, WithoutALibraryNothingIsRegisteredAndEveryOperationFails) {
  SoundCallbacks bare(&window);
  EXPECT_FALSE(bare.registerNotify(SoundFunctions(), OnSoundNotify));
  EXPECT_FALSE(bare.available());
  int value = 5;
  EXPECT_FALSE(bare.play(L"/a.wav", "{}", value));
  EXPECT_EQ(value, 0);
  EXPECT_FALSE(bare.record(L"/a.wav", 10, "{}"));
  EXPECT_FALSE(bare.audioCheck(L"/a.wav", "{}"));
  EXPECT_FALSE(bare.stop());
}

TEST_F(Notifications, EachNumberReachesItsSlotAndOthersAreIgnored) {
  Begin(R"({"notify_energy":"en","notify_waveform":"wf","notify_cursor":"pos",
            "callback_func":"done","callback_func_err":"onErr","callback":"7"})",
        AllSlots());
  Notify(16898, L"42");
  Notify(16902, L"1234");
  Notify(16900, L"1,-2,3");
  for (int ignored : {16897, 16899, 16901, 16910, 16935, 0, -1, 39169}) Notify(ignored, L"1");
  EXPECT_EQ(PageCalls(), (std::vector<std::string>{
                             "en('42')", "pos('1234')", "wf('{\"waveform\":\"1,-2,3\"}')"}));
}

TEST_F(Notifications, EndNoticesChooseByErrorCode) {
  Begin(R"({"callback_func":"done","callback_func_err":"onErr","callback":7})", AllSlots());
  Notify(16916, L"{\"err_code\":39169}");
  Notify(16916, L"{\"err_code\":0}");
  Notify(16920, L"{\"err_code\":39169}");
  Notify(16920, L"{}");  // a missing code reads 0
  EXPECT_EQ(PageCalls(),
            (std::vector<std::string>{"onErr('7')", "done('7')", "onErr('7')", "done('7')"}));
  std::string log = LogText();
  EXPECT_NE(log.find("放音操作出现错误：39169"), std::string::npos) << log;
  EXPECT_NE(log.find("录音操作出现错误：39169"), std::string::npos) << log;
}

TEST_F(Notifications, EndNoticesWithoutJsonOrWithoutTheirSlotCallNothing) {
  Begin(R"({"callback_func":"done","callback_func_err":"onErr"})", Slots());
  Notify(16898, L"42");  // no onEnergy
  Notify(16916, L"{\"err_code\":0}");
  Notify(16920, L"{\"err_code\":39169}");
  Begin(R"({"callback_func":"done"})", AllSlots());
  Notify(16916, L"");
  Notify(16916, L"not json");
  EXPECT_TRUE(PageCalls().empty());
}

TEST_F(Notifications, PageCallTextsKeepTheArgumentAsItStandsWithoutLineFeeds) {
  EXPECT_EQ(PageCall("f", "a\nb"), "f('ab')");
  EXPECT_EQ(PageCall("", "x"), "('x')");
  EXPECT_EQ(PageCall("ns.f\n", "it's"), "ns.f('it's')");
  Begin(R"({"notify_energy":"en","notify_waveform":"wf"})", AllSlots());
  Notify(16898, L"4\n2");
  Notify(16900, L"a\"b\\c\nd");
  // The waveform's text is JSON-escaped inside its object; the line feed inside is escaped,
  // not removed.
  EXPECT_EQ(PageCalls(),
            (std::vector<std::string>{"en('42')", R"(wf('{"waveform":"a\"b\\c\nd"}'))"}));
}

TEST_F(Notifications, MissingFunctionNamesGiveCallsThatBeginWithTheArgument) {
  Begin(R"({"callback":"x"})", AllSlots());
  Notify(16916, L"{\"err_code\":0}");
  EXPECT_EQ(PageCalls(), std::vector<std::string>{"('x')"});
}

TEST_F(Notifications, AudioCheckResultNeedsItsCode) {
  Begin(R"({"callback_func":"checked"})", AllSlots());
  Notify(16934, L"{\"result\":1}");
  Notify(16934, L"garbage");
  Notify(16934, L"{\"err_code\":3}");
  EXPECT_EQ(PageCalls(), std::vector<std::string>{"checked('3')"});
  EXPECT_NE(LogText().find("解析音质检测结果失败"), std::string::npos);
}

TEST_F(Notifications, AnExceptionInAHandlerEndsThatNotificationOnly) {
  Begin("{not json", AllSlots());
  Notify(16916, L"{\"err_code\":0}");
  Begin(R"({"callback_func":[1]})", AllSlots());  // a name that is not a text
  Notify(16916, L"{\"err_code\":0}");
  Begin(R"({"callback_func":"done"})", AllSlots());
  Notify(16916, L"{\"err_code\":\"zero\"}");  // a code that is not a number
  Notify(16916, L"{\"err_code\":0}");
  EXPECT_EQ(PageCalls(), std::vector<std::string>{"done('')"});
  EXPECT_NE(LogText().find("解析json串参数失败"), std::string::npos);
}

TEST_F(Notifications, ResetKeepsOnlyTheAudioCheckSlot) {
  Begin(R"({"callback_func":"done","notify_energy":"en"})", AllSlots());
  sound.reset();
  Slots s = sound.slots();
  EXPECT_EQ(s.onPlayDone, nullptr);
  EXPECT_EQ(s.onEnergy, nullptr);
  EXPECT_EQ(s.onError, nullptr);
  EXPECT_EQ(s.notifyProc, nullptr);
  EXPECT_EQ(s.onAudioCheckDone, &SoundCallbacks::OnAudioCheckResult);
  Notify(16916, L"{\"err_code\":0}");
  Notify(16934, L"{\"err_code\":0}");
  EXPECT_EQ(PageCalls(), std::vector<std::string>{"done('0')"});
  sound.init();
  EXPECT_EQ(sound.slots().onAudioCheckDone, nullptr);
}

TEST_F(Notifications, AfterShutdownANotificationReachesNothing) {
  Begin(R"({"callback_func":"done"})", AllSlots());
  SndNotifyProc procedure = FakeSoundLibrary::Procedure();
  sound.shutdown();
  EXPECT_EQ(FakeSoundLibrary::Calls().back(), "sndStop()");
  procedure(16916, L"{\"err_code\":0}", nullptr);
  EXPECT_TRUE(PageCalls().empty());
}

// A window whose page calls take their time, to catch a reset that does not wait for them.
class SlowWindow : public FakeWindow {
 public:
  void ExecJS(const std::string& script) override {
    entered = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    FakeWindow::ExecJS(script);
    finished = true;
  }
  std::atomic<bool> entered{false};
  std::atomic<bool> finished{false};
};

TEST_F(Notifications, ResetWaitsForAPageCallInProgress) {
  SlowWindow slow;
  SoundCallbacks table(&slow);
  table.registerNotify(FakeSoundLibrary::Table(), OnSoundNotify);
  table.install(std::make_shared<const std::string>(R"({"notify_energy":"en"})"), AllSlots());
  std::thread library([] { OnSoundNotify(16898, L"1", nullptr); });
  while (!slow.entered) std::this_thread::yield();
  table.reset();
  EXPECT_TRUE(slow.finished);
  library.join();
  OnSoundNotify(16898, L"2", nullptr);
  EXPECT_EQ(slow.Calls(), std::vector<std::string>{"ExecJS(en('1'))"});
}

// Commands of type "0" replace the table while the library's thread keeps notifying: every page
// call pairs a function with the callback value of the same request.
TEST_F(Notifications, ConcurrentReplacementsNeverTearTheTable) {
  std::atomic<bool> done{false};
  std::thread library([&] {
    while (!done) OnSoundNotify(16916, L"{\"err_code\":0}", nullptr);
  });
  std::vector<std::thread> commands;
  for (int t = 0; t < 4; ++t)
    commands.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        std::string n = std::to_string(t * 1000 + i);
        Slots s;
        s.onPlayDone = &SoundCallbacks::OnSoundDone;
        sound.install(std::make_shared<const std::string>(
                          R"({"callback_func":"f)" + n + R"(","callback":")" + n + "\"}"),
                      s);
      }
    });
  for (auto& c : commands) c.join();
  // The last table stays: a library thread that ran behind every command still reaches it.
  for (int i = 0; i < 2000 && PageCalls().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  done = true;
  library.join();
  std::vector<std::string> calls = PageCalls();
  ASSERT_FALSE(calls.empty());
  for (const std::string& call : calls) {
    std::size_t open = call.find("('");
    ASSERT_NE(open, std::string::npos) << call;
    EXPECT_EQ("f" + call.substr(open + 2, call.size() - open - 4), call.substr(0, open));
  }
}

}  // namespace

namespace {

TEST_F(Notifications, TheLibraryIsFoundByItsFunctionsAndItsAbsenceIsLogged) {
  SoundLibrary real(ORVALIS_PATH);
  EXPECT_TRUE(real.loaded());
  SoundLibrary missing(root.path() + "libOrvalis.so");
  EXPECT_FALSE(missing.loaded());
  EXPECT_EQ(missing.functions().sndPlay, nullptr);
  // A library without the sound functions counts as none.
  SoundLibrary other(QUINTREL_PATH);
  EXPECT_FALSE(other.loaded());
  EXPECT_EQ(other.functions().sndSetParam, nullptr);
  std::string log = LogText();
  EXPECT_NE(log.find("[sound]: cannot load"), std::string::npos) << log;
  EXPECT_NE(log.find("[sound]: sound functions missing in"), std::string::npos) << log;
}

}  // namespace

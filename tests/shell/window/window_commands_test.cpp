// The window commands through the dispatcher, against a window that records what they ask.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/commands/window_commands.h"
#include "tests/support/test_support.h"

namespace {

const char kOk[] = R"({"data":"操作成功","flag":1,"flagMsg":""})";

class WindowCommandsTest : public StateFixture {
 protected:
  WindowCommandsTest() { withLog = true; }
  void SetUp() override {
    StateFixture::SetUp();
    RegisterWindowCommands();
  }
  std::vector<std::string> Calls() const { return window.Calls(); }
};

TEST_F(WindowCommandsTest, MaximizeLocksOnlyWhenAskedAndOnlyOnce) {
  EXPECT_EQ(Dispatch("maximize", R"({"lock":true})"), kOk);
  EXPECT_TRUE(window.fullScreen);
  // Already full screen: the window refuses, the page still hears success.
  EXPECT_EQ(Dispatch("Maximize", R"({"lock":true})"), kOk);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"EnterFullScreen(lock)", "EnterFullScreen(lock)"}));
}

TEST_F(WindowCommandsTest, MaximizeWithoutParamsOrLockDoesNotLock) {
  EXPECT_EQ(Dispatch("maximize", ""), kOk);
  EXPECT_EQ(Dispatch("restored", ""), kOk);
  EXPECT_EQ(Dispatch("maximize", R"({"lock":false})"), kOk);
  EXPECT_EQ(Dispatch("restored", ""), kOk);
  EXPECT_EQ(Dispatch("maximize", R"({"other":1})"), kOk);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"EnterFullScreen()", "LeaveFullScreen()",
                                               "EnterFullScreen()", "LeaveFullScreen()",
                                               "EnterFullScreen()"}));
}

TEST_F(WindowCommandsTest, MaximizeRefusesBadParams) {
  EXPECT_EQ(Dispatch("maximize", "{"),
            R"({"data":"","flag":0,"flagMsg":"解析json串参数失败"})");
  // A text is not a boolean: jsoncpp's own failure reaches the page.
  EXPECT_EQ(Dispatch("maximize", R"({"lock":"yes"})"),
            R"({"data":"","flag":0,"flagMsg":"Value is not convertible to bool."})");
  EXPECT_TRUE(Calls().empty());
}

TEST_F(WindowCommandsTest, RestoredWithoutMaximizeChangesNothing) {
  EXPECT_EQ(Dispatch("restored", "{"), kOk);  // no params are read
  EXPECT_FALSE(window.fullScreen);
  EXPECT_EQ(Calls(), std::vector<std::string>{"LeaveFullScreen()"});
}

TEST_F(WindowCommandsTest, CloseAsksAndAnswersAtOnce) {
  EXPECT_EQ(Dispatch("close", ""), kOk);
  EXPECT_EQ(Dispatch("CLOSE", "not json"), kOk);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"PostClose()", "PostClose()"}));
}

TEST_F(WindowCommandsTest, OpenDialogAnswersTheChosenPaths) {
  window.chooseResult = true;
  window.chosenFiles = {"/home/exam/录音 1.wav"};
  EXPECT_EQ(Dispatch("opendialog", R"({"multiselect":true})"),
            R"({"data":"[\"/home/exam/录音 1.wav\"]\n","flag":1,"flagMsg":""})");
  window.chosenFiles = {"/a/x.txt", "/a/y.txt", "/a/z.txt"};
  EXPECT_EQ(Dispatch("opendialog", ""),
            R"({"data":"[\"/a/x.txt\",\"/a/y.txt\",\"/a/z.txt\"]\n","flag":1,"flagMsg":""})");
  EXPECT_EQ(Calls(), (std::vector<std::string>{"ChooseFiles(multi)", "ChooseFiles()"}));
}

TEST_F(WindowCommandsTest, OpenDialogCancelledAnswersAnEmptyList) {
  window.chooseResult = false;
  window.chosenFiles = {"/ignored"};
  EXPECT_EQ(Dispatch("opendialog", R"({"multiselect":false})"),
            R"({"data":"[]","flag":1,"flagMsg":""})");
}

TEST_F(WindowCommandsTest, LogsUnderTheirOwnWords) {
  Dispatch("maximize", "");
  Dispatch("restored", "");
  Dispatch("close", "");
  Dispatch("opendialog", "");
  Dispatch("test", "");  // forces the sweep of the idle ones
  std::string log = LogText();
  for (const char* line :
       {"[Maximize]: constructor", "[Maximize]: execute", "[restore]: constructor",
        "[restore]: execute", "[close]: constructor", "[close]: execute",
        "[dialog]: constructor", "[dialog]: execute", "[Maximize]: destructor",
        "[dialog]: destructor"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
}

}  // namespace

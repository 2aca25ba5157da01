// A sound library made of plain functions that record how they were called and answer as the
// test sets them, and the fixture that wires a notification table to it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "audio/sound_callbacks.h"
#include "tests/support/test_support.h"

struct FakeSoundLibrary {
  // Every call as "name(arguments)", in order.
  static std::vector<std::string> Calls();
  // Forgets the calls, the switches and the answers; the registered procedure stays.
  static void Clear();
  static SoundFunctions Table();
  // The procedure the table registered through "notify", read back from its decimal text.
  static SndNotifyProc Procedure();
  // The request text of the latest operation, as the library would hand it back.
  static const char* LastRequest();
  // The latest value set for a notification switch ("" before any).
  static std::string Switch(const std::string& name);

  // What the next calls answer.
  static int playValue;
  static int playResult;
  static int recordResult;
  static int checkResult;
  static int stopResult;
};

// The shared state of a command test with a notification table over the fake library,
// registered as the library's receiver, and every sound and volume command registered.
class SoundFixture : public StateFixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The page calls made so far, without the "ExecJS(" ")" around them.
  std::vector<std::string> PageCalls() const;
  // A notification from the library's side, through the registered procedure.
  static void Notify(int message, const std::wstring& text);

  SoundCallbacks sound{&window};
};

// The sound library as the client loads it, with a procedure that keeps every notification.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/orvalis/orvalis.h"
#include "tests/support/sound_test_support.h"

struct Notice {
  int message;
  std::string text;
  const char* request;
  std::chrono::steady_clock::time_point time;
};

struct OrvalisApi {
  decltype(&sndSetParam) setParam;
  decltype(&sndPlay) play;
  decltype(&sndRecord) record;
  decltype(&sndAudiocheck) audioCheck;
  decltype(&sndStop) stop;
};

class OrvalisTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Registers the procedure that keeps the notices, every switch on, and empties the list.
  void Listen();
  void ClearNotices();
  // Notices so far, of |message| only when it is not 0.
  std::vector<Notice> Notices(int message = 0) const;
  // Waits for the first notice |message| (up to |limit|); fails the test when none came.
  Notice WaitFor(int message, std::chrono::milliseconds limit = std::chrono::seconds(10));
  static std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
  std::string Path(const std::string& name) const { return folder + "/" + name; }

  // Tests that play or record set this before SetUp: they need a sound server of their own.
  bool withServer = true;
  std::unique_ptr<soundtest::SoundServer> server;
  std::string folder;  // the test's files, removed afterwards
  OrvalisApi api{};
  const char* request = "{\"callback\":\"7\"}";
};

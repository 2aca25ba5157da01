// The session folder's record in hash.cache, written off the caller's thread.
#include "exam_commands/session_record.h"

#include <gtest/gtest.h>

#include <string>

#include "shell/core/profile.h"
#include "tests/support/test_support.h"

namespace {

TEST(SessionRecord, TheLastRecordMadeIsTheOneOnDiskAndOtherKeysStay) {
  TempDir dir;
  const std::string path = dir.path() + "hash.cache";
  ASSERT_TRUE(WriteProfileString(path, "cache", "other", "kept"));
  for (int i = 0; i < 50; ++i) RecordSessionFolder(path, "S" + std::to_string(i));
  WaitForSessionRecords();
  EXPECT_EQ(ReadProfileString(path, "cache", "session", "", 1024), "S49");
  EXPECT_EQ(ReadProfileString(path, "cache", "other", "", 1024), "kept");
}

}  // namespace

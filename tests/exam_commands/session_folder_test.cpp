// A session folder's mark and the hold on it, which decide what a start may remove.
#include "exam_commands/session_folder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "shell/core/helpers.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace {

TEST(SessionFolder, AHoldIsTheHoldersAloneAndNoChildOfItsKeepsIt) {
  TempDir root;
  std::string error;

  // The mark appears at once under its final name, and nobody else takes the folder.
  const std::string held = root.path() + "held/";
  MakeDirs(held, false, true);
  ASSERT_TRUE(HoldSessionFolder(held));
  EXPECT_TRUE(IsMarkedSessionFolder(held));
  EXPECT_FALSE(IsExistingFile(held + kSessionFolderMark + std::string(".new")));
  EXPECT_EQ(RemoveUnheldSessionFolder(held, error), SessionFolderRemoval::kLeftAlone);
  EXPECT_TRUE(IsExistingDir(held));

  // A program the holder starts does not inherit the hold: once the holder lets go, the folder
  // can be taken while that program still runs.
  pid_t child = 0;
  char sleep_path[] = "/bin/sleep";
  char seconds[] = "60";
  char* argv[] = {sleep_path, seconds, nullptr};
  ASSERT_EQ(posix_spawn(&child, argv[0], nullptr, nullptr, argv, environ), 0);
  ReleaseSessionFolder(held);
  ReleaseSessionFolder(held);
  EXPECT_EQ(RemoveUnheldSessionFolder(held, error), SessionFolderRemoval::kRemoved);
  EXPECT_FALSE(IsExistingDir(held));
  EXPECT_EQ(waitpid(child, nullptr, WNOHANG), 0) << "the child should still run";
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

}  // namespace

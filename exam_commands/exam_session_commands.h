// Every command of the examination session, settings, answers and local files at once.
#pragma once

#include "exam_commands/answer_commands.h"
#include "exam_commands/file_commands.h"
#include "exam_commands/session_commands.h"
#include "exam_commands/settings_commands.h"

inline void RegisterExamSessionCommands() {
  RegisterSettingsCommands();
  RegisterSessionCommands();
  RegisterAnswerCommands();
  RegisterFileCommands();
}

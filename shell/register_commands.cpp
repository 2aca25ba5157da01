#include "shell/register_commands.h"

#include "shell/commands/window_commands.h"

#ifdef QW_HAVE_EXAM_COMMANDS
#include "exam_commands/answer_commands.h"
#include "exam_commands/file_commands.h"
#include "exam_commands/machine_info_command.h"
#include "exam_commands/session_commands.h"
#include "exam_commands/settings_commands.h"
#include "exam_commands/transfer_commands.h"
#endif
#ifdef QW_HAVE_AUDIO
#include "audio/audio_commands.h"
#include "audio/evaluation_commands.h"
#endif

void RegisterAllCommands() {
  RegisterWindowCommands();
#ifdef QW_HAVE_EXAM_COMMANDS
  RegisterSessionCommands();
  RegisterAnswerCommands();
  RegisterSettingsCommands();
  RegisterMachineInfoCommand();
  RegisterTransferCommands();
  RegisterFileCommands();
#endif
#ifdef QW_HAVE_AUDIO
  RegisterAudioCommands();
  RegisterEvaluationCommands();
#endif
}

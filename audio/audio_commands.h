// Every command of the audio subsystem at once.
#pragma once

#include "audio/sound_commands.h"
#include "audio/volume_commands.h"

inline void RegisterAudioCommands() {
  RegisterSoundCommands();
  RegisterVolumeCommands();
}

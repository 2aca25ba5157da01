// The page's volume commands: getvolume and setvolume, over the main dialog's volume control.
#pragma once

void RegisterVolumeCommands();

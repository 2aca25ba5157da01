// The page commands that act on the main window: full screen with optional keyboard lock-down,
// back into the window, the close question and the file chooser.
#pragma once

void RegisterWindowCommands();

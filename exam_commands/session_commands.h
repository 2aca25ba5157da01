// The examination application's session: "runapp" opens an application from the apps folder
// beside the executable and begins a session, "stopapp" ends it.
#pragma once

void RegisterSessionCommands();

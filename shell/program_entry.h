// The program's entry: the single-instance guard, the browser runtime, the main dialog and the
// exit code of the run.
#pragma once

class CMainDlg;

// Returns the process exit code: 0 after a start-up failure, 2 after the close question was
// answered with OK.
int RunProgram(int argc, char** argv);
// Builds and shows the main dialog and runs its loop; returns the loop's exit code.
int Run(CMainDlg& dialog, const char* const* argv, int argc);

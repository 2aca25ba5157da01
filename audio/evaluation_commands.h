// The page commands of speech evaluation: "evaluate" scores every queued recording, "test"
// scores the shipped sample (a developer's check of the engine).
#pragma once

void RegisterEvaluationCommands();

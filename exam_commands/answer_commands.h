// The candidate's answer document, answer.xml in the answer folder: "startexam" fixes the folder
// and resumes saved progress, "saveanswer" writes answer items, "getanswer" reads responses.
#pragma once

void RegisterAnswerCommands();

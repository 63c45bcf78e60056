// The spine of a run: start-up in its fixed order, the banner, one report,
// and the end of the output.
#pragma once

#include <string>

// The whole run after the console has been opened; returns the exit code.
int RunProgram();

void WriteBanner();
// One report of the start folder in the chosen output mode.
void ReportRun();
// Lists the folders below `path` whose paths reach the 255-character limit.
void LongestPathsWalk(std::string path);

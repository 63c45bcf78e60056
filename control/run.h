// The spine of a run: start-up in its fixed order, the banner, one report,
// and the end of the output.
#pragma once

#include <string>

// The whole run after the console has been opened; returns the exit code.
int RunProgram();
// Set by a program that reads the tree with other processes (tallyfold-mpi):
// called once the parameter sources are applied, and once the scan is over,
// before the report of it is written.
extern void (*settingsApplied)();
extern void (*scanEnded)();

void WriteBanner();
// One report of the start folder in the chosen output mode, or of each
// folder the command line names under one root "(N folders)". False when no
// report could be made: a start folder was not found or its drive could not
// be read, or the folders overlap (the message has been written).
bool ReportRun();
// Lists the folders below `path` whose paths reach the 255-character limit,
// within a walk begun at `path` (platform::BeginWalk).
void LongestPathsWalk(std::string path);

// The console report: column titles and rule, one line per folder with the
// tree drawn, the totals block and the drive statistics.
#pragma once

#include <cstdint>

#include "report/walker.h"

int32_t ConsoleHeader();
void ListConsoleFolders(TDirEntry* first);
int32_t ConsoleFooter(LineNumber totalLines);

// Line `line` of the drive statistics that end the console reports, six for
// each drive: a blank line, the drive's heading, its cluster size, free and
// used space and capacity.
inline constexpr int32_t kDriveStatisticsLines = 6;
void WriteDriveStatisticsLine(int32_t line);
// The drives whose statistics are shown: the start folder's, and those of
// the other folders of a run over several (moreDrives).
int32_t DrivesShown();

// The characters a folder line's figure columns take before its tree, as
// the settings now show them.
int32_t FigureColumnsWidth();

inline constexpr OutputOperations kConsoleMode = {ConsoleHeader, ListConsoleFolders, ConsoleFooter};

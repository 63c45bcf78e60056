// The console report: column titles and rule, one line per folder with the
// tree drawn, the totals block and the drive statistics.
#pragma once

#include <cstdint>

#include "report/walker.h"

int32_t ConsoleHeader();
void ListConsoleFolders(TDirEntry* first);
int32_t ConsoleFooter(LineNumber totalLines);

inline constexpr OutputOperations kConsoleMode = {ConsoleHeader, ListConsoleFolders, ConsoleFooter};

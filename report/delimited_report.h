// The delimited reports (-comma and -tab): a header row, an empty line, and
// one row per folder with its figures and its full path, for loading into a
// spreadsheet or database. No totals row, no drive statistics.
//
// A row's path is reportPath (the start path with its trailing separator,
// set by the driver) followed by the folder's name; the lister extends
// reportPath by each folder's name and a separator on the way down and cuts
// it back on the way up. The path is quoted with QuoteDelimitedField, so a
// double quote in a name is doubled.
#pragma once

#include <cstdint>

#include "report/walker.h"

int32_t CommaHeader();
void ListCommaFolders(TDirEntry* first);
int32_t TabHeader();
void ListTabFolders(TDirEntry* first);

// One folder's row; the flag is unused (the rows draw no tree).
void WriteCommaLine(const TDirEntry& folder, bool hasNextSibling);
void WriteTabLine(const TDirEntry& folder, bool hasNextSibling);

// Before anything is written: with -utf8 the tab and comma reports go out
// in UTF-8, and a comma report written to a file or pipe begins with a
// byte-order mark, by which spreadsheets know UTF-8.
void BeginDelimitedOutput();
// After the report is written: without -utf8, a tab or comma report that
// had names its code page lacks says so once on standard error.
void WarnAboutNamesOutsideCodePage();

inline constexpr OutputOperations kCommaMode = {CommaHeader, ListCommaFolders, NoFooter};
inline constexpr OutputOperations kTabMode = {TabHeader, ListTabFolders, NoFooter};

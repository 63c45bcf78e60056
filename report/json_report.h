// The JSON report (-json): one JSON object on standard output, written in
// one pass as the walker goes (never paged), so memory does not grow with
// the report. Its members:
//   "program", "version", "created" (local time, ISO 8601 with its offset),
//   "path", "clusterSize", "dirMode", "includeOffline", "maxDepth" (null
//   for every level), "minFolderBytes", "sort", "drive" (left out under -nostats), "totals",
//   "comparedWith" and "gone" (under -compare=), "root", and after it
//   "files" (under -top=N: {"path" below the start folder, ["pathBytes",]
//   "bytes", "length", "modified"}) and "types" (under -types: {"extension",
//   ["extensionBytes",] "files", "bytes", "wasted"}). "totals" counts the
//   folders that could not be read in "unreadable".
// A folder object is {"name", ["nameBytes",] "total", "own", "wasted",
// "files", "folded", "order", ["unreadable": true,] ["modified" (under -age),]
// ["growth",] ["children"]}: the folder's own name (the
// fold mark is "folded"), and, when the name is not valid UTF-8, its bytes in hex, since the
// name itself then holds U+FFFD for each bad byte. Figures are plain
// integers. The text is ASCII (see QuoteJsonString).
//
// The header is one line of the walk (everything up to "root"), each folder
// one line (its object up to its children, which it closes after them), and
// the footer one line (the closing brace).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "report/walker.h"

int32_t JsonHeader();
void ListJsonFolders(TDirEntry* first);
int32_t JsonFooter(LineNumber totalLines);

// Bytes in lower-case hex, for names that are not valid UTF-8.
std::string HexBytes(std::string_view bytes);

inline constexpr OutputOperations kJsonMode = {JsonHeader, ListJsonFolders, JsonFooter};

// A report made from saved JSON reports of this program (-load=FILE, "-"
// for standard input) instead of from a scan.
//
// One report becomes the tree as its scan left it: each folder with its
// figures, its fold mark and its place in the scan's order ("order"; a
// report without it gives its listing order), so that every sort order and
// every further fold by depth or size gives what the scan would have given.
// The drive statistics, cluster size, file-size mode and creation time are
// the report's, and so are the folders' ages, the largest files and the file
// types where it holds them. Several reports are merged under a root named
// "(N reports)", each report's root below it named "HOST:PATH"; two reports
// of one machine whose start folders are the same or nested are refused.
//
// The reader streams the report into the tree (a SAX parse), so memory
// holds the tree and never a document of the whole report.
#pragma once

#include <string>
#include <vector>

// Reads `files` into the tree (root, scanTotals, driveStats, the cluster
// size and the file-size mode of the settings). False with the message line
// in `failure` when a file cannot be read, is not a report of this program,
// or the reports do not merge; `warning` then or otherwise holds a line for
// standard error (differing cluster sizes), or nothing.
bool LoadReports(const std::vector<std::string>& files, std::string& failure, std::string& warning);

// After LoadReports: the ages, largest files and file types the run asks
// for come from the reports. Where they lack one, a line says so once and the
// run goes on without it (the folder report follows).
void TakeSavedLists();

// Applies the run's depth and size limits to the loaded tree, as the scan
// applies them while it reads, and links every folder's children in the
// run's sort order.
void ShapeLoadedTree();

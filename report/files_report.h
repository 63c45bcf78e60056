// The reports of single files in place of the folder tree: the largest files
// (-top) or the file types (-types), in every output form. Each is a list of
// rows between the form's header and footer; the walker pages and numbers
// them as it does folder lines, and the list itself stands in for the folders.
#pragma once

#include <vector>

#include "report/walker.h"
#include "scan/file_stats.h"
#include "settings/settings.h"

// Whether the report lists files or file types rather than folders.
bool FileListReport();
// The three operations of the list in output form `mode`.
const OutputOperations& FileListOperations(OutputMode mode);
// The console list of the largest files the last scan noted: its titles
// and rule, and the line of file `row`.
void WriteLargestFilesHeading();
void WriteLargestFileLine(size_t row);

// The files a loaded report holds (`held` false when it holds no list), for
// the L key, which never reads the disk under a loaded report.
void KeepSavedFiles(std::vector<ListedFile> files, bool held);
// False when the loaded report holds no list of files. Otherwise the list of
// the largest files becomes the saved files below the folder that `chain`
// leads to from the start folder, with paths that start there.
bool NoteSavedFilesBelow(const std::vector<TDirEntry*>& chain);

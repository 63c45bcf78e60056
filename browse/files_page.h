// The page of the largest files (navigation's L key): the files below a
// folder, one of them under a cursor of its own, which Delete and X remove.
#pragma once

#include <string>

#include "browse/folder_actions.h"

// Reads the subtree of `at` again for its largest files, keeping every
// figure of the report's own scan (on a loaded report, takes the files it
// holds), and shows them until Esc, Left or Backspace goes back; Q and
// Ctrl+C end the program. Answers the bar's notice where nothing was shown:
// the way to `at` changed since the scan, or a loaded report holds no files.
std::string ShowLargestFilesPage(const FolderAt& at);

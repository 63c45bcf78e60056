// The page of the largest files (navigation's L key): the files below a
// folder, one of them under a cursor of its own, which Delete and X remove.
#pragma once

#include "browse/folder_actions.h"

// Reads the subtree of `at` again for its largest files, keeping every
// figure of the report's own scan (on a loaded report, takes the files it
// holds), and shows them until Esc, Left or Backspace goes back; Q and
// Ctrl+C end the program. False, with nothing shown, on a loaded report that
// holds no files.
bool ShowLargestFilesPage(const FolderAt& at);

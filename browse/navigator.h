// Navigation in the browser (the N key, or -nav from the start): a cursor in
// reverse video on the folder lines of a view of one level (the top folder,
// its subfolders and a line of its own files) or of the top's whole subtree
// (V); a folder opened as the top and left again, folded folders read again
// to open; marks, search, and the whole tree linked again in another sort
// order. Nothing is copied: a view is the walk started at another folder
// (walkTop), and the window is drawn through the output mode's own three
// operations, each line fitted to the screen, so every output form and
// column shows in navigation as it does in the browser.
#pragma once

#include <cstdint>

#include "report/walker.h"

// Navigates the report of `mode` (of `totalLines` lines) from the browser's
// window, which ends where lineCursor points. Returns when N or Esc leaves
// navigation, or when no key can be read, with the line count of the report
// now shown, whose top may be a folder opened meanwhile, and lineCursor at
// the end of the window last shown; Ctrl+C and Q end the program.
LineNumber NavigateReport(const OutputOperations& mode, LineNumber totalLines);

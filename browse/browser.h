// The interactive browser: shows a report a screenful at a time under a
// status bar and lets the user scroll it, jump to either end and switch its
// columns and tree characters, redrawing from the tree each time.
#pragma once

#include "report/walker.h"

// Runs the browser over a report of `totalLines` lines, entered with
// lineCursor at 0. Returns when the user pages past the end (Space or Page
// Down with the last line on screen), or when keys cannot be read, after the
// rest of the report has been printed; Esc, Q and Ctrl+C end the program.
void BrowseReport(const OutputOperations& mode, LineNumber totalLines);

// Shows the report of `mode`: in the browser when the run pauses at each
// page, otherwise printed in one pass.
void ShowReport(const OutputOperations& mode);

// The reading prompt on the console while the scan runs, once it has run a
// second: the spinner, which turns with time, and the progress figures after
// the prompt's text, so that a long scan can be told from a stuck one. A
// shorter scan shows nothing.
#pragma once

#include <cstdint>
#include <string>

// Shows "   Reading folder, press [Ctrl+C] to cancel" a second from now,
// with the cursor on its first column, where the spinner turns. `usedSpace`:
// the used bytes of the drive when the scan starts at its root, else 0.
void ShowReadingPrompt(int64_t usedSpace);
// Counts one folder read, with `bytes` of its own.
void CountFolderProgress(int64_t bytes);
// Once the scan (or a walk without the prompt) has run a second: writes the
// next spinner character and a backspace, at most every 50 ms, and a few
// times a second the prompt with its figures.
void TurnSpinner();
// Blanks the figures, leaving the prompt and the cursor as they were.
void EndReadingPrompt();

// "  1,234 folders, 5,678 files, 1.2 GB, 0:07", and ", 12% of used space"
// when `usedSpace` is not 0.
std::string ProgressFigures(int64_t folders, int64_t files, int64_t bytes, int64_t seconds, int64_t usedSpace);

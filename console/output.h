// Standard output of the run. Everything that goes to standard output (report
// lines and messages alike) passes through here, so the order is kept and a
// failed write is noticed once, in one place.
#pragma once

#include <string>
#include <string_view>

void WriteOut(std::string_view text);
// `text` and the platform's line end.
void WriteOutLine(std::string_view text);
// Hands everything written so far to the system; done before every key read.
void FlushOut();

// Ends the process with `exitCode` after flushing standard output.
[[noreturn]] void EndProgram(int exitCode);

// Tests collect standard output in `sink` instead; nullptr restores it.
void CaptureOutput(std::string* sink);
bool OutputIsCaptured();

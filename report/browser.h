// The interactive browser: shows a report a screenful at a time and lets the
// user scroll it and switch its columns.
#pragma once

#include <cstdint>

#include "report/walker.h"

// Runs the browser over a report of `totalLines` lines; returns when the
// user pages past the end.
void BrowseReport(const OutputOperations& mode, int32_t totalLines);

// Lines fitted to the screen while the browser's navigation draws them: no
// line wraps, a folder's name too long for its line is cut in its middle,
// and a marked line shows its mark in its first column.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct LineFit {
  size_t width = 0;     // the characters a line may take; 0: lines are written whole
  bool marked = false;  // the next line written carries the mark
};
extern LineFit lineFit;

inline constexpr std::string_view kLineMark = "*";

// `line` as it is written under lineFit: marked in its first column (over a
// blank there, else in front of it), then cut to the width.
std::string FittedLine(std::string_view line);

// A folder's line whose name takes the bytes from `nameStart` to `nameEnd`:
// where the line is wider than lineFit allows, the name loses characters
// from its middle, shown as "...", and keeps its end, as long as one
// character of its start is left. Otherwise the line stays as it is.
void FitName(std::string& line, size_t nameStart, size_t nameEnd);

// The share bars of -bars: each folder's share of its parent's total, as a
// bar of ten characters in the console forms and a styled cell in HTML.
//
// The listers know a line's folder but not its parent, so each lister notes
// the folders it descends into; a line's depth, read from the tree prefix
// (every level adds three characters to it), then names its parent.
#pragma once

#include <cstdint>
#include <string>

#include "scan/tree.h"

// Called by a lister before it lists the children of `folder`, while the
// tree prefix is still the one of `folder`'s own line.
void NoteDescent(const TDirEntry& folder);

// The whole that `folder`'s share is of: its parent's total; none (-1) for
// the folder at the top of the report, which has no parent in it. Valid
// while the lister stands on `folder`'s line.
int64_t ParentTotalOfLine(const TDirEntry& folder);

// "[" and ten characters, "]": as many filled as tenths of `whole` that
// `part` makes, rounded; "#" with the plain tree characters, a full block
// with the graphics set; the rest blanks. Empty bar for a zero whole.
std::string ShareBarText(int64_t part, int64_t whole);

// `part` as a whole percentage of `whole`, rounded, 0 to 100.
int64_t SharePercent(int64_t part, int64_t whole);

// The width of the bar column's text, brackets included.
inline constexpr uint8_t kShareBarWidth = 12;

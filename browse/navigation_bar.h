// Navigation's status bar: the keys that act now, as many as the width
// holds, always ending in "?:keys"; and the columns that a narrow screen
// leaves out of the view so that no line wraps.
#pragma once

#include <cstddef>
#include <string>

// The columns left out of the view, bars first, then ages.
struct ColumnsDropped {
  bool bars = false;
  bool ages = false;
};

// Leaves out the share bars, then the ages, while a folder line's columns
// and the shortest name the view cuts to would not fit in `width`.
ColumnsDropped DropColumnsForWidth(size_t width);
// Gives back what DropColumnsForWidth left out.
void RestoreColumns(const ColumnsDropped& dropped);

// What the bar tells of the view.
struct BarFacts {
  const char* order;      // the sort order, as -sort= takes it
  bool opened;            // a folder is open below the start folder
  bool wholeSubtree;      // the view shows the whole subtree (V)
  size_t marks;           // the folders marked
  ColumnsDropped dropped;
};

std::string NavigationBar(const BarFacts& facts, size_t width);

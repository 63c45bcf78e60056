// The map page (-map): one self-contained HTML page on standard output that
// draws the tree as a squarified treemap, each folder a rectangle whose area
// is its total, with a table of the largest folders below it. The layout is
// d3-hierarchy's, drawn by the page's own script; style and scripts are
// inline and the page's Content-Security-Policy allows nothing else, so it
// opens from a file on a machine without a network.
//
// A page holds at most kMapRectangles rectangles: the largest folders, found
// from the top down (a folder is never larger than its parent, so every
// chosen folder's parent is chosen too), and for each chosen folder an
// "other" rectangle that sums its subfolders that were not chosen.
//
// The three walker operations: the header writes the page's head and opens
// the tree's data (a JSON object in a script element of its own type, never
// run), the lister writes one node per chosen folder, and the footer closes
// the data and writes the table and the scripts. The page is written in one
// pass, never paged.
//
// A node of the data: {"n": name, "v": total bytes, "t": total, "o": own
// size, "f": files, "w": wastage (size and share), "r": wastage share (0 to
// 1), ["z": 1 when folded,] ["g": growth bytes or "new", "gt": growth,]
// ["c": [children]]}; an "other" node: {"n": "other", "x": folders summed,
// "v": bytes, "t": total}. Names are JSON strings in ASCII (see
// QuoteJsonString), with "<" escaped, so that no name can end the element.
#pragma once

#include <cstdint>
#include <vector>

#include "report/walker.h"

inline constexpr size_t kMapRectangles = 20000;
// Rows of the table below the map.
inline constexpr size_t kLargestFolders = 100;

int32_t MapHeader();
void ListMapFolders(TDirEntry* first);
int32_t MapFooter(LineNumber totalLines);

// The folders a page of at most `rectangles` rectangles shows for the tree
// under `top`, largest first (ties in the order of the report).
std::vector<const TDirEntry*> ChooseMapFolders(const TDirEntry& top, size_t rectangles);

inline constexpr OutputOperations kMapMode = {MapHeader, ListMapFolders, MapFooter};

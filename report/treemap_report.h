// The map page (-map): one self-contained HTML page on standard output that
// draws the tree of folders and files as a squarified treemap or as rings,
// each rectangle's area its bytes, with tables of the largest files and of
// the file types below it. The layouts are d3-hierarchy's, drawn by the
// page's own script (report/treemap.js); style and scripts are
// inline and the page's Content-Security-Policy allows nothing else, so it
// opens from a file on a machine without a network.
//
// A page holds at most kMapRectangles rectangles: the largest folders and
// files, found from the top down, largest first (a folder is never larger
// than its parent, and a file is only met once its folder is chosen), and
// for each chosen folder an "other" rectangle that sums its subfolders that
// were not chosen and one that sums its own files that were not, "(N other
// files)".
//
// The three walker operations: the header writes the page's head and opens
// the tree's data (a JSON object in a script element of its own type, never
// run), the lister writes one node per chosen folder, and the footer closes
// the data and writes the tables of the largest files and of the file types
// and the scripts. The page is written in one pass, never paged.
//
// A folder's node of the data: {"n": name, "v": total bytes, "t": total,
// "o": own size, "f": files, "w": wastage (size and share), "r": wastage
// share (0 to 1), ["z": 1 when folded,] ["a": newest modified seconds with
// -age,] ["g": growth bytes or "new", "gt": growth,] ["c": [children]]}; its
// children are its chosen subfolders, its chosen files (see
// report/treemap_data.h), then {"n": "other", "k": "o", "x": folders
// summed, "v": bytes, "t": total} and {"n": "(N other files)", "k": "r",
// "x": N, "v": bytes, "t": total}; the space a folder's listing takes
// stays blank inside it. Names are JSON strings in ASCII (see
// QuoteJsonString), with "<" escaped, so that no name can end the element.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "report/treemap_data.h"
#include "report/walker.h"

inline constexpr size_t kMapRectangles = 20000;

int32_t MapHeader();
void ListMapFolders(TDirEntry* first);
int32_t MapFooter(LineNumber totalLines);

// Before the scan of a map: the scan lists as many of the largest files as
// a page can draw (unless -top=# asks for fewer), and sums the file types
// that colour them.
void NoteFilesForMap();

// What a page shows.
struct MapChoice {
  std::vector<const TDirEntry*> folders;  // largest first, ties in the order of the report
  std::vector<int32_t> parents;           // index into folders; -1 for the top
  std::unordered_map<const TDirEntry*, int32_t> indexOf;
  std::vector<std::vector<const ListedFile*>> files;  // of each chosen folder, largest first
};

// The folders and files a page of at most `rectangles` rectangles shows for
// the tree under `top`, whose listed files `files` places.
MapChoice ChooseMapItems(const TDirEntry& top, const FilesByFolder& files, size_t rectangles);

inline constexpr OutputOperations kMapMode = {MapHeader, ListMapFolders, MapFooter};

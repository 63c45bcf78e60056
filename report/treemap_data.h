// The data of the map page (-map) beside its folders: the largest files
// that the scan listed (-top's list, kept at kMapRectangles files for a
// map), each placed in the folder of the tree that holds it, the file types
// that colour them, and the two tables below the map: the largest files and
// the types by bytes.
//
// A file node of the page's data: {"n": name, "k": "f", "v": bytes, "t":
// size, "e": type, "y": colour (0 to kColouredTypes - 1, or kColouredTypes
// for every other type)[, "a": modified seconds with -age]}.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "scan/file_stats.h"
#include "scan/tree.h"

// A JSON string that cannot end the script element it stands in.
std::string ScriptSafeJson(std::string_view text);
// Appends a member to the object `node` holds, which has its "{" already.
void AddMember(std::string& node, std::string_view name, std::string_view jsonValue);

// Types that take a colour of their own; the others share one grey.
inline constexpr size_t kColouredTypes = 12;
// Rows of the table of the largest files.
inline constexpr size_t kLargestFilesShown = 100;

// The listed files of each folder, largest first.
using FilesByFolder = std::unordered_map<const TDirEntry*, std::vector<const ListedFile*>>;

// Places every file of `largest` (paths relative to the folder `top`) in the
// folder of the tree that holds it: its own folder, or the folder that its
// folder was folded into.
FilesByFolder FilesOfFolders(const TDirEntry& top, const std::vector<ListedFile>& largest);

// The colour of each coloured type (see kColouredTypes), by its name.
using TypeColours = std::unordered_map<std::string, size_t>;
TypeColours ColourOfTypes();

// The page's data member "types": the kColouredTypes types with the most
// bytes, [[type, bytes, size], ...], and "typeBytes", the bytes of all.
std::string MapTypesMembers();

// A file's node of the page's data.
std::string MapFileNode(const ListedFile& file, const TypeColours& colours);

// The tables below the map; `startPath` is the folder the files' paths are
// relative to.
void WriteLargestFilesTable(const std::string& startPath);
void WriteFileTypesTable();

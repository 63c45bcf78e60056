// What the browser's navigation does to the disk: removes the folder at the
// cursor (to the trash, or for good after a typed yes), or a file of the
// largest-files list; reads a folder again; opens it on the desktop or in a
// shell. Every change leaves the tree as a fresh scan of the disk would
// give it, without reading the rest of the tree; each procedure returns
// what the status bar says afterwards (empty for nothing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "console/writer.h"
#include "platform/platform.h"
#include "scan/tree_edit.h"

// How an action asks on the status bar: for a key, or for a word typed and
// ended with Enter (empty when Esc takes the question back).
struct BarQuestions {
  KeyRead (*askKey)(const std::string& question);
  std::string (*askWord)(const std::string& question);
};

// A folder of the tree: the start folder's path (with its separator) and
// the folders from a child of the root down to it; no folders for the
// start folder itself.
struct FolderAt {
  const std::string& startPath;
  const FolderChain& chain;
};

// Delete and X: asks, then moves the folder to the trash, or, where no trash
// can take it and "yes" is typed, deletes it for good.
std::string DeleteFolder(const FolderAt& at, const BarQuestions& ask);
// Delete and X in the largest-files list, whose files lie below `at` and
// whose paths start there: the same for file `index` of the list.
std::string DeleteListedFile(const FolderAt& at, size_t index, const BarQuestions& ask);
// R: reads the folder again, its subtree and every figure above it.
std::string RescanFolderAt(const FolderAt& at);
// E: opens the folder on the desktop, or runs the user's shell in it.
std::string OpenFolderAt(const FolderAt& at);

// How a subtree is read aside: `depth` levels below the start folder, with
// the `largestFiles` noted, and the start folder's exclusions or none.
struct AsideReading {
  int32_t depth;
  int32_t largestFiles;
  bool withExclusions;
};
// Reads the subtree of `at` as it is on the disk now, with the reading
// prompt, hands it to `take` and releases it; every figure and setting of
// the report's own scan stays as it was.
void ReadAside(const FolderAt& at, const AsideReading& how, const std::function<void(const TDirEntry&)>& take);

// What the bar says where the way to the folder no longer leads to what the
// scan saw (R, L and E check it first); empty where it does.
std::string ChangedSinceScan(const FolderAt& at);
// How the way is checked: on the disk, or, in tests, on a fake one.
extern platform::RemovalResult (*wayCheck)(const platform::ItemWay& way);

// The folder's path as the bar shows it.
std::string PathOf(const FolderAt& at);

// What an action says on a loaded report, where nothing is on the disk to act on.
inline constexpr std::string_view kNotOnLoadedReport = "Not on a loaded report";

// A question of the bar is answered yes only by y or Y.
inline bool SaidYes(const KeyRead& key) { return key.character == 'y' || key.character == 'Y'; }

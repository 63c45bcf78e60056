// The growth figures of a comparison with an earlier report (-compare=),
// as every output form and the browser read them: each shown folder's
// growth, the folders gone since, and the earlier report's time and path.
// saved/comparison fills them from the earlier report; edits of the tree
// (a removal, a folder read again) keep them in step.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "scan/tree.h"

struct Growth {
  // unreadable: the folder could not be read now or then; its figure would
  // tell nothing of its growth ("?").
  enum class Kind : uint8_t { unknown, known, added, unreadable };
  Kind kind = Kind::unknown;
  int64_t bytes = 0;  // total now minus total then, when known
};

// A folder of the earlier report that has gone: its path below the start
// folder, its total and its files. The entry that sums the folders beyond
// the list has no path and counts them in `folders`.
struct GoneFolder {
  std::string path;
  int64_t bytes = 0;
  int64_t files = 0;
  int64_t folders = 1;
};

// The gone folders the JSON report names; the console and HTML forms name
// the first few.
inline constexpr size_t kGoneFoldersListed = 1000;

// The comparison of the run; the growth of each shown folder lives until the
// tree is released.
struct GrowthFigures {
  bool loaded = false;
  std::string created;  // the earlier report's, as it gives it
  std::string path;
  int64_t goneFolders = 0;
  int64_t goneBytes = 0;
  std::vector<GoneFolder> gone;  // largest first, the rest summed in the last
  std::unordered_map<const TDirEntry*, Growth> growth;
};
extern GrowthFigures growthFigures;

// A folder name as the file system compares names: without regard to case
// on Windows, byte for byte on Linux.
std::string NameKey(std::string_view name);
// Whether the path `inner` is `outer` or lies inside it, names compared as
// NameKey compares them.
bool SameOrInside(const std::string& inner, const std::string& outer);
// Whether one of the two paths is the other or lies inside it.
bool Overlapping(const std::string& a, const std::string& b);
// `folder` and its subtree get the growth `kind`, with no figure.
void MarkGrowthOfSubtree(const TDirEntry& folder, Growth::Kind kind);

// Under -sort=growth: orders each folder's children by growth, largest
// first (a new folder counts its whole total, an unknown growth 0, an
// unreadable folder comes last; equal figures keep the listing order), or by
// total without a comparison.
void OrderByGrowth();

// After `folder` was read again: `before` is a copy of it as the scan had
// it, with the scan's subfolders. The folders read now keep the earlier
// totals of the folders of the same names (a folder the scan did not have
// is new); the growth of the scan's subfolders is forgotten.
void CarryGrowthToRescan(const TDirEntry& before, TDirEntry& folder);
// `folder` and its subtree leave the tree: their growth is forgotten, so that
// no folder made later at the same place in memory takes it.
void ForgetGrowth(const TDirEntry& folder);
// The total of `folder` moved by `bytes` (something below it was removed or
// read again); its earlier total stays.
void ShiftGrowth(const TDirEntry& folder, int64_t bytes);

// Ends the comparison; the driver calls it when it releases the tree, whose
// folders the growth figures belong to.
void ReleaseComparison();

// A comparison is loaded.
bool Comparing();
// A comparison is loaded and its column is on (the browser's G key).
bool GrowthShown();
Growth GrowthOf(const TDirEntry& folder);

// "+1.2 MB", "-340 KB", "0 bytes", "new", "?" when unreadable, or empty when
// unknown.
std::string GrowthSizeText(const Growth& growth);
// A plain signed integer, "new", "?", or empty when unknown.
std::string GrowthPlainText(const Growth& growth);

// The earlier report's creation time and start path, and what has gone.
const std::string& EarlierCreated();
const std::string& EarlierPath();
int64_t GoneFolders();
int64_t GoneBytes();
// "Growth since the report of <created>; gone since then: 2 folders, 1.5 MB"
std::string ComparisonFooterText();
// The gone folders, largest first: at most 1,000 by name, then one entry
// summing the rest.
const std::vector<GoneFolder>& GoneList();
// The lines of the console and HTML forms that name the largest gone
// folders (at most 10), and line `line` of them: "  gone: <path>  <size>".
int32_t GoneLinesShown();
std::string GoneLineText(int32_t line);

// What grew since an earlier scan: -compare=FILE reads a JSON report that
// this program wrote earlier and gives every shown folder of the new scan a
// growth figure, its total now minus its total then.
//
// Folders are matched by their chain of names below the start folder, as the
// file system compares names (without regard to case on Windows, byte for
// byte on Linux). A folder that the earlier parent did not list, although
// nothing was folded into that parent, is new; one whose earlier parent was
// folded has no earlier figure of its own, so its growth is unknown. Earlier
// folders that a parent listed then and does not list now (unless something
// is folded into it now, which may hide them) are gone, and are counted with
// their bytes for the footer line.
//
// Order of use in a run: LoadComparison before the scan (it refuses a file
// that does not compare), CompareWithTree after it, then OrderByGrowth under
// -sort=growth; the renderers read GrowthOf while they walk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scan/tree.h"

struct Growth {
  enum class Kind : uint8_t { unknown, known, added };
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

// Reads the earlier report `file` for a scan of `expandedPath` with this
// run's settings. False with the message line in `refusal` when the file
// cannot be read, is not a report of this program, is cut short, is of
// another start path, or was counted with other settings.
bool LoadComparison(const std::string& file, const std::string& expandedPath, std::string& refusal);

// Gives each folder of the scanned tree its growth and counts the gone
// folders; the earlier folders are released afterwards.
void CompareWithTree();

// Under -sort=growth: orders each folder's children by growth, largest
// first (a new folder counts its whole total, an unknown growth 0; equal
// figures keep the listing order), or by total without a comparison.
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

// "+1.2 MB", "-340 KB", "0 bytes", "new", or empty when unknown.
std::string GrowthSizeText(const Growth& growth);
// A plain signed integer, "new", or empty when unknown.
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

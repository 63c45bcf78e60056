// The readers of a saved report (-compare= and -load=): whatever the file
// holds, it is either refused with a message or read; an earlier report
// compares with a small tree without a crash, with no negative count of gone
// folders, and a loaded report (alone, and merged with itself) becomes a tree
// whose figures hold together, which its own report compares with.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "fuzz_check.h"
#include "report/growth.h"
#include "report/report_origin.h"
#include "saved/comparison.h"
#include "saved/loaded_report.h"
#include "scan/scanner.h"
#include "scan/tree.h"
#include "settings/settings.h"

namespace {

// /data holding "a" (holding the folded "b ...") and "c".
void BuildTree() {
  static TDirEntry a, b, c;
  root = TDirEntry{};
  root.name = "/data";
  root.localBytes = 4096;
  root.subBytes = 3 * 4096;
  a = TDirEntry{};
  a.name = "a";
  a.localBytes = a.subBytes = 4096;
  b = TDirEntry{};
  b.name = "b";
  b.folded = true;
  b.localBytes = 4096;
  c = TDirEntry{};
  c.name = "c";
  c.localBytes = 4096;
  root.firstChild = &a;
  a.next = &c;
  a.firstChild = &b;
}

// No folder holds less than its own bytes; a folded folder never lists
// folders that a parent could hold.
void CheckTree(const TDirEntry& folder) {
  FUZZ_CHECK(folder.subBytes >= 0 && folder.localBytes >= 0);
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) CheckTree(*child);
}

void LoadAndCompare(const std::vector<std::string>& files) {
  options = ReportOptions{};
  options.maxDepth = 3;
  options.minFolderBytes = 100;
  std::string failure, warning, refusal;
  if (!LoadReports(files, failure, warning)) {
    FUZZ_CHECK(!failure.empty());
    return;
  }
  FUZZ_CHECK(failure.empty() && ReportLoaded());
  if (files.size() > 1) FUZZ_CHECK(root.firstChild != nullptr && root.firstChild->next != nullptr);
  ShapeLoadedTree();
  CheckTree(root);
  if (files.size() == 1 && LoadComparison(files.front(), root.name, refusal)) {
    CompareWithTree();
    FUZZ_CHECK(GrowthOf(root).kind == Growth::Kind::known || GrowthOf(root).kind == Growth::Kind::unreadable);
  }
  ReleaseComparison();
  FoldSubtree(root);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string file = "/tmp/fuzz-compare-report-" + std::to_string(getpid()) + ".json";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  options = ReportOptions{};
  effectiveClusterSize = 4096;
  BuildTree();
  std::string refusal;
  if (LoadComparison(file, "/data", refusal)) {
    FUZZ_CHECK(refusal.empty());
    CompareWithTree();
    OrderByGrowth();
    FUZZ_CHECK(GoneFolders() >= 0 && GoneBytes() >= 0);
    FUZZ_CHECK(GrowthOf(root).kind == Growth::Kind::known || GrowthOf(root).kind == Growth::Kind::unreadable);
  } else {
    FUZZ_CHECK(!refusal.empty() && !Comparing());
  }
  ReleaseComparison();
  LoadAndCompare({file});
  LoadAndCompare({file, file});
  std::remove(file.c_str());
  return 0;
}

// A folder read again from the browser (R) leaves the tree, its totals and
// the growth since an earlier report as a fresh scan of the disk gives them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "browse/folder_actions.h"
#include "fake_listing.h"
#include "report/growth.h"
#include "saved/comparison.h"
#include "scan/scanner.h"
#include "settings/settings.h"

namespace {

std::string P(std::string text) {
  std::replace(text.begin(), text.end(), '/', platform::kPathSeparator);
  return text;
}

// Every folder's figures and growth, in line order, and the scan totals.
void Describe(const TDirEntry& folder, std::vector<std::string>& lines) {
  const Growth growth = GrowthOf(folder);
  lines.push_back(MarkedName(folder) + " total " + std::to_string(TotalBytes(folder)) + " own " +
                  std::to_string(folder.localBytes) + " wasted " + std::to_string(folder.wastedBytes) + " files " +
                  std::to_string(folder.fileCount) + " growth " + std::to_string(static_cast<int>(growth.kind)) +
                  "/" + std::to_string(growth.bytes));
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) Describe(*child, lines);
}

std::vector<std::string> Described() {
  std::vector<std::string> lines;
  Describe(root, lines);
  lines.push_back("totals " + std::to_string(scanTotals.totalFiles) + " " + std::to_string(scanTotals.totalWasted));
  return lines;
}

TDirEntry* ChildNamed(TDirEntry& parent, const std::string& name) {
  TDirEntry* child = parent.firstChild;
  while (child != nullptr && child->name != name) child = child->next;
  return child;
}

// The earlier report knew r, a (with a1) and b.
void ScanAndCompare(const std::string& earlierFile) {
  ASSERT_TRUE(ScanFake(P("/r"), 4096));
  std::string refusal;
  ASSERT_TRUE(LoadComparison(earlierFile, P("/r"), refusal)) << refusal;
  CompareWithTree();
}

TEST(Rescan, AFolderReadAgainEqualsAFreshScanWithItsGrowth) {
  const std::filesystem::path earlier = std::filesystem::temp_directory_path() / "tallyfold-rescan-test.json";
  std::ofstream(earlier) << R"({"program":"tallyfold","created":"2026-11-07T10:00:00+01:00","path":)"
                         << "\"" << (platform::kPathSeparator == '/' ? "/r" : "\\\\r") << "\""
                         << R"(,"clusterSize":4096,"dirMode":false,"includeOffline":true,"root":{"name":"r",)"
                            R"("total":50000,"children":[{"name":"a","total":20000,"children":[{"name":"a1",)"
                            R"("total":9000}]},{"name":"b","total":3000}]}})";
  struct Case {
    const char* what;
    std::vector<std::string> names;  // of the folder read again, below the start folder
  };
  for (const Case& c : {Case{"a subfolder", {"a"}}, Case{"a folder two levels down", {"a", "a1"}},
                        Case{"the start folder", {}}}) {
    SCOPED_TRACE(c.what);
    options.sortOrder = SortOrder::total;
    fakeFolders[P("/r/")] = {platform::ListStatus::Listed, {Dir("a"), Dir("b"), File("x", 5000)}};
    fakeFolders[P("/r/a/")] = {platform::ListStatus::Listed, {Dir("a1"), File("f", 100)}};
    fakeFolders[P("/r/a/a1/")] = {platform::ListStatus::Listed, {File("g", 10)}};
    fakeFolders[P("/r/b/")] = {platform::ListStatus::Listed, {File("h", 7000)}};
    ScanAndCompare(earlier.string());
    // On the disk meanwhile: a1 grew and has a new subfolder.
    fakeFolders[P("/r/a/a1/")].entries = {File("g", 30000), Dir("new")};
    fakeFolders[P("/r/a/a1/new/")] = {platform::ListStatus::Listed, {File("n", 4096)}};

    FolderChain chain;
    for (const std::string& name : c.names) chain.push_back(ChildNamed(chain.empty() ? root : *chain.back(), name));
    const std::string startPath = P("/r/");
    wayCheck = [](const platform::ItemWay&) { return platform::RemovalResult{}; };
    EXPECT_EQ(RescanFolderAt({startPath, chain}), "");
    wayCheck = platform::CheckWay;
    const std::vector<std::string> readAgain = Described();

    ReleaseComparison();
    FoldSubtree(root);
    ScanAndCompare(earlier.string());
    EXPECT_EQ(readAgain, Described());
    ReleaseComparison();
    ResetScan();
  }
  std::filesystem::remove(earlier);
}

}  // namespace

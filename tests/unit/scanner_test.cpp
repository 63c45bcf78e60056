#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "fake_listing.h"
#include "scan/scanner.h"
#include "settings/settings.h"

namespace {

constexpr uint32_t kOffline = platform::kAttrOffline;
constexpr int64_t kGiB = 1024LL * 1024 * 1024;

// A path of the running system's spelling: "/" in `text` becomes the separator.
std::string P(std::string text) {
  std::replace(text.begin(), text.end(), '/', platform::kPathSeparator);
  return text;
}

std::vector<std::string> ChildNames(const TDirEntry& parent) {
  std::vector<std::string> names;
  for (const TDirEntry* child = parent.firstChild; child != nullptr; child = child->next) {
    names.push_back(MarkedName(*child));
  }
  return names;
}

const TDirEntry& Child(const TDirEntry& parent, const std::string& name) {
  for (const TDirEntry* child = parent.firstChild; child != nullptr; child = child->next) {
    if (MarkedName(*child) == name) return *child;
  }
  ADD_FAILURE() << "no child " << name;
  return parent;
}

class Scan : public ::testing::Test {
 protected:
  void TearDown() override { ResetScan(); }
};

TEST_F(Scan, RoundsEachFileToClustersAndAddsTheEntryAllowance) {
  // Six entries with "." and ".." take 192 bytes: one cluster, 3904 slack.
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed,
                           {File("one", 1), File("seven", 7000), File("eight", 8192), File("empty", 0)}};
  ASSERT_TRUE(ScanFake(P("/r"), 4096));
  EXPECT_EQ(root.fileCount, 4);
  EXPECT_EQ(root.localBytes, 4096 + 8192 + 8192 + 0 + 4096);
  EXPECT_EQ(root.wastedBytes, 4095 + 1192 + 0 + 3904);
  EXPECT_EQ(scanTotals.totalFiles, 4);
  EXPECT_EQ(scanTotals.totalWasted, root.wastedBytes);
}

TEST_F(Scan, RoundsToAnyClusterSizeWhetherAPowerOfTwoOrNot) {
  struct Case {
    int32_t cluster;
    int64_t bytes, rounded, slack;
  };
  for (const Case& c : {Case{4096, 1, 4096, 4095}, Case{4096, 8192, 8192, 0}, Case{512, 0, 0, 0},
                        Case{3000, 7000, 9000, 2000}, Case{3000, 6000, 6000, 0}, Case{1, 5, 5, 0}}) {
    effectiveClusterSize = c.cluster;
    int64_t waste = 0;
    EXPECT_EQ(ClusterRound(c.bytes, waste), c.rounded) << c.cluster << " " << c.bytes;
    EXPECT_EQ(waste, c.slack) << c.cluster << " " << c.bytes;
  }
}

TEST_F(Scan, DirModeCountsPlainSizesWithoutAllowanceOrWaste) {
  options.dirMode = true;
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed, {File("one", 1), File("seven", 7000), File("eight", 8192)}};
  ASSERT_TRUE(ScanFake(P("/r"), 4096));
  EXPECT_EQ(root.localBytes, 1 + 7000 + 8192);
  EXPECT_EQ(root.wastedBytes, 0);
  EXPECT_EQ(scanTotals.totalWasted, 0);
}

TEST_F(Scan, DriveRootGetsNoAllowanceButOtherFoldersDo) {
  fakeFolders[P("/")] = {platform::ListStatus::Listed, {File("a", 0), File("b", 0), Dir("empty")}};
  fakeFolders[P("/empty/")] = {};
  allowanceFreeRoot = P("/");
  ASSERT_TRUE(ScanFake(P("/"), 4096));
  EXPECT_EQ(root.localBytes, 0);
  const TDirEntry& empty = Child(root, "empty");
  EXPECT_EQ(empty.fileCount, 0);
  EXPECT_EQ(empty.localBytes, 4096);   // 64 bytes for "." and ".."
  EXPECT_EQ(empty.wastedBytes, 4032);
  EXPECT_EQ(root.subBytes, 4096);
}

TEST_F(Scan, SkipsReparsePointsAndVolumeLabelsButCountsTheirEntries) {
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed,
                           {{"link", platform::kAttrDirectory | platform::kAttrReparsePoint, 0},
                            {"filelink", platform::kAttrReparsePoint, 5000},
                            {"label", platform::kAttrVolumeLabel, 0},
                            File("real", 10)}};
  ASSERT_TRUE(ScanFake(P("/r"), 1));
  EXPECT_EQ(root.firstChild, nullptr);
  EXPECT_EQ(root.fileCount, 1);
  EXPECT_EQ(root.localBytes, 10 + 6 * 32);
}

TEST_F(Scan, TakesSizesAboveFourGigabytesWhole) {
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed, {File("huge", 5 * kGiB + 1), File("big", 3 * 1024 * kGiB)}};
  options.dirMode = true;
  ASSERT_TRUE(ScanFake(P("/r"), 4096));
  EXPECT_EQ(root.localBytes, 5 * kGiB + 1 + 3 * 1024 * kGiB);
}

TEST_F(Scan, NoOfflineLeavesOutOnlyTheSizesOfOfflineFiles) {
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed, {File("here", 100), File("away", 5000, kOffline)}};
  options.dirMode = true;
  ASSERT_TRUE(ScanFake(P("/r"), 1));
  EXPECT_EQ(root.localBytes, 5100);
  ResetScan();
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed, {File("here", 100), File("away", 5000, kOffline)}};
  options.dirMode = true;
  options.includeOffline = false;
  ASSERT_TRUE(ScanFake(P("/r"), 1));
  EXPECT_EQ(root.localBytes, 100);
  EXPECT_EQ(root.fileCount, 2);
  EXPECT_EQ(scanTotals.totalFiles, 2);
}

TEST_F(Scan, MissingOrUnreadableStartFolderFailsAndLeavesTheRootEmpty) {
  EXPECT_FALSE(ScanFake(P("/nowhere"), 4096));
  EXPECT_EQ(root.localBytes, 0);
  EXPECT_EQ(root.firstChild, nullptr);
  fakeFolders[P("/denied/")] = {{platform::ListStatus::Failed, "Permission denied"}, {}};
  EXPECT_FALSE(ScanFake(P("/denied"), 4096));
  EXPECT_EQ(root.localBytes, 0);
}

// A file counts its length in whole clusters, but never more clusters than
// its allocation fills where the system says (Linux for every file, Windows
// for files flagged sparse or compressed); -dir counts lengths.
TEST_F(Scan, AFileCountsNoMoreClustersThanItsAllocationFills) {
  struct Case {
    const char* what;
    int64_t size, allocated, counted, slack;
  };
  for (const Case& c : {Case{"allocation not given", 5000, -1, 8192, 3192},
                        Case{"allocation of the rounded length", 5000, 8192, 8192, 3192},
                        Case{"sparse", kGiB, 0, 0, 0},
                        Case{"partly written", 100000, 4096, 4096, 0},
                        Case{"compressed into part of a cluster", 10000, 3000, 4096, 0}}) {
    for (const bool dirMode : {false, true}) {
      fakeFolders[P("/r/")] = {platform::ListStatus::Listed, {AllocatedFile("f", c.size, c.allocated, 0x220)}};
      allowanceFreeRoot = P("/r/");
      options.dirMode = dirMode;
      ASSERT_TRUE(ScanFake(P("/r"), 4096));
      EXPECT_EQ(root.localBytes, dirMode ? c.size : c.counted) << c.what;
      EXPECT_EQ(root.wastedBytes, dirMode ? 0 : c.slack) << c.what;
      ResetScan();
    }
  }
}

// A folder that is not the one its parent listed, a folder already on its own
// path (a bind mount of an ancestor) and, without -mounts, another file
// system are not entered; each is named on standard error.
TEST_F(Scan, EntersNoChangedFolderNorLoopAndOtherFileSystemsOnlyWithMounts) {
  for (const bool crossMounts : {false, true}) {
    fakeFolders[P("/r/")] = {platform::ListStatus::Listed,
                             {Dir("changed", 8), Dir("same", 3),
                              {"mnt", platform::kAttrDirectory | platform::kAttrOtherFileSystem, 0, 1, 4}},
                             false, 1};
    fakeFolders[P("/r/changed/")] = {platform::ListStatus::Listed, {File("f", 1000)}, false, 9};
    fakeFolders[P("/r/same/")] = {platform::ListStatus::Listed, {Dir("up", 1), File("f", 20)}, false, 3};
    fakeFolders[P("/r/same/up/")] = {platform::ListStatus::Listed, {File("f", 2000)}, false, 1};
    fakeFolders[P("/r/mnt/")] = {platform::ListStatus::Listed, {File("f", 300)}, false, 4};
    options.dirMode = true;
    options.crossMounts = crossMounts;
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(ScanFake(P("/r"), 1));
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(TotalBytes(root), crossMounts ? 320 : 20);
    EXPECT_EQ(ChildNames(root), crossMounts ? (std::vector<std::string>{"changed", "mnt", "same"})
                                            : (std::vector<std::string>{"changed", "same"}));
    EXPECT_EQ(ChildNames(Child(root, "same")), std::vector<std::string>{"up"});
    if (platform::kPathStyle == platform::PathStyle::Posix) {
      EXPECT_EQ(errors, std::string(crossMounts ? "" : "Not scanned: /r/mnt/ (another file system; -mounts scans it)\n") +
                            "Folder loop: /r/same/up/\nFolder changed during the scan: /r/changed/\n");
    }
    ResetScan();
  }
}

TEST_F(Scan, UnlistableSubfoldersKeepWhatWasReadAndTheRestIsExact) {
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed, {Dir("gone"), Dir("denied"), Dir("broken"), Dir("ok")}};
  fakeFolders[P("/r/denied/")] = {platform::ListStatus::Failed, {}};
  fakeFolders[P("/r/broken/")] = {{platform::ListStatus::Failed, "Input/output error"}, {File("read", 300)}};
  fakeFolders[P("/r/ok/")] = {platform::ListStatus::Listed, {File("f", 10)}};
  options.dirMode = true;
  ASSERT_TRUE(ScanFake(P("/r"), 1));
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"broken", "denied", "gone", "ok"}));
  EXPECT_EQ(TotalBytes(Child(root, "gone")), 0);
  EXPECT_EQ(TotalBytes(Child(root, "denied")), 0);
  EXPECT_EQ(TotalBytes(Child(root, "broken")), 300);
  EXPECT_EQ(Child(root, "broken").fileCount, 1);
  EXPECT_EQ(TotalBytes(root), 310);
}

TEST_F(Scan, SkipsAChildWhosePathWouldPassTheLimitWhereThereIsOne) {
  // Windows: a folder whose path with its separator is five characters short
  // of the limit: a two-character child fits (with separator and wildcard), a
  // three-character one does not. Linux has no limit: a folder 5,000 bytes
  // deep reads both.
  const bool limited = platform::kPathStyle == platform::PathStyle::Windows;
  const size_t length = limited ? static_cast<size_t>(platform::kMaxScanPathLength - 5) : 5000;
  std::string folder = P("/") + std::string(length - 2, 'x') + platform::kPathSeparator;
  fakeFolders[folder] = {platform::ListStatus::Listed, {Dir("ab"), Dir("abc")}};
  fakeFolders[folder + "ab" + platform::kPathSeparator] = {platform::ListStatus::Listed, {File("f", 7)}};
  fakeFolders[folder + "abc" + platform::kPathSeparator] = {platform::ListStatus::Listed, {File("f", 9)}};
  options.dirMode = true;
  ASSERT_TRUE(ScanFake(folder, 1));
  EXPECT_EQ(TotalBytes(Child(root, "ab")), 7);
  EXPECT_EQ(TotalBytes(Child(root, "abc")), limited ? 0 : 9);
}

TEST_F(Scan, SizeThresholdIsStrictAndMarksTheParent) {
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed, {Dir("exact"), Dir("below")}};
  fakeFolders[P("/r/exact/")] = {platform::ListStatus::Listed, {File("f", 1048576 - 3 * 32)}};
  fakeFolders[P("/r/below/")] = {platform::ListStatus::Listed, {File("f", 1048575 - 4 * 32), File("g", 0)}};
  options.dirMode = false;
  options.minFolderBytes = 1048576;
  ASSERT_TRUE(ScanFake(P("/r"), 1));
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"exact"}));
  EXPECT_EQ(MarkedName(root), P("/r ..."));
  EXPECT_EQ(root.fileCount, 2);  // the folded folder's files
  EXPECT_EQ(root.subBytes, 1048576 + 1048575);
}

TEST_F(Scan, DepthLimitFoldsSubtreesIntoTheFoldersAtTheLimit) {
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed, {Dir("deep"), Dir("flat")}};
  fakeFolders[P("/r/deep/")] = {platform::ListStatus::Listed, {Dir("x"), File("f", 1)}};
  fakeFolders[P("/r/deep/x/")] = {platform::ListStatus::Listed, {Dir("y"), File("f", 1), File("g", 1)}};
  fakeFolders[P("/r/deep/x/y/")] = {platform::ListStatus::Listed, {File("f", 1)}};
  fakeFolders[P("/r/flat/")] = {platform::ListStatus::Listed, {File("f", 1)}};
  options.maxDepth = 1;
  ASSERT_TRUE(ScanFake(P("/r"), 1));
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"deep ...", "flat"}));
  const TDirEntry& deep = Child(root, "deep ...");
  EXPECT_EQ(deep.firstChild, nullptr);
  EXPECT_EQ(deep.fileCount, 4);
  EXPECT_EQ(TotalBytes(deep), 4 + (4 + 5 + 3) * 32);
  EXPECT_EQ(scanTotals.totalFiles, 5);
}

TEST_F(Scan, WithoutADepthLimitNoLevelIsFolded) {
  if (platform::kMaxScanPathLength < 600) GTEST_SKIP() << "300 levels need a longer path than the system takes";
  std::string path = P("/r");
  for (int level = 1; level <= 300; ++level) {
    fakeFolders[path + platform::kPathSeparator] = {};
    if (level < 300) fakeFolders[path + platform::kPathSeparator].entries = {Dir("d")};
    path += P("/d");
  }
  ASSERT_TRUE(ScanFake(P("/r"), 1));
  int levels = 1;
  for (const TDirEntry* folder = &root; folder->firstChild != nullptr; folder = folder->firstChild) ++levels;
  EXPECT_EQ(levels, 300);
}

TEST_F(Scan, TheFoldMarkIsShownOnceAndLeavesTheNameAlone) {
  TDirEntry entry;
  entry.name = "old ... stuff";
  EXPECT_FALSE(entry.folded);
  MarkFolded(entry);
  EXPECT_TRUE(entry.folded);
  EXPECT_EQ(MarkedName(entry), "old ... stuff");
  entry.name = "plain";
  MarkFolded(entry);
  MarkFolded(entry);
  EXPECT_EQ(entry.name, "plain");
  EXPECT_EQ(MarkedName(entry), "plain ...");
}

struct OrderCase {
  SortOrder order;
  std::vector<std::string> expected;
};

class ChildOrder : public ::testing::TestWithParam<OrderCase> {
 protected:
  void TearDown() override { ResetScan(); }
};

// Listing order: abc (3 files, 300 bytes), ABD (1 file, 300), ab (2, 50),
// Zed (2, 300), b (2, 900), then three empty ones, whose names are alike in
// their first eight upper-cased bytes or in all of them. The sizes tie so
// that equal keys show their order.
TEST_P(ChildOrder, OrdersEachFoldersChildren) {
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed,
                           {Dir("abc"), Dir("ABD"), Dir("ab"), Dir("Zed"), Dir("b"), Dir("LONGNAMES1"), Dir("ZED"),
                            Dir("Longnames2")}};
  for (const char* empty : {"/r/Longnames2/", "/r/ZED/", "/r/LONGNAMES1/"}) {
    fakeFolders[P(empty)] = {platform::ListStatus::Listed, {}};
  }
  fakeFolders[P("/r/abc/")] = {platform::ListStatus::Listed, {File("1", 100), File("2", 100), File("3", 100)}};
  fakeFolders[P("/r/ABD/")] = {platform::ListStatus::Listed, {File("1", 300)}};
  fakeFolders[P("/r/ab/")] = {platform::ListStatus::Listed, {File("1", 25), File("2", 25)}};
  fakeFolders[P("/r/Zed/")] = {platform::ListStatus::Listed, {File("1", 150), File("2", 150)}};
  fakeFolders[P("/r/b/")] = {platform::ListStatus::Listed, {File("1", 450), File("2", 450)}};
  options.dirMode = true;
  options.sortOrder = GetParam().order;
  ASSERT_TRUE(ScanFake(P("/r"), 1));
  EXPECT_EQ(ChildNames(root), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    EverySortOrder, ChildOrder,
    ::testing::Values(
        OrderCase{SortOrder::name, {"ab", "abc", "ABD", "b", "LONGNAMES1", "Longnames2", "ZED", "Zed"}},
        OrderCase{SortOrder::none, {"abc", "ABD", "ab", "Zed", "b", "LONGNAMES1", "ZED", "Longnames2"}},
        OrderCase{SortOrder::local, {"b", "abc", "ABD", "Zed", "ab", "LONGNAMES1", "ZED", "Longnames2"}},
        OrderCase{SortOrder::total, {"b", "abc", "ABD", "Zed", "ab", "LONGNAMES1", "ZED", "Longnames2"}},
        OrderCase{SortOrder::files, {"abc", "ab", "Zed", "b", "ABD", "LONGNAMES1", "ZED", "Longnames2"}}));

// Every folder in line order, indented by its depth.
void AppendTreeLines(const TDirEntry& folder, const std::string& indent, std::vector<std::string>& lines) {
  lines.push_back(indent + MarkedName(folder));
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
    AppendTreeLines(*child, indent + " ", lines);
  }
}

std::vector<std::string> TreeLines() {
  std::vector<std::string> lines;
  AppendTreeLines(root, "", lines);
  return lines;
}

// Ties in every order, names equal but for case, and folders folded by the
// depth limit (" ..." in their names), on two levels.
void SetUpTiedListing() {
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed,
                           {Dir("abc"), Dir("ABD"), Dir("ab"), Dir("Zed"), Dir("b"), Dir("DATA")}};
  fakeFolders[P("/r/abc/")] = {platform::ListStatus::Listed,
                               {File("1", 100), File("2", 100), File("3", 100)}};
  fakeFolders[P("/r/ABD/")] = {platform::ListStatus::Listed, {File("1", 300), Dir("x"), Dir("X"), Dir("w")}};
  fakeFolders[P("/r/ABD/x/")] = {platform::ListStatus::Listed, {File("1", 7), Dir("deep")}};
  fakeFolders[P("/r/ABD/x/deep/")] = {platform::ListStatus::Listed, {File("1", 9)}};
  fakeFolders[P("/r/ABD/X/")] = {platform::ListStatus::Listed, {File("1", 16)}};
  fakeFolders[P("/r/ABD/w/")] = {platform::ListStatus::Listed, {File("1", 7), File("2", 9)}};
  fakeFolders[P("/r/ab/")] = {platform::ListStatus::Listed, {File("1", 25), File("2", 25)}};
  fakeFolders[P("/r/Zed/")] = {platform::ListStatus::Listed, {File("1", 150), File("2", 150)}};
  fakeFolders[P("/r/b/")] = {platform::ListStatus::Listed, {File("1", 450), File("2", 450)}};
  fakeFolders[P("/r/DATA/")] = {platform::ListStatus::Listed, {File("1", 300)}};
  options.dirMode = true;
  options.maxDepth = 2;
}

constexpr SortOrder kEveryOrder[] = {SortOrder::name, SortOrder::none, SortOrder::local,
                                     SortOrder::total, SortOrder::waste, SortOrder::files};

// The browser orders the scanned tree again: each order must be exactly the
// one a scan in that order gives, from a tree scanned in any other order.
TEST_F(Scan, RelinkingInAnotherOrderGivesThatOrdersScan) {
  for (SortOrder target : kEveryOrder) {
    SetUpTiedListing();
    options.sortOrder = target;
    ASSERT_TRUE(ScanFake(P("/r"), 4));
    const std::vector<std::string> scanned = TreeLines();
    for (SortOrder first : kEveryOrder) {
      SCOPED_TRACE(testing::Message() << "from order " << int(first) << " to " << int(target));
      options.sortOrder = first;
      RelinkTree(root);
      options.sortOrder = target;
      RelinkTree(root);
      EXPECT_EQ(TreeLines(), scanned);
    }
    ResetScan();
  }
}

TEST_F(Scan, EqualNamesKeepTheOrderTheyWereInsertedIn) {
  // The listing is read backwards, so of two names equal after upper-casing
  // the one listed last comes first.
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed, {Dir("Data"), Dir("DATA")}};
  fakeFolders[P("/r/Data/")] = {};
  fakeFolders[P("/r/DATA/")] = {};
  ASSERT_TRUE(ScanFake(P("/r"), 1));
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"DATA", "Data"}));
}

TEST_F(Scan, WasteOrderPutsTheMostSlackFirst) {
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed, {Dir("tidy"), Dir("wasteful")}};
  fakeFolders[P("/r/tidy/")] = {platform::ListStatus::Listed, {File("f", 4096 - 96)}};
  fakeFolders[P("/r/wasteful/")] = {platform::ListStatus::Listed, {File("f", 1)}};
  options.sortOrder = SortOrder::waste;
  ASSERT_TRUE(ScanFake(P("/r"), 4096));
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"wasteful", "tidy"}));
}

TEST_F(Scan, FoldSubtreeReleasesEverythingAndKeepsTheCounts) {
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed, {Dir("a"), File("f", 3)}};
  fakeFolders[P("/r/a/")] = {platform::ListStatus::Listed, {Dir("b"), File("f", 3)}};
  fakeFolders[P("/r/a/b/")] = {platform::ListStatus::Listed, {File("f", 3)}};
  ASSERT_TRUE(ScanFake(P("/r"), 4));
  const int64_t total = TotalBytes(root);
  FoldSubtree(root);
  EXPECT_EQ(root.firstChild, nullptr);
  EXPECT_EQ(root.fileCount, 3);
  EXPECT_EQ(root.wastedBytes, scanTotals.totalWasted);
  EXPECT_EQ(TotalBytes(root), total);
}

}  // namespace

namespace {

TEST(FileCounts, AreHeldAtTheirLimitWhenFoldedAndWhenCounted) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  TDirEntry parent;
  parent.fileCount = kMax - 1;
  auto* child = new TDirEntry;
  child->fileCount = 5;
  child->firstChild = new TDirEntry;
  child->firstChild->fileCount = kMax;
  FoldChildInto(child, parent);
  EXPECT_EQ(parent.fileCount, kMax);
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed, {File("a", 1), File("b", 1)}};
  scanTotals.totalFiles = kMax - 1;
  root.fileCount = kMax - 1;
  scanPath = P("/r");
  folderLister = ListFakeFolder;
  ASSERT_TRUE(ScanFolder(root));
  EXPECT_EQ(root.fileCount, kMax);
  EXPECT_EQ(scanTotals.totalFiles, kMax);
  ResetScan();
}

}  // namespace

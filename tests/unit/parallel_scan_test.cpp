#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <system_error>
#include <thread>

#include "fake_listing.h"
#include "scan/file_stats.h"
#include "scan/folder_reader.h"
#include "scan/scanner.h"
#include "settings/settings.h"

namespace {

std::string Sep() { return std::string(1, platform::kPathSeparator); }

std::string Named(const char* prefix, unsigned long number) {
  std::string name = prefix;
  name += std::to_string(number);
  return name;
}

// A random tree of about `folders` folders below "/t", with files of mixed
// sizes, files with several hard links, equal names after upper-casing,
// links, unreadable, vanished and changed folders and loops, all in the fake
// listing.
void BuildRandomTree(unsigned seed, int folders) {
  std::mt19937 random(seed);
  std::vector<std::string> paths = {Sep() + "t" + Sep()};
  fakeFolders[paths[0]] = {};
  fakeFolders[paths[0]].fileId = 1;
  for (int i = 1; i < folders; ++i) {
    const std::string parent = paths[random() % paths.size()];
    std::string name = Named("d", random() % 50);
    if (random() % 7 == 0) name[0] = 'D';  // equal once upper-cased
    const std::string path = parent + name + Sep();
    if (fakeFolders.count(path)) continue;
    // Now and then the listing sees another folder than the one opened, or
    // one on its own path.
    const uint64_t fileId = i + 1;
    const uint64_t listed = random() % 60 == 0 ? 1 : random() % 60 == 0 ? folders + i : fileId;
    fakeFolders[parent].entries.push_back(Dir(name, listed));
    paths.push_back(path);
    FakeFolder& folder = fakeFolders[path];
    folder.fileId = fileId;
    if (random() % 40 == 0) folder.status = platform::ListStatus::Failed;
    if (random() % 50 == 0) folder.vanishesMidListing = true;
    if (random() % 60 == 0) fakeFolders.erase(path);  // gone before it is read
  }
  for (const std::string& path : paths) {
    auto found = fakeFolders.find(path);
    if (found == fakeFolders.end()) continue;
    const int files = static_cast<int>(random() % 12);
    for (int f = 0; f < files; ++f) {
      found->second.entries.push_back(File(Named("f", f), static_cast<int64_t>(random() % 100000)));
    }
    if (random() % 10 == 0) found->second.entries.push_back({"link", platform::kAttrReparsePoint, 0});
    if (random() % 4 == 0) {
      const uint64_t fileId = random() % 40;  // the first folder the scan takes it from counts it
      found->second.entries.push_back(LinkedFile("hard", static_cast<int64_t>(fileId * 1000 + 1), fileId, 2));
    }
    std::shuffle(found->second.entries.begin(), found->second.entries.end(), random);
  }
}

// The whole tree as text: every folder's figures in display order.
void Describe(const TDirEntry& folder, int depth, std::string& text) {
  text += std::string(depth, ' ') + folder.name + " " + std::to_string(folder.fileCount) + " " +
          std::to_string(folder.localBytes) + " " + std::to_string(folder.subBytes) + " " +
          std::to_string(folder.wastedBytes) + "\n";
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
    Describe(*child, depth + 1, text);
  }
}

std::string ScanAndDescribe(int threads, decltype(folderLister) lister = ListFakeFolder) {
  folderLister = lister;
  effectiveClusterSize = 4096;
  scanTotals = ScanTotals{};
  root = TDirEntry{};
  root.name = Sep() + "t";
  scanPath = root.name;
  const bool scanned = threads == 1 ? ScanFolder(root) : ScanFolderAhead(root, threads);
  std::string text = scanned ? "scanned\n" : "failed\n";
  Describe(root, 0, text);
  text += std::to_string(scanTotals.totalFiles) + " " + std::to_string(scanTotals.totalWasted);
  FoldSubtree(root);
  return text;
}

struct Shape {
  SortOrder order;
  uint8_t depth;
  int64_t threshold;
  bool dirMode;
};

class ParallelScan : public ::testing::TestWithParam<Shape> {
 protected:
  void TearDown() override { ResetScan(); }
};

TEST_P(ParallelScan, BuildsExactlyTheTreeOfTheSingleThreadedScan) {
  BuildRandomTree(20261207, 3000);
  options.sortOrder = GetParam().order;
  options.maxDepth = GetParam().depth;
  options.minFolderBytes = GetParam().threshold;
  options.dirMode = GetParam().dirMode;
  const std::string alone = ScanAndDescribe(1);
  ASSERT_GT(std::count(alone.begin(), alone.end(), '\n'), 5);
  // 0: the count chosen while the scan runs.
  for (int threads : {0, 2, 3, 8, 64}) EXPECT_EQ(ScanAndDescribe(threads), alone) << threads << " threads";
}

INSTANTIATE_TEST_SUITE_P(
    SortsDepthsAndThresholds, ParallelScan,
    ::testing::Values(Shape{SortOrder::name, 255, 0, false}, Shape{SortOrder::none, 255, 0, false},
                      Shape{SortOrder::total, 2, 0, false}, Shape{SortOrder::local, 255, 50000, false},
                      Shape{SortOrder::waste, 3, 20000, false}, Shape{SortOrder::files, 1, 0, true},
                      Shape{SortOrder::name, 255, 200000, true}));

// The largest files and the file types, ties by path, do not depend on who
// read which folder, though each folder's candidates are merged as the scan
// takes it: the random tree's linked files give many equal sizes.
TEST(ParallelScanFiles, ListsTheFilesAndTypesOfTheSingleThreadedScan) {
  BuildRandomTree(20261208, 3000);
  options.topFiles = 300;
  options.fileTypes = true;
  const auto scanFiles = [](int threads) {
    std::string text = ScanAndDescribe(threads);
    for (const ListedFile& file : LargestFiles()) text += "\n" + file.path + " " + std::to_string(file.bytes);
    for (const FileType& type : FileTypes()) text += "\n" + type.extension + " " + std::to_string(type.sums.bytes);
    return text;
  };
  const std::string alone = scanFiles(1);
  ASSERT_EQ(LargestFiles().size(), 300u);
  for (int threads : {0, 2, 8}) EXPECT_EQ(scanFiles(threads), alone) << threads << " threads";
  ResetScan();
}

// A folder that vanishes after giving some entries keeps none of them, with
// or without workers; the leak check of the sanitized build sees that the
// records and jobs of its subfolders are released.
TEST(ParallelScanStart, AFolderThatVanishesMidListingIsReportedAsNotFound) {
  fakeFolders = {{Sep() + "t" + Sep(), {platform::ListStatus::Listed, {Dir("a"), Dir("b"), File("f", 10)}}},
                 {Sep() + "t" + Sep() + "a" + Sep(), {platform::ListStatus::Listed, {Dir("x"), Dir("y"), File("g", 5000)}, true}},
                 {Sep() + "t" + Sep() + "a" + Sep() + "x" + Sep(), {platform::ListStatus::Listed, {File("h", 1)}}},
                 {Sep() + "t" + Sep() + "b" + Sep(), {platform::ListStatus::Listed, {File("i", 1)}}}};
  const std::string alone = ScanAndDescribe(1);
  EXPECT_EQ(alone, "scanned\n" + Sep() + "t 1 8192 8192 8022\n a 0 0 0 0\n b 1 8192 0 8095\n2 16117");
  for (int threads : {0, 2, 8}) EXPECT_EQ(ScanAndDescribe(threads), alone) << threads << " threads";
  ResetScan();
}

// The system refuses a thread after the first few: the scan goes on with
// the workers it has, or alone, and builds the same tree.
TEST(ParallelScanStart, GoesOnWithTheWorkersItHasWhenNoMoreCanStart) {
  BuildRandomTree(7, 800);
  const std::string alone = ScanAndDescribe(1);
  for (int allowed : {0, 1, 3}) {
    static int started;
    static int limit;
    started = 0;
    limit = allowed;
    startWorkerThread = [](void (*work)()) {
      if (started == limit) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      started += 1;
      return std::thread(work);
    };
    EXPECT_EQ(ScanAndDescribe(8), alone) << allowed << " workers";
  }
  startWorkerThread = [](void (*work)()) { return std::thread(work); };
  ResetScan();
}

// -threads=N reads N folders at once: the scan and N - 1 workers.
TEST(ParallelScanStart, StartsOneWorkerFewerThanTheFoldersReadAtOnce) {
  BuildRandomTree(11, 400);
  const std::string alone = ScanAndDescribe(1);
  for (int threads : {2, 3}) {
    static std::atomic<int> started;
    started = 0;
    startWorkerThread = [](void (*work)()) {
      started += 1;
      return std::thread(work);
    };
    EXPECT_EQ(ScanAndDescribe(threads), alone) << threads;
    EXPECT_EQ(started, threads - 1) << threads;
  }
  startWorkerThread = [](void (*work)()) { return std::thread(work); };
  ResetScan();
}

// Jobs are made as workers can take them: a folder of many subfolders
// never has a job made for each at once.
TEST(ParallelScanStart, ReadingAheadHoldsNoMoreThanItsBound) {
  fakeFolders = {{Sep() + "t" + Sep(), {}}};
  for (int i = 0; i < 40000; ++i) {
    fakeFolders[Sep() + "t" + Sep()].entries.push_back(Dir(Named("folder", i)));
    fakeFolders[Sep() + "t" + Sep() + Named("folder", i) + Sep()] = {};
  }
  for (int threads : {2, 8, 64}) {
    ScanAndDescribe(threads);
    // Passed by at most the jobs being read, each of an empty folder.
    EXPECT_LE(MostHeldAhead(), kMaxHeldAheadBytes + 64 * 1024) << threads;
  }
}

// Reads that wait (each sleeps a little) reward more readers: the count the
// scan chooses climbs, and workers read beside the scan, never more at once
// than the count has allowed.
std::atomic<int> foldersBeingRead, mostFoldersRead, mostOverTheCount;
void Raise(std::atomic<int>& most, int value) {
  for (int seen = most; value > seen && !most.compare_exchange_weak(seen, value);) {
  }
}
platform::ListStatus ListWaitingFakeFolder(const std::string& path, const platform::FolderIdentity& expected,
                                           platform::EntryVisitor visit, void* context) {
  const int reading = ++foldersBeingRead;
  Raise(mostFoldersRead, reading);
  Raise(mostOverTheCount, reading - MostReadersAllowed());
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const platform::ListStatus status = ListFakeFolder(path, expected, visit, context);
  --foldersBeingRead;
  return status;
}

TEST(ParallelScanStart, TheChosenCountStartsWorkersWhenReadsWaitAndBoundsThem) {
  BuildRandomTree(5, 1500);
  const std::string alone = ScanAndDescribe(1);
  mostFoldersRead = 0;
  mostOverTheCount = 0;
  EXPECT_EQ(ScanAndDescribe(0, ListWaitingFakeFolder), alone);
  EXPECT_GT(mostFoldersRead, 1);
  EXPECT_EQ(mostOverTheCount, 0);
  ResetScan();
}

TEST(ParallelScanStart, AMissingStartFolderFailsAsAlone) {
  fakeFolders.clear();
  EXPECT_EQ(ScanAndDescribe(4), ScanAndDescribe(1));
  EXPECT_EQ(ScanAndDescribe(4).substr(0, 7), "failed\n");
  ResetScan();
}

TEST(ScanPlace, OrdersFoldersAsTheScanTakesThem) {
  const auto place = [](std::initializer_list<uint32_t> path) {
    std::string text;
    for (const uint32_t index : path) AppendScanPlace(text, index);
    return text;
  };
  // Each row's first place comes before its second.
  const std::vector<std::pair<std::string, std::string>> earlier = {
      {place({}), place({0})},           {place({3}), place({3, 0})},
      {place({3, 999999}), place({4})},  {place({127}), place({128})},
      {place({16383}), place({16384})},  {place({255, 7}), place({256})},
      {place({0x4000}), place({0xFFFFFFFF})}, {place({1, 127, 5}), place({1, 128})},
  };
  for (const auto& [first, second] : earlier) {
    EXPECT_LT(first, second);
  }
}

}  // namespace

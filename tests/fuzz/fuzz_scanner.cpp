// The scanner on a random fake listing (names, attributes, sizes, nesting,
// listing failures) with random depth limits, thresholds, sort orders,
// cluster sizes and reading threads. After each scan the tree and the totals
// are checked against figures worked out from the listing alone, and the
// tree is released, so that LeakSanitizer sees any record left behind.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "console/text.h"
#include "fake_listing.h"
#include "fuzz_check.h"
#include "scan/scanner.h"
#include "settings/settings.h"

namespace {

constexpr int64_t kMaxBytes = std::numeric_limits<int64_t>::max();
constexpr int kMaxFolders = 48;
constexpr int kMaxEntriesPerFolder = 10;
const std::string kRootPath = "/r/";

// Figures summed wide, so that the expectation itself cannot overflow.
struct Expected {
  __int128 bytes = 0;
  int64_t files = 0;
  __int128 waste = 0;
};

std::string ChildName(FuzzedDataProvider& input, const FakeFolder& folder, size_t index) {
  std::string name = input.ConsumeRandomLengthString(16);
  // A name cannot hold the separator or a zero byte.
  std::replace(name.begin(), name.end(), '/', '_');
  std::replace(name.begin(), name.end(), '\0', '_');
  // Now and then a name long enough to bring the path limit within reach.
  if (input.ConsumeIntegralInRange(0, 15) == 0) name = std::string(input.ConsumeIntegralInRange(200, 1400), 'L') + name;
  if (name.empty() || name == "." || name == "..") name += "n" + std::to_string(index);
  for (const FakeEntry& entry : folder.entries) {
    if (entry.name == name) return name + "#" + std::to_string(index);
  }
  return name;
}

int64_t FileSize(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 7)) {
    case 0: return 0;
    case 1: return input.ConsumeIntegralInRange<int64_t>(kMaxBytes - 70000, kMaxBytes);  // sparse giants
    case 2: return input.ConsumeIntegralInRange<int64_t>(0, kMaxBytes);
    default: return input.ConsumeIntegralInRange<int64_t>(0, 1 << 20);
  }
}

// Fills the fake listing breadth first from the root; folders the input
// leaves unmentioned have vanished (path not found).
void BuildListing(FuzzedDataProvider& input) {
  std::vector<std::string> queue = {kRootPath};
  for (size_t next = 0; next < queue.size() && next < static_cast<size_t>(kMaxFolders); ++next) {
    const int fate = input.ConsumeIntegralInRange(0, 15);
    if (fate == 0) continue;  // vanished before it was read
    FakeFolder& folder = fakeFolders[queue[next]];
    if (fate == 1) {
      folder.status = platform::ListStatus::Failed;
      continue;
    }
    const int entries = input.ConsumeIntegralInRange(0, kMaxEntriesPerFolder);
    for (int i = 0; i < entries && input.remaining_bytes() > 0; ++i) {
      const std::string name = ChildName(input, folder, folder.entries.size());
      switch (input.ConsumeIntegralInRange(0, 9)) {
        case 0: case 1: case 2:
          folder.entries.push_back(Dir(name));
          queue.push_back(queue[next] + name + "/");
          break;
        case 3: folder.entries.push_back({name, platform::kAttrDirectory | platform::kAttrReparsePoint, 0}); break;
        case 4: folder.entries.push_back({name, platform::kAttrReparsePoint, FileSize(input)}); break;
        case 5: folder.entries.push_back({name, platform::kAttrVolumeLabel, FileSize(input)}); break;
        case 6: folder.entries.push_back(File(name, FileSize(input), platform::kAttrOffline)); break;
        case 7: {
          // A file the system allocated at most its length to.
          const int64_t size = FileSize(input);
          folder.entries.push_back(AllocatedFile(name, size, input.ConsumeIntegralInRange<int64_t>(0, size)));
          break;
        }
        default: folder.entries.push_back(File(name, FileSize(input))); break;
      }
    }
  }
}

void ChooseSettings(FuzzedDataProvider& input) {
  options = ReportOptions{};
  options.sortOrder = static_cast<SortOrder>(input.ConsumeIntegralInRange(0, 5));
  options.maxDepth = input.ConsumeBool() ? input.ConsumeIntegralInRange<uint8_t>(1, 4)
                                         : input.ConsumeIntegralInRange<uint8_t>(1, 255);
  options.minFolderBytes = input.ConsumeBool() ? 0 : input.ConsumeIntegralInRange<int64_t>(0, 1 << 22);
  if (input.ConsumeIntegralInRange(0, 15) == 0) options.minFolderBytes = kMaxBytes;
  options.dirMode = input.ConsumeBool();
  options.includeOffline = input.ConsumeBool();
  const int32_t clusters[] = {1, 512, 4096, 65536};
  effectiveClusterSize = input.ConsumeBool() ? clusters[input.ConsumeIntegralInRange(0, 3)]
                                             : input.ConsumeIntegralInRange<int32_t>(1, 65536);
  allowanceFreeRoot = input.ConsumeBool() ? kRootPath : "";
}

__int128 RoundedUp(int64_t size) {
  const int64_t remainder = size % effectiveClusterSize;
  return static_cast<__int128>(size) + (remainder == 0 ? 0 : effectiveClusterSize - remainder);
}

// The rounded size and its slack, as the cluster arithmetic gives them; a
// file whose allocation fills fewer clusters counts those, without slack.
void CountRounded(int64_t size, Expected& expected, __int128& waste, int64_t allocated = -1) {
  if (options.dirMode) {
    expected.bytes += size;
    return;
  }
  if (allocated >= 0 && RoundedUp(allocated) < RoundedUp(size)) {
    expected.bytes += RoundedUp(allocated);
    return;
  }
  expected.bytes += RoundedUp(size);
  waste += RoundedUp(size) - size;
}

// What the scan must find below `path`, worked out from the listing.
void Expect(const std::string& path, Expected& expected) {
  auto found = fakeFolders.find(path);
  if (found == fakeFolders.end()) return;
  const FakeFolder& folder = found->second;
  __int128 waste = 0;
  int64_t entryCount = 0;
  if (folder.status == platform::ListStatus::Listed) {
    entryCount = 2 + static_cast<int64_t>(folder.entries.size());
    for (const FakeEntry& entry : folder.entries) {
      if (entry.attributes & (platform::kAttrVolumeLabel | platform::kAttrReparsePoint)) continue;
      if (entry.attributes & platform::kAttrDirectory) {
        if (path.size() + entry.name.size() + 3 <= static_cast<size_t>(platform::kMaxScanPathLength)) {
          Expect(path + entry.name + "/", expected);
        }
        continue;
      }
      expected.files += 1;
      if (options.includeOffline || !(entry.attributes & platform::kAttrOffline)) {
        CountRounded(entry.size, expected, waste, entry.allocatedBytes);
      }
    }
  }
  if (!options.dirMode && path != allowanceFreeRoot) CountRounded(entryCount * 32, expected, waste);
  expected.waste += waste;
}

int64_t Capped(__int128 figure) { return figure > kMaxBytes ? kMaxBytes : static_cast<int64_t>(figure); }

// Where each name stood in its folder's listing.
std::map<std::string, size_t> ListingPlaces(const std::string& path) {
  std::map<std::string, size_t> places;
  auto found = fakeFolders.find(path);
  if (found == fakeFolders.end()) return places;
  for (size_t i = 0; i < found->second.entries.size(); ++i) places[found->second.entries[i].name] = i;
  return places;
}

size_t ListingPlace(const std::map<std::string, size_t>& places, const std::string& name) {
  auto found = places.find(name);
  FUZZ_CHECK(found != places.end());
  return found->second;
}

// `first` is shown right before `second`, both children of one folder.
void CheckPair(const TDirEntry& first, const TDirEntry& second, const std::map<std::string, size_t>& places) {
  const size_t firstPlace = ListingPlace(places, first.name);
  const size_t secondPlace = ListingPlace(places, second.name);
  if (options.sortOrder == SortOrder::none) {
    FUZZ_CHECK(firstPlace < secondPlace);
  } else if (options.sortOrder == SortOrder::name) {
    const std::string a = UpperText(MarkedName(first));
    const std::string b = UpperText(MarkedName(second));
    FUZZ_CHECK(a <= b);
    if (a == b) FUZZ_CHECK(firstPlace > secondPlace);  // each inserted after its equals
  } else {
    FUZZ_CHECK(SortKey(first) >= SortKey(second));
    if (SortKey(first) == SortKey(second)) FUZZ_CHECK(firstPlace < secondPlace);
  }
}

struct TreeSums {
  __int128 waste = 0;
  int64_t files = 0;
};

void CheckFolder(const TDirEntry& folder, const std::string& path, int level, TreeSums& sums) {
  sums.waste += folder.wastedBytes;
  sums.files += folder.fileCount;
  FUZZ_CHECK(folder.fileCount >= 0 && folder.localBytes >= 0 && folder.subBytes >= 0 && folder.wastedBytes >= 0);
  FUZZ_CHECK(static_cast<__int128>(folder.localBytes) + folder.subBytes <= kMaxBytes);
  if (options.dirMode) FUZZ_CHECK(folder.wastedBytes == 0);
  if (level > options.maxDepth) FUZZ_CHECK(folder.firstChild == nullptr);  // nothing below the limit
  if (level > 1) FUZZ_CHECK(TotalBytes(folder) >= options.minFolderBytes);
  const std::map<std::string, size_t> places = ListingPlaces(path);
  __int128 shownBytes = 0;
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
    if (child->next != nullptr) CheckPair(*child, *child->next, places);
    shownBytes += TotalBytes(*child);
    CheckFolder(*child, path + child->name + "/", level + 1, sums);
  }
  // Every shown child's bytes are in the folder's, unless its total is held
  // at the limit.
  FUZZ_CHECK(shownBytes <= folder.subBytes || TotalBytes(folder) == kMaxBytes);
}

void CheckScan(bool scanned) {
  Expected expected;
  Expect(kRootPath, expected);
  // A start folder of which nothing could be read makes no report.
  const auto start = fakeFolders.find(kRootPath);
  FUZZ_CHECK(scanned == (start != fakeFolders.end() && !(start->second.status == platform::ListStatus::Failed &&
                                                          start->second.entries.empty())));
  if (!scanned) return;
  FUZZ_CHECK(TotalBytes(root) == Capped(expected.bytes));
  FUZZ_CHECK(scanTotals.totalFiles == expected.files);
  FUZZ_CHECK(scanTotals.totalWasted == Capped(expected.waste));
  TreeSums sums;
  CheckFolder(root, kRootPath, 1, sums);
  // Folding moves counts and slack upwards; it never loses or adds any.
  FUZZ_CHECK(sums.files == scanTotals.totalFiles);
  FUZZ_CHECK(Capped(sums.waste) == scanTotals.totalWasted);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  ChooseSettings(input);
  const int threads = input.ConsumeIntegralInRange(0, 7) == 0 ? 2 : 1;
  fakeFolders.clear();
  BuildListing(input);
  folderLister = ListFakeFolder;
  scanTotals = ScanTotals{};
  root = TDirEntry{};
  root.name = kRootPath;
  scanPath = kRootPath;
  const bool scanned = threads > 1 ? ScanFolderAhead(root, threads) : ScanFolder(root);
  CheckScan(scanned);
  FoldSubtree(root);
  fakeFolders.clear();
  return 0;
}

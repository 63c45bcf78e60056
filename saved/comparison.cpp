#include "saved/comparison.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <string_view>
#include <vector>

#include "console/held_sums.h"
#include "console/text.h"
#include "platform/platform.h"
#include "report/growth.h"
#include "saved/report_reader.h"
#include "scan/exclusions.h"
#include "settings/settings.h"

namespace {

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
// One folder of the earlier report, with only what the comparison needs.
struct EarlierFolder {
  uint64_t nameOffset = 0;  // its name in EarlierReport::names
  uint32_t nameLength = 0;
  uint32_t firstChild = kNone;
  uint32_t nextSibling = kNone;
  int64_t total = 0;
  int64_t subtreeFolders = 1;
  int64_t subtreeFiles = 0;
  bool folded = false;
  bool matched = false;
  bool unreadable = false;
};

// The folders of the earlier report, from the loading to the end of
// CompareWithTree; what they give is kept in growthFigures.
struct EarlierReport {
  std::vector<EarlierFolder> earlier;  // the earlier root first
  std::string names;                   // every earlier name, one after another
};

EarlierReport earlierReport;

void Forget() {
  earlierReport = EarlierReport{};
  growthFigures = GrowthFigures{};
}

std::string_view NameOf(uint32_t folder) {
  const EarlierFolder& earlier = earlierReport.earlier[folder];
  return std::string_view(earlierReport.names).substr(earlier.nameOffset, earlier.nameLength);
}

// The folders of the earlier report whose objects have begun and not yet
// ended, innermost last, while the report is read.
struct EarlierReading {
  std::vector<uint32_t> open;
};

bool EarlierFolderOpens(void* keeper) {
  std::vector<uint32_t>& open = static_cast<EarlierReading*>(keeper)->open;
  if (earlierReport.earlier.size() >= kNone) return false;
  const auto index = static_cast<uint32_t>(earlierReport.earlier.size());
  earlierReport.earlier.emplace_back();
  if (!open.empty()) {
    earlierReport.earlier[index].nextSibling = earlierReport.earlier[open.back()].firstChild;
    earlierReport.earlier[open.back()].firstChild = index;
  }
  open.push_back(index);
  return true;
}

bool EarlierFolderCloses(void* keeper, ReportFolder& given) {
  std::vector<uint32_t>& open = static_cast<EarlierReading*>(keeper)->open;
  EarlierFolder& folder = earlierReport.earlier[open.back()];
  open.pop_back();
  folder.nameOffset = earlierReport.names.size();
  folder.nameLength = static_cast<uint32_t>(given.name.size());
  earlierReport.names += given.name;
  folder.total = given.total;
  folder.folded = given.folded;
  folder.unreadable = given.unreadable;
  folder.subtreeFiles = AddBytes(folder.subtreeFiles, given.files);
  if (!open.empty()) {
    EarlierFolder& parent = earlierReport.earlier[open.back()];
    parent.subtreeFolders += folder.subtreeFolders;
    parent.subtreeFiles = AddBytes(parent.subtreeFiles, folder.subtreeFiles);
  }
  return true;
}

bool SameText(const std::string& a, const std::string& b) {
  return NameKey(EnsureTrailingBackslash(a)) == NameKey(EnsureTrailingBackslash(b));
}

// The path with ".", ".." and symbolic links resolved as far as it exists;
// empty when it cannot be resolved.
std::string ResolvedPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(platform::FilePath(path), error);
  if (error) return "";
  const std::u8string text = resolved.u8string();
  return std::string(text.begin(), text.end());
}

bool SamePath(const std::string& a, const std::string& b) {
  if (SameText(a, b)) return true;
  const std::string resolvedA = ResolvedPath(a), resolvedB = ResolvedPath(b);
  return !resolvedA.empty() && SameText(resolvedA, resolvedB);
}

std::string PatternWords(const std::vector<std::string>& patterns) {
  std::string words;
  for (const std::string& pattern : patterns) words += (words.empty() ? "-exclude=" : " -exclude=") + pattern;
  return words;
}

std::vector<std::string> Sorted(std::vector<std::string> patterns) {
  std::sort(patterns.begin(), patterns.end());
  return patterns;
}

// Why the earlier report's settings give figures that do not compare with
// this run's, naming the option that makes them agree; empty when they do.
std::string SettingsMismatch(const ReportFacts& earlier) {
  if ((earlier.dirMode == 1) != options.dirMode) {
    return earlier.dirMode == 1 ? " counted plain file sizes: give -dir to compare with it"
                               : " counted whole clusters: leave out -dir to compare with it";
  }
  // Plain file sizes do not depend on the cluster size.
  if (!options.dirMode && earlier.clusterSize != effectiveClusterSize) {
    const std::string size = std::to_string(earlier.clusterSize);
    return " was counted with a cluster size of " + size + ": give -cl=" + size + " to compare with it";
  }
  if ((earlier.includeOffline == 1) != options.includeOffline) {
    return earlier.includeOffline == 1 ? " counted the sizes of offline files: leave out -nooffline to compare with it"
                                      : " ignored the sizes of offline files: give -nooffline to compare with it";
  }
  if (earlier.links != options.countEveryLink) {
    return earlier.links ? " counted a file with several hard links under every name: give -links to compare with it"
                        : " counted a file with several hard links once: leave out -links to compare with it";
  }
  if (earlier.mounts != options.crossMounts) {
    return earlier.mounts ? " entered other mounted file systems: give -mounts to compare with it"
                         : " did not enter other mounted file systems: leave out -mounts to compare with it";
  }
  if (Sorted(earlier.exclude) != Sorted(exclusions.givenPatterns)) {
    if (earlier.exclude.empty()) return " left out no folders: leave out -exclude= to compare with it";
    return " left out the folders of " + PatternWords(earlier.exclude) + ": give the same -exclude= to compare with it";
  }
  return "";
}

bool Refuse(std::string& refusal, std::string text) {
  refusal = std::move(text);
  Forget();
  return false;
}

void CountGone(uint32_t earlierFolder, std::string path) {
  const EarlierFolder& gone = earlierReport.earlier[earlierFolder];
  growthFigures.goneFolders += gone.subtreeFolders;
  growthFigures.goneBytes = AddBytes(growthFigures.goneBytes, gone.total);
  growthFigures.gone.push_back({std::move(path), gone.total, gone.subtreeFiles, 1});
}

// The largest gone folders first; those beyond the list's length are summed
// in one entry without a path.
void ListGoneFolders() {
  std::vector<GoneFolder>& gone = growthFigures.gone;
  std::stable_sort(gone.begin(), gone.end(),
                   [](const GoneFolder& a, const GoneFolder& b) { return a.bytes > b.bytes; });
  if (gone.size() <= kGoneFoldersListed) return;
  GoneFolder rest{"", 0, 0, 0};
  for (size_t i = kGoneFoldersListed; i < gone.size(); ++i) {
    rest.bytes = AddBytes(rest.bytes, gone[i].bytes);
    rest.files = AddBytes(rest.files, gone[i].files);
    rest.folders += 1;
  }
  gone.resize(kGoneFoldersListed);
  gone.push_back(rest);
}

// A folder of the new scan matched with one of the report, whose children
// are being matched.
struct MatchedFolder {
  const TDirEntry* folder;
  uint32_t earlierFolder;
  std::vector<std::pair<std::string, uint32_t>> earlierChildren;  // by name
  const TDirEntry* nextChild;
  size_t pathLength;  // of its path, which its children's extend
};

// `folder` of the new scan is `earlierFolder` of the report. A folder that
// could not be read, now or then, has no growth: what it lacks is no loss,
// and a child it lists only now is not known to be new.
MatchedFolder BeginMatch(const TDirEntry& folder, uint32_t earlierFolder, size_t pathLength) {
  const EarlierFolder& then = earlierReport.earlier[earlierFolder];
  const bool unreadable = folder.unreadable || then.unreadable;
  // Held like every sum: an earlier total may have been edited by hand.
  growthFigures.growth[&folder] = unreadable ? Growth{Growth::Kind::unreadable, 0}
                                             : Growth{Growth::Kind::known, AddBytes(TotalBytes(folder), -then.total)};
  std::vector<std::pair<std::string, uint32_t>> earlierChildren;
  for (uint32_t child = then.firstChild; child != kNone; child = earlierReport.earlier[child].nextSibling) {
    earlierChildren.emplace_back(NameKey(NameOf(child)), child);
  }
  std::sort(earlierChildren.begin(), earlierChildren.end());
  return {&folder, earlierFolder, std::move(earlierChildren), folder.firstChild, pathLength};
}

// The earlier children that no folder matched are gone.
void EndMatch(const MatchedFolder& matched, const std::string& path) {
  // A folder folded now may hold the earlier children it no longer lists.
  if (matched.folder->folded || matched.folder->unreadable) return;
  for (const auto& [name, child] : matched.earlierChildren) {
    if (!earlierReport.earlier[child].matched) CountGone(child, path + std::string(NameOf(child)));
  }
}

// Matches the trees from the top down, with a stack of its own, which a
// tree of any depth fits; `path` is the path of the folder being matched.
void MatchFolder(const TDirEntry& top) {
  std::string path;
  std::vector<MatchedFolder> open;
  open.push_back(BeginMatch(top, 0, 0));
  while (!open.empty()) {
    MatchedFolder& matched = open.back();
    const TDirEntry* child = matched.nextChild;
    if (child == nullptr) {
      path.resize(matched.pathLength);
      EndMatch(matched, path);
      open.pop_back();
      continue;
    }
    matched.nextChild = child->next;
    const std::string childKey = NameKey(child->name);
    const auto found = std::lower_bound(matched.earlierChildren.begin(), matched.earlierChildren.end(),
                                        std::pair<std::string, uint32_t>(childKey, 0));
    if (found != matched.earlierChildren.end() && found->first == childKey) {
      earlierReport.earlier[found->second].matched = true;
      const uint32_t earlierChild = found->second;
      path.resize(matched.pathLength);
      path += child->name;
      path += platform::kPathSeparator;
      open.push_back(BeginMatch(*child, earlierChild, path.size()));
    } else {
      const EarlierFolder& then = earlierReport.earlier[matched.earlierFolder];
      MarkGrowthOfSubtree(*child, then.folded || then.unreadable ? Growth::Kind::unknown : Growth::Kind::added);
    }
  }
}

}  // namespace

bool LoadComparison(const std::string& file, const std::string& expandedPath, std::string& refusal) {
  Forget();
  const std::string named = "The earlier report " + file;
  std::ifstream stream;
  EarlierReading reading;
  ReportFacts earlier;
  if (!OpenReportFile(file, "earlier report", stream, refusal) ||
      !ReadReport(stream, named, {&reading, EarlierFolderOpens, EarlierFolderCloses}, earlier, refusal)) {
    Forget();
    return false;
  }
  if (!SamePath(earlier.path, expandedPath)) {
    return Refuse(refusal, named + " is of " + earlier.path + ", not of " + expandedPath);
  }
  const std::string mismatch = SettingsMismatch(earlier);
  if (!mismatch.empty()) return Refuse(refusal, named + mismatch);
  growthFigures.loaded = true;
  growthFigures.created = earlier.created;
  growthFigures.path = earlier.path;
  return true;
}

void CompareWithTree() {
  if (!growthFigures.loaded) return;
  MatchFolder(root);
  ListGoneFolders();
  earlierReport = EarlierReport{};
}


#include "saved/comparison.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "console/format.h"
#include "console/held_sums.h"
#include "console/text.h"
#include "platform/platform.h"
#include "saved/report_reader.h"
#include "scan/exclusions.h"
#include "settings/settings.h"

namespace {

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
// The gone folders the JSON report names; the console and HTML forms name
// the first kGoneShown.
constexpr size_t kGoneListed = 1000;
constexpr int32_t kGoneShown = 10;

// One folder of the earlier report, with only what the comparison needs.
struct EarlierFolder {
  uint64_t nameOffset = 0;  // its name in Comparison::names
  uint32_t nameLength = 0;
  uint32_t firstChild = kNone;
  uint32_t nextSibling = kNone;
  int64_t total = 0;
  int64_t subtreeFolders = 1;
  int64_t subtreeFiles = 0;
  bool folded = false;
  bool matched = false;
};

// The comparison of the run; the earlier folders live from the loading to
// the end of CompareWithTree, the growth of each shown folder to the end.
struct Comparison {
  bool loaded = false;
  std::string created;
  std::string path;
  int64_t goneFolders = 0;
  int64_t goneBytes = 0;
  std::vector<EarlierFolder> earlier;  // the earlier root first
  std::string names;                   // every earlier name, one after another
  std::vector<GoneFolder> gone;        // largest first, the rest summed in the last
  std::unordered_map<const TDirEntry*, Growth> growth;
};

Comparison comparison;

// Names compare as the file system compares them: Windows ignores case,
// Linux compares bytes.
std::string NameKey(std::string_view name) {
  if (platform::kPathStyle == platform::PathStyle::Windows) return UpperText(name);
  return std::string(name);
}

std::string_view NameOf(uint32_t folder) {
  const EarlierFolder& earlier = comparison.earlier[folder];
  return std::string_view(comparison.names).substr(earlier.nameOffset, earlier.nameLength);
}

// The folders of the earlier report whose objects have begun and not yet
// ended, innermost last, while the report is read.
struct EarlierReading {
  std::vector<uint32_t> open;
};

bool EarlierFolderOpens(void* keeper) {
  std::vector<uint32_t>& open = static_cast<EarlierReading*>(keeper)->open;
  if (comparison.earlier.size() >= kNone) return false;
  const auto index = static_cast<uint32_t>(comparison.earlier.size());
  comparison.earlier.emplace_back();
  if (!open.empty()) {
    comparison.earlier[index].nextSibling = comparison.earlier[open.back()].firstChild;
    comparison.earlier[open.back()].firstChild = index;
  }
  open.push_back(index);
  return true;
}

bool EarlierFolderCloses(void* keeper, ReportFolder& given) {
  std::vector<uint32_t>& open = static_cast<EarlierReading*>(keeper)->open;
  EarlierFolder& folder = comparison.earlier[open.back()];
  open.pop_back();
  folder.nameOffset = comparison.names.size();
  folder.nameLength = static_cast<uint32_t>(given.name.size());
  comparison.names += given.name;
  folder.total = given.total;
  folder.folded = given.folded;
  folder.subtreeFiles = AddBytes(folder.subtreeFiles, given.files);
  if (!open.empty()) {
    EarlierFolder& parent = comparison.earlier[open.back()];
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
  comparison = Comparison{};
  return false;
}

void MarkSubtree(const TDirEntry& folder, Growth::Kind kind) {
  comparison.growth[&folder] = Growth{kind, 0};
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
    MarkSubtree(*child, kind);
  }
}

void CountGone(uint32_t earlierFolder, std::string path) {
  const EarlierFolder& gone = comparison.earlier[earlierFolder];
  comparison.goneFolders += gone.subtreeFolders;
  comparison.goneBytes = AddBytes(comparison.goneBytes, gone.total);
  comparison.gone.push_back({std::move(path), gone.total, gone.subtreeFiles, 1});
}

// The largest gone folders first; those beyond the list's length are summed
// in one entry without a path.
void ListGoneFolders() {
  std::vector<GoneFolder>& gone = comparison.gone;
  std::stable_sort(gone.begin(), gone.end(),
                   [](const GoneFolder& a, const GoneFolder& b) { return a.bytes > b.bytes; });
  if (gone.size() <= kGoneListed) return;
  GoneFolder rest{"", 0, 0, 0};
  for (size_t i = kGoneListed; i < gone.size(); ++i) {
    rest.bytes = AddBytes(rest.bytes, gone[i].bytes);
    rest.files = AddBytes(rest.files, gone[i].files);
    rest.folders += 1;
  }
  gone.resize(kGoneListed);
  gone.push_back(rest);
}

// `folder` of the new scan is `earlierFolder` of the report.
void MatchFolder(const TDirEntry& folder, uint32_t earlierFolder, const std::string& path) {
  const EarlierFolder& then = comparison.earlier[earlierFolder];
  // Held like every sum: an earlier total may have been edited by hand.
  comparison.growth[&folder] = Growth{Growth::Kind::known, AddBytes(TotalBytes(folder), -then.total)};
  std::vector<std::pair<std::string, uint32_t>> earlierChildren;
  for (uint32_t child = then.firstChild; child != kNone; child = comparison.earlier[child].nextSibling) {
    earlierChildren.emplace_back(NameKey(NameOf(child)), child);
  }
  std::sort(earlierChildren.begin(), earlierChildren.end());
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
    const std::string childKey = NameKey(child->name);
    const auto found = std::lower_bound(earlierChildren.begin(), earlierChildren.end(),
                                        std::pair<std::string, uint32_t>(childKey, 0));
    if (found != earlierChildren.end() && found->first == childKey) {
      comparison.earlier[found->second].matched = true;
      MatchFolder(*child, found->second, path + child->name + platform::kPathSeparator);
    } else {
      MarkSubtree(*child, then.folded ? Growth::Kind::unknown : Growth::Kind::added);
    }
  }
  // A folder folded now may hold the earlier children it no longer lists.
  if (folder.folded) return;
  for (const auto& [name, child] : earlierChildren) {
    if (!comparison.earlier[child].matched) CountGone(child, path + std::string(NameOf(child)));
  }
}

int64_t GrowthSortKey(const TDirEntry& folder) {
  if (!Comparing()) return TotalBytes(folder);
  const Growth growth = GrowthOf(folder);
  switch (growth.kind) {
    case Growth::Kind::known: return growth.bytes;
    case Growth::Kind::added: return TotalBytes(folder);
    case Growth::Kind::unknown: break;
  }
  return 0;
}

void OrderChildren(TDirEntry& folder) {
  std::vector<TDirEntry*> children;
  for (TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) children.push_back(child);
  if (children.empty()) return;
  std::stable_sort(children.begin(), children.end(),
                   [](const TDirEntry* a, const TDirEntry* b) { return GrowthSortKey(*a) > GrowthSortKey(*b); });
  folder.firstChild = children.front();
  for (size_t i = 0; i < children.size(); ++i) {
    children[i]->next = i + 1 < children.size() ? children[i + 1] : nullptr;
    OrderChildren(*children[i]);
  }
}

// `now` is what `before` was when the scan read it, read again: it keeps
// its earlier total, so its growth moves by what its total moved, and so do
// its folders' of the same names. A folder that the scan did not list,
// though nothing was folded into its parent, came after the scan and so
// after the earlier report too.
void CarryGrowth(const TDirEntry& before, const Growth& then, const TDirEntry& now) {
  Growth carried = then;
  if (then.kind == Growth::Kind::known) {
    carried.bytes = AddBytes(AddBytes(then.bytes, TotalBytes(now)), -TotalBytes(before));
  }
  comparison.growth[&now] = carried;
  std::vector<std::pair<std::string, const TDirEntry*>> beforeChildren;
  for (const TDirEntry* child = before.firstChild; child != nullptr; child = child->next) {
    beforeChildren.emplace_back(NameKey(child->name), child);
  }
  std::sort(beforeChildren.begin(), beforeChildren.end());
  const bool unknowable = then.kind == Growth::Kind::unknown || before.folded;
  for (const TDirEntry* child = now.firstChild; child != nullptr; child = child->next) {
    const std::string childKey = NameKey(child->name);
    const auto found = std::lower_bound(beforeChildren.begin(), beforeChildren.end(),
                                        std::pair<std::string, const TDirEntry*>(childKey, nullptr));
    if (found != beforeChildren.end() && found->first == childKey) {
      CarryGrowth(*found->second, GrowthOf(*found->second), *child);
    } else {
      MarkSubtree(*child, unknowable ? Growth::Kind::unknown : Growth::Kind::added);
    }
  }
}

}  // namespace

bool LoadComparison(const std::string& file, const std::string& expandedPath, std::string& refusal) {
  comparison = Comparison{};
  const std::string named = "The earlier report " + file;
  std::ifstream stream;
  EarlierReading reading;
  ReportFacts earlier;
  if (!OpenReportFile(file, "earlier report", stream, refusal) ||
      !ReadReport(stream, named, {&reading, EarlierFolderOpens, EarlierFolderCloses}, earlier, refusal)) {
    comparison = Comparison{};
    return false;
  }
  if (!SamePath(earlier.path, expandedPath)) {
    return Refuse(refusal, named + " is of " + earlier.path + ", not of " + expandedPath);
  }
  const std::string mismatch = SettingsMismatch(earlier);
  if (!mismatch.empty()) return Refuse(refusal, named + mismatch);
  comparison.loaded = true;
  comparison.created = earlier.created;
  comparison.path = earlier.path;
  return true;
}

void CompareWithTree() {
  if (!comparison.loaded) return;
  MatchFolder(root, 0, "");
  ListGoneFolders();
  comparison.earlier = {};
  comparison.names = {};
}

void OrderByGrowth() { OrderChildren(root); }

void CarryGrowthToRescan(const TDirEntry& before, TDirEntry& folder) {
  if (!comparison.loaded) return;
  CarryGrowth(before, GrowthOf(folder), folder);
  for (const TDirEntry* child = before.firstChild; child != nullptr; child = child->next) ForgetGrowth(*child);
}

void ForgetGrowth(const TDirEntry& folder) {
  comparison.growth.erase(&folder);
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) ForgetGrowth(*child);
}

void ShiftGrowth(const TDirEntry& folder, int64_t bytes) {
  const auto found = comparison.growth.find(&folder);
  if (found != comparison.growth.end() && found->second.kind == Growth::Kind::known) {
    found->second.bytes = AddBytes(found->second.bytes, bytes);
  }
}

void ReleaseComparison() { comparison = Comparison{}; }

bool Comparing() { return comparison.loaded; }
bool GrowthShown() { return comparison.loaded && options.showGrowth; }

Growth GrowthOf(const TDirEntry& folder) {
  const auto found = comparison.growth.find(&folder);
  return found == comparison.growth.end() ? Growth{} : found->second;
}

std::string GrowthSizeText(const Growth& growth) {
  switch (growth.kind) {
    case Growth::Kind::known:
      if (growth.bytes > 0) return "+" + FormatSize(growth.bytes);
      if (growth.bytes < 0) return "-" + FormatSize(-growth.bytes);
      return FormatSize(0);
    case Growth::Kind::added: return "new";
    case Growth::Kind::unknown: break;
  }
  return "";
}

std::string GrowthPlainText(const Growth& growth) {
  switch (growth.kind) {
    case Growth::Kind::known: return FormatPlainNumber(growth.bytes);
    case Growth::Kind::added: return "new";
    case Growth::Kind::unknown: break;
  }
  return "";
}

const std::string& EarlierCreated() { return comparison.created; }
const std::string& EarlierPath() { return comparison.path; }
int64_t GoneFolders() { return comparison.goneFolders; }
int64_t GoneBytes() { return comparison.goneBytes; }

std::string ComparisonFooterText() {
  const int64_t gone = comparison.goneFolders;
  return "Growth since the report of " + comparison.created + "; gone since then: " + FormatCount(gone) +
         (gone == 1 ? " folder, " : " folders, ") + FormatSize(comparison.goneBytes);
}

const std::vector<GoneFolder>& GoneList() { return comparison.gone; }

int32_t GoneLinesShown() {
  const auto named = static_cast<int32_t>(std::min<size_t>(comparison.gone.size(), kGoneListed));
  return std::min(named, kGoneShown);
}

std::string GoneLineText(int32_t line) {
  const GoneFolder& gone = comparison.gone[static_cast<size_t>(line)];
  return "  gone: " + gone.path + "  " + FormatSize(gone.bytes);
}

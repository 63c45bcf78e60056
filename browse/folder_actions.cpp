#include "browse/folder_actions.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

#include "console/format.h"
#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "platform/platform.h"
#include "report/growth.h"
#include "report/report_origin.h"
#include "scan/drive_stats.h"
#include "scan/exclusions.h"
#include "scan/file_stats.h"
#include "scan/folder_identities.h"
#include "scan/linked_names.h"
#include "scan/reading_prompt.h"
#include "scan/scanner.h"
#include "settings/settings.h"

namespace {

// The names from the start folder down to the folder, joined by separators.
std::string RelativePathOf(const FolderChain& chain) {
  std::string path;
  for (const TDirEntry* folder : chain) {
    if (!path.empty()) path += platform::kPathSeparator;
    path += folder->name;
  }
  return path;
}

TDirEntry& FolderOf(const FolderAt& at) { return at.chain.empty() ? root : *at.chain.back(); }

// The way to `relativePath` through the folders of `chain`, with what the
// scan saw of each.
platform::ItemWay WayTo(const std::string& startPath, const FolderChain& chain, const std::string& relativePath) {
  platform::ItemWay way{startPath, relativePath, {FolderIdentityOf(root)}};
  for (const TDirEntry* folder : chain) way.folders.push_back(FolderIdentityOf(*folder));
  return way;
}

// `relative` below `base`; a base that ends in a separator (a drive root)
// gets no second one.
std::string JoinedPath(const std::string& base, const std::string& relative) {
  if (base.empty()) return relative;
  return EnsureTrailingBackslash(base) + relative;
}

size_t BarWidth() { return static_cast<size_t>(std::max(screenWidth - 1, 0)); }

// The bar is one line: a path that would push the rest of its text (of
// `otherChars` characters) off it shows its beginning and end around "...".
std::string PathForBar(const std::string& path, size_t otherChars) {
  std::string shown;
  AppendShownName(shown, path);
  const size_t length = CharCount(shown);
  if (otherChars + length <= BarWidth()) return shown;
  const size_t room = std::min(BarWidth() > otherChars + 3 ? BarWidth() - otherChars - 3 : 0, length);
  return MiddleCut(shown, room);
}

// "<start><path><end>", the path shortened to keep the rest on the bar.
std::string BarText(const std::string& start, const std::string& path, const std::string& end) {
  return start + PathForBar(path, CharCount(start) + CharCount(end)) + end;
}

// The question for good says why no trash took the item where the bar has
// room for that beside the path and the word typed after it.
std::string ForGoodQuestion(const std::string& path, const std::string& reason) {
  constexpr size_t kTyped = 4;  // " yes"
  const std::string end = " permanently? Type yes";
  const std::string why = "No trash can take it (" + reason + "). Delete ";
  const std::string shown = PathForBar(path, 0);
  if (CharCount(why) + CharCount(shown) + end.size() + kTyped <= BarWidth()) return why + shown + end;
  const std::string start = "No trash can take it. Delete ";
  return start + PathForBar(path, start.size() + end.size() + kTyped) + end;
}

// The growth of every folder above the last of the chain moves with its total.
void ShiftGrowthAbove(const FolderChain& chain, int64_t bytes) {
  if (!Comparing() || chain.empty()) return;
  ShiftGrowth(root, bytes);
  for (size_t i = 0; i + 1 < chain.size(); ++i) ShiftGrowth(*chain[i], bytes);
}

// The growth order is not the scan's linking; it is made again after a change.
void OrderAgain() {
  if (options.sortOrder == SortOrder::growth) OrderByGrowth();
}

// Asks for the move to the trash, and, where none can take it, for a typed
// yes to delete for good; nothing when the user said no.
std::optional<platform::RemovalResult> AskAndRemove(const std::string& shownPath, const platform::ItemWay& way,
                                                    const std::string& what, const BarQuestions& ask) {
  if (!SaidYes(ask.askKey(BarText("Move ", shownPath, " (" + what + ") to the trash? y/N")))) return {};
  platform::RemovalResult result = platform::MoveToTrash(way);
  if (result.outcome == platform::RemovalResult::NoTrash) {
    if (ask.askWord(ForGoodQuestion(shownPath, result.reason)) != "yes") return {};
    result = platform::DeleteForGood(way);
  }
  // What went may have freed space on the drive, whose figures the report
  // shows below the tree.
  ReadDriveStats(root.name);
  return result;
}

// What the bar says of an action that did nothing, or failed part way.
std::string FailureText(const platform::RemovalResult& result) {
  switch (result.outcome) {
    case platform::RemovalResult::Changed: return BarText("Changed since the scan: ", result.path, "; R reads it again");
    case platform::RemovalResult::HoldsMount: return BarText("Holds a mount point: ", result.path, "; left alone");
    case platform::RemovalResult::IsTrash: return "This is the trash; empty it from the desktop";
    default: return BarText("Cannot delete ", result.path, ": " + result.reason);
  }
}

// An action that removed nothing leaves the tree as it is.
bool RemovedNothing(const platform::RemovalResult& result) {
  return result.outcome != platform::RemovalResult::Removed && result.outcome != platform::RemovalResult::Failed;
}

// Reads the folder again into its own record, which keeps its place in the
// tree; false when it is no longer there.
bool ReadAgain(const FolderAt& at, TDirEntry& folder) {
  const ScanTotals kept = scanTotals;
  scanPath = PathOf(at);
  ShowReadingPrompt(0);
  platform::BeginWalk(at.startPath);
  const bool found = RescanFolder(folder, static_cast<int32_t>(at.chain.size()), options.scanThreads);
  platform::EndWalk();
  EndReadingPrompt();
  scanTotals = kept;
  return found;
}

void ClearFigures(TDirEntry& folder) {
  TDirEntry cleared;
  cleared.name = std::move(folder.name);
  cleared.scanOrder = folder.scanOrder;
  cleared.next = folder.next;
  folder = std::move(cleared);
}

void RemoveFolder(const FolderChain& chain) {
  ForgetGrowth(*chain.back());
  ShiftGrowthAbove(chain, RemoveFolderFromTree(chain));
  OrderAgain();
}

bool ChainToFileFolder(const std::string& relativePath, FolderChain& chain, TDirEntry& from);

// A linked file that a folder gone from the tree counted counts at its
// first name left in the tree, as a fresh scan counts it.
void CountLinkedFilesElsewhere(const std::string& startPath, const std::vector<CountedMove>& moves) {
  const std::string start = EnsureTrailingBackslash(startPath);
  for (const CountedMove& move : moves) {
    if (move.folderPath.compare(0, start.size(), start) != 0) continue;
    CountAtFirstName(move);
    FolderChain chain;
    const bool inOwnFiles = ChainToFileFolder(move.folderPath.substr(start.size()), chain, root);
    const int64_t moved = CountLinkedFileIn(chain, inOwnFiles, move.bytes, move.slack);
    ShiftGrowth(FolderOf({startPath, chain}), moved);
    ShiftGrowthAbove(chain, moved);
  }
  OrderAgain();
}

// A trash inside the scanned tree holds what went into it: the nearest of
// its folders that the tree holds is read again.
void ReadTrashAgain(const std::string& startPath, const std::string& trash) {
  const std::string below = EnsureTrailingBackslash(startPath);
  if (trash.size() <= below.size() || trash.compare(0, below.size(), below) != 0) return;
  FolderChain chain;
  size_t nameStart = below.size();
  while (nameStart < trash.size()) {
    const size_t end = std::min(trash.find(platform::kPathSeparator, nameStart), trash.size());
    const std::string_view name(trash.data() + nameStart, end - nameStart);
    TDirEntry* child = (chain.empty() ? root : *chain.back()).firstChild;
    while (child != nullptr && child->name != name) child = child->next;
    if (child == nullptr) break;
    chain.push_back(child);
    nameStart = end + 1;
  }
  RescanFolderAt({startPath, chain});
}

// After a removal that failed part way: the folder shows what is left.
std::string Settle(const FolderAt& at, const platform::RemovalResult& result) {
  if (result.outcome == platform::RemovalResult::Removed) {
    const auto moves = ForgetLinkedNamesBelow(EnsureTrailingBackslash(PathOf(at)));
    RemoveFolder(at.chain);
    CountLinkedFilesElsewhere(at.startPath, moves);
    ReadTrashAgain(at.startPath, result.trash);
    return "";
  }
  if (RemovedNothing(result)) return FailureText(result);
  RescanFolderAt(at);
  return FailureText(result);
}

}  // namespace

void ReadAside(const FolderAt& at, const AsideReading& how, const std::function<void(const TDirEntry&)>& take) {
  const ReportOptions kept = options;
  const Exclusions keptExclusions = how.withExclusions ? exclusions : std::exchange(exclusions, Exclusions{});
  const ScanTotals keptTotals = scanTotals;
  const std::string keptScanPath = scanPath;
  options.topFiles = how.largestFiles;
  options.fileTypes = false;
  options.noteAges = false;
  // Its folders are released once read: no identities kept for them.
  options.pauseEachPage = false;
  scanPath = PathOf(at);
  TDirEntry folder;
  folder.name = scanPath;
  ShowReadingPrompt(0);
  platform::BeginWalk(at.startPath);
  RescanFolder(folder, how.depth, kept.scanThreads);
  platform::EndWalk();
  EndReadingPrompt();
  take(folder);
  FoldSubtree(folder);
  options = kept;
  exclusions = keptExclusions;
  scanTotals = keptTotals;
  scanPath = keptScanPath;
}

namespace {

// The folder as it is on the disk now, excluded folders included: all that
// a removal takes. The reading prompt takes the bar's place while it is read.
FigureChange FiguresOnDisk(const FolderAt& at) {
  FigureChange figures;
  EraseInPlace(BarWidth());
  ReadAside(at, {static_cast<int32_t>(at.chain.size()), 0, false},
            [&figures](const TDirEntry& folder) { figures = FiguresOf(folder); });
  return figures;
}

// The folders of `at`'s subtree on the way to the file at `relativePath`
// (from there) are added to `chain`; false when its folder is folded into
// the last of them.
bool ChainToFileFolder(const std::string& relativePath, FolderChain& chain, TDirEntry& from) {
  TDirEntry* folder = &from;
  size_t nameStart = 0;
  for (size_t end = relativePath.find(platform::kPathSeparator); end != std::string::npos;
       end = relativePath.find(platform::kPathSeparator, nameStart)) {
    const std::string_view name(relativePath.data() + nameStart, end - nameStart);
    nameStart = end + 1;
    TDirEntry* child = folder->firstChild;
    while (child != nullptr && child->name != name) child = child->next;
    if (child == nullptr) return false;
    chain.push_back(child);
    folder = child;
  }
  return true;
}

}  // namespace

std::string PathOf(const FolderAt& at) {
  return at.chain.empty() ? root.name : JoinedPath(at.startPath, RelativePathOf(at.chain));
}

std::string DeleteFolder(const FolderAt& at, const BarQuestions& ask) {
  if (ReportLoaded()) return std::string(kNotOnLoadedReport);
  if (at.chain.empty()) return "Cannot delete the start folder";
  if (std::string changed = ChangedSinceScan(at); !changed.empty()) return changed;
  const FigureChange figures = FiguresOnDisk(at);
  const auto result = AskAndRemove(PathOf(at), WayTo(at.startPath, at.chain, RelativePathOf(at.chain)),
                                   FormatSize(figures.bytes) + ", " + FormatCount(figures.files) + " files", ask);
  return result ? Settle(at, *result) : "";
}

std::string DeleteListedFile(const FolderAt& at, size_t index, const BarQuestions& ask) {
  if (ReportLoaded()) return std::string(kNotOnLoadedReport);
  const ListedFile file = LargestFiles()[index];
  FolderChain chain = at.chain;
  const bool inOwnFiles = ChainToFileFolder(file.path, chain, FolderOf(at));
  const auto result = AskAndRemove(JoinedPath(PathOf(at), file.path),
                                   WayTo(at.startPath, chain, JoinedPath(RelativePathOf(at.chain), file.path)),
                                   FormatSize(file.bytes), ask);
  if (!result) return "";
  if (result->outcome != platform::RemovalResult::Removed) return FailureText(*result);
  ForgetLargestFile(index);
  const int64_t moved =
      RemoveFileFromTree(chain, inOwnFiles, file.bytes, file.bytes - std::min(file.length, file.bytes));
  ShiftGrowth(FolderOf({at.startPath, chain}), moved);
  ShiftGrowthAbove(chain, moved);
  OrderAgain();
  ReadTrashAgain(at.startPath, result->trash);
  return "";
}

platform::RemovalResult (*wayCheck)(const platform::ItemWay& way) = platform::CheckWay;

std::string ChangedSinceScan(const FolderAt& at) {
  const platform::RemovalResult reached = wayCheck(WayTo(at.startPath, at.chain, RelativePathOf(at.chain)));
  return reached.outcome == platform::RemovalResult::Removed ? "" : FailureText(reached);
}

// R reads the folder as it is now, whatever it has become, reached through
// the folders the scan saw; a file system mounted in its place is named as
// the scan names it, and read only with -mounts.
std::string RefusalToReadAgain(const FolderAt& at) {
  platform::ItemWay way = WayTo(at.startPath, at.chain, RelativePathOf(at.chain));
  if (!at.chain.empty()) way.folders.back() = {};
  const platform::RemovalResult reached = wayCheck(way);
  if (reached.outcome == platform::RemovalResult::Removed) return "";
  if (reached.outcome != platform::RemovalResult::OtherFileSystem) return FailureText(reached);
  if (options.crossMounts) return "";
  return BarText("Not scanned: ", EnsureTrailingBackslash(reached.path), " (another file system; -mounts scans it)");
}

std::string RescanFolderAt(const FolderAt& at) {
  if (ReportLoaded()) return std::string(kNotOnLoadedReport);
  if (std::string refusal = RefusalToReadAgain(at); !refusal.empty()) return refusal;
  TDirEntry& folder = FolderOf(at);
  const FigureChange before = FiguresOf(folder);
  TDirEntry scanned = folder;  // shares the subfolders the scan found
  ClearFigures(folder);
  // The reading notes the folder's linked names again, and counts those
  // counted nowhere else.
  const auto moves = ForgetLinkedNamesBelow(EnsureTrailingBackslash(PathOf(at)));
  if (!ReadAgain(at, folder) && !at.chain.empty()) {
    const std::string notice = BarText("Path was not found: ", PathOf(at), "");
    folder = scanned;
    RemoveFolder(at.chain);
    CountLinkedFilesElsewhere(at.startPath, moves);
    return notice;
  }
  CarryGrowthToRescan(scanned, folder);
  FoldSubtree(scanned);
  const FigureChange after = FiguresOf(folder);
  const FigureChange change{AddBytes(after.bytes, -before.bytes), AddBytes(after.wasted, -before.wasted),
                            AddCount(after.files, -before.files)};
  ShiftAncestors(at.chain, change);
  ShiftGrowthAbove(at.chain, change.bytes);
  OrderAgain();
  return "";
}

std::string OpenFolderAt(const FolderAt& at) {
  if (ReportLoaded()) return std::string(kNotOnLoadedReport);
  if (std::string changed = ChangedSinceScan(at); !changed.empty()) return changed;
  const std::string path = PathOf(at);
  if (platform::OpenFolderOnDesktop(path)) return "";
  FlushOut();
  ClearScreen();
  if (!platform::RunShellIn(path)) return BarText("Cannot start a shell in ", path, "");
  return "";
}

#include "control/run.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "browse/browser.h"
#include "build_settings.h"
#include "console/format.h"
#include "console/held_sums.h"
#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "control/fatal_report.h"
#include "control/launch.h"
#include "control/options.h"
#include "mft/table_scan.h"
#include "platform/platform.h"
#include "report/delimited_report.h"
#include "report/files_report.h"
#include "report/growth.h"
#include "report/html_report.h"
#include "report/modes.h"
#include "report/report_origin.h"
#include "report/treemap_report.h"
#include "saved/comparison.h"
#include "saved/loaded_report.h"
#include "scan/drive_stats.h"
#include "scan/exclusions.h"
#include "scan/file_stats.h"
#include "scan/reading_prompt.h"
#include "scan/scanner.h"
#include "scan/start_path.h"
#include "settings/settings.h"

namespace {

// The long-path listing reports paths of this length or more: the limit of
// a Windows path, whatever the system's own limit.
constexpr size_t kLongPathLimit = 255;

// The exit code of a report made while some folders could not be read, as
// du's "some could not be read".
constexpr int kExitSomeUnreadable = 2;

// The scan met a folder it could not read.
bool metUnreadable = false;

bool FirstArgumentAsksForHelp() {
  return commandLine.size() > 1 && commandLine[1].find('?') != std::string::npos;
}

// The text reports that a redirected run frames with a header line and a
// closing form feed; an HTML, JSON or map document has no room for them.
bool FramedReport() {
  return options.outputMode != OutputMode::html && options.outputMode != OutputMode::json &&
         options.outputMode != OutputMode::map;
}

void SetConsoleDefaults() {
  if (outputRedirected) {
    options.treeChars = kPlainChars;
    options.pauseEachPage = false;
  } else {
    options.treeChars = kGraphicsChars;
  }
}

void WriteReportHeaderLine() {
  WriteLinePaged(std::string("Tallyfold ") + kVersion + " report, created at " + ReportCreatedText());
  WriteLinePaged("");
}

// Settles the cluster size of the wastage figures: -cl=# when given, else
// the drive's own; never 0.
void SettleClusterSize() {
  effectiveClusterSize = options.requestedClusterSize != 0 ? options.requestedClusterSize
                                                           : driveStats.clusterSize;
  if (effectiveClusterSize == 0) {
    effectiveClusterSize = 1;
    WriteMessageLine("Erroneous cluster size of 0 given - using 1 instead.");
  }
}

// The drive's used space when the scan starts at its root, for the share
// of it the progress figures show; else 0.
int64_t UsedSpaceOfScannedRoot(const std::string& expandedPath) {
  if (EnsureTrailingBackslash(expandedPath) != allowanceFreeRoot) return 0;
  return std::max<int64_t>(0, driveStats.usedBytes);
}

// Reads the earlier report of -compare=, before the scan so that a report
// that does not compare costs no scan; false when it is refused.
bool ComparisonAccepted(const std::string& expandedPath) {
  if (options.compareFile.empty()) return true;
  std::string refusal;
  if (LoadComparison(options.compareFile, expandedPath, refusal)) return true;
  WriteErrorLine(refusal);
  return false;
}

// The browser's M key shows ages in every run it browses: the scan notes
// each folder's newest file (it reads the times with the sizes anyway), and
// the column waits for M unless -age asked for it.
void NoteAgesForTheBrowser() {
  const bool browsed = options.pauseEachPage && options.outputMode != OutputMode::json &&
                       options.outputMode != OutputMode::map && options.topFiles == 0 && !options.fileTypes;
  if (!browsed || options.noteAges) return;
  options.noteAges = true;
  options.showAge = false;
}

bool ScanTree(TDirEntry& folder) {
  if (options.scanThreads == 1) return ScanFolder(folder);
  return ScanFolderAhead(folder, options.scanThreads);
}

void RenderTree(const std::string& expandedPath) {
  // Every mode: the browser's navigation builds the paths of the folders it
  // opens on it too.
  reportPath = EnsureTrailingBackslash(expandedPath);
  // A JSON document or a map page is written whole, also on a console.
  if (options.outputMode == OutputMode::json || options.outputMode == OutputMode::map) {
    options.pauseEachPage = false;
  }
  CompareWithTree();
  if (options.sortOrder == SortOrder::growth) OrderByGrowth();
  ShowReport(OperationsFor(options.outputMode));
}

// One folder of the long-path walk: its own identity and its subfolders,
// entered once its listing is closed.
struct LongPathFolder {
  platform::FolderIdentity identity;
  std::vector<std::pair<std::string, platform::FolderIdentity>> subfolders;
};

void NoteLongPathEntry(void* context, const platform::ListingEntry& entry) {
  auto& folder = *static_cast<LongPathFolder*>(context);
  if (entry.name == ".") folder.identity = {entry.volumeId, entry.fileId};
  if ((entry.attributes & platform::kAttrDirectory) == 0) return;
  if (entry.attributes & (platform::kAttrVolumeLabel | platform::kAttrReparsePoint)) return;
  if ((entry.attributes & platform::kAttrOtherFileSystem) && !options.crossMounts) return;
  if (entry.name == "." || entry.name == "..") return;
  folder.subfolders.emplace_back(entry.name, platform::FolderIdentity{entry.volumeId, entry.fileId});
}

// Walks `path` (with its separator), which its parent's listing saw as
// `expected`; `above` holds the identities of the folders above it, so that
// a loop is not entered.
void WalkLongPaths(const std::string& path, const platform::FolderIdentity& expected,
                   std::vector<platform::FolderIdentity>& above) {
  TurnSpinner();
  LongPathFolder folder;
  if (platform::PathLength(path) >= kLongPathLimit ||
      folderLister(path, expected, NoteLongPathEntry, &folder) == platform::ListStatus::PathNotFound) {
    WriteLinePaged(path);
    return;
  }
  above.push_back(folder.identity);
  for (const auto& [name, identity] : folder.subfolders) {
    if (identity != platform::FolderIdentity{} && std::find(above.begin(), above.end(), identity) != above.end()) {
      continue;
    }
    WalkLongPaths(path + name + platform::kPathSeparator, identity, above);
  }
  above.pop_back();
}

// A relative start folder needs the current folder; without it there is
// nothing sound to report on (falling back to the root would scan a whole
// disk instead).
[[noreturn]] void EndWithoutCurrentFolder(const std::string& failure) {
  WriteErrorLine("Cannot read the current folder: " + failure);
  if (options.outputMode == OutputMode::html) WriteHtmlClose();
  EndProgram(1);
}

void RefuseOnLoadedReport(std::string_view word) {
  WriteErrorLine("Cannot be applied to a loaded report - " + std::string(word));
}

// The options that only a scan can apply are named and ignored; the
// report's own settings stand instead.
void SetAsideDiskOptions() {
  if (options.dirMode) RefuseOnLoadedReport("-dir");
  if (!options.includeOffline) RefuseOnLoadedReport("-nooffline");
  if (options.countEveryLink) RefuseOnLoadedReport("-links");
  if (!exclusions.givenPatterns.empty()) RefuseOnLoadedReport("-exclude");
  if (options.scanThreads != 0) RefuseOnLoadedReport("-threads");
  if (options.crossMounts) RefuseOnLoadedReport("-mounts");
  options.countEveryLink = false;
  options.crossMounts = false;
  exclusions = Exclusions{};
}

// The report of the run made from the -load= reports instead of a scan.
bool LoadedReportRun() {
  SetAsideDiskOptions();
  std::string failure, warning;
  const bool read = LoadReports(options.loadFiles, failure, warning);
  if (!warning.empty()) WriteErrorLine(warning);
  if (!read) {
    WriteErrorLine(failure);
    if (options.outputMode == OutputMode::html) WriteHtmlClose();
    return false;
  }
  // The browser and the pauses read keys from standard input.
  if (std::find(options.loadFiles.begin(), options.loadFiles.end(), "-") != options.loadFiles.end()) {
    platform::TakeKeysFromTerminal();
  }
  if (options.requestedClusterSize != 0 && options.requestedClusterSize != effectiveClusterSize) {
    RefuseOnLoadedReport("-cl");
  }
  BeginDelimitedOutput();
  if (outputRedirected && FramedReport() && options.showHeader) WriteReportHeaderLine();
  TakeSavedLists();
  ShapeLoadedTree();
  const bool reported = ComparisonAccepted(root.name);
  if (reported) RenderTree(root.name);
  FoldSubtree(root);
  ReleaseComparison();
  if (options.outputMode == OutputMode::html) WriteHtmlClose();
  return reported;
}

// ---- Several folders ---------------------------------------------------------

// The folders of the command line, expanded; false (with the message written)
// when one lies inside another, which would count it twice.
bool ExpandedFolders(std::vector<std::string>& paths) {
  for (const std::string& word : commandLineFolders) {
    std::string failure;
    std::string expanded = ExpandStartPath(word, failure);
    if (expanded.empty()) EndWithoutCurrentFolder(failure);
    paths.push_back(std::move(expanded));
  }
  for (size_t i = 0; i < paths.size(); ++i) {
    for (size_t j = i + 1; j < paths.size(); ++j) {
      if (Overlapping(paths[i], paths[j])) {
        WriteErrorLine("Folders overlap: " + paths[i] + " and " + paths[j]);
        return false;
      }
    }
  }
  return true;
}

// What the scans of the folders noted of single files, with paths below
// the root of all.
struct GatheredFiles {
  std::vector<ListedFile> largest;
  std::vector<FileType> types;
};

void GatherFileNotes(const std::string& path, GatheredFiles& gathered) {
  for (ListedFile file : LargestFiles()) {
    file.path.insert(0, EnsureTrailingBackslash(path));
    gathered.largest.push_back(std::move(file));
  }
  gathered.types.insert(gathered.types.end(), FileTypes().begin(), FileTypes().end());
}

// Scans `folder`, which holds its expanded path as its name, as the one
// start folder of a run is scanned.
bool ScanStartFolder(TDirEntry& folder) {
  if (NamesANonFolder(folder.name)) {
    WriteErrorLine("Not a folder: " + folder.name);
    return false;
  }
  scanPath = folder.name;
  ShowReadingPrompt(UsedSpaceOfScannedRoot(folder.name));
  platform::BeginWalk(folder.name);
  const bool scanned = ScanTree(folder);
  platform::EndWalk();
  EndReadingPrompt();
  return scanned;
}

// Each folder below the root "(N folders)", in the order given. The first
// folder's drive gives the cluster size that counts the wastage of all; the
// statistics of every other drive follow its.
bool ScanEachFolder(const std::vector<std::string>& paths) {
  GatheredFiles gathered;
  moreDrives.clear();
  DriveStats firstDrive;
  std::string firstDriveName;
  TDirEntry* last = nullptr;
  auto order = static_cast<int32_t>(paths.size());
  for (const std::string& path : paths) {
    if (!ReadDriveStats(path)) return false;
    if (last == nullptr) {
      SettleClusterSize();
      firstDrive = driveStats;
      firstDriveName = driveName;
      if (!ComparisonAccepted(root.name)) return false;
    } else if (driveName != firstDriveName &&
               std::none_of(moreDrives.begin(), moreDrives.end(),
                            [](const NamedDrive& drive) { return drive.name == driveName; })) {
      moreDrives.push_back({driveName, driveStats});
    }
    auto* folder = new TDirEntry;
    (last != nullptr ? last->next : root.firstChild) = folder;
    last = folder;
    folder->name = path;
    folder->scanOrder = --order;
    if (!ScanStartFolder(*folder)) return false;
    root.subBytes = AddBytes(root.subBytes, TotalBytes(*folder));
    root.modifiedSeconds = std::max(root.modifiedSeconds, folder->modifiedSeconds);
    GatherFileNotes(path, gathered);
  }
  driveStats = firstDrive;
  driveName = firstDriveName;
  KeepSavedFiles(gathered.largest, options.topFiles > 0);
  TakeSavedFileNotes(std::move(gathered.largest), gathered.types, static_cast<size_t>(options.topFiles));
  RelinkTree(root);
  return true;
}

// Several folders of the command line: each reported under one root, as
// merged reports are, with the sum of their figures.
bool SeveralFoldersRun() {
  std::vector<std::string> paths;
  bool reported = false;
  if (ExpandedFolders(paths)) {
    scanTotals = ScanTotals{};
    BeginDelimitedOutput();
    if (outputRedirected && FramedReport() && options.showHeader) WriteReportHeaderLine();
    root = TDirEntry{};
    root.name = "(" + std::to_string(paths.size()) + " folders)";
    reportOrigin.severalFolders = true;
    NoteAgesForTheBrowser();
    if (options.outputMode == OutputMode::map) NoteFilesForMap();
    if (ScanEachFolder(paths)) {
      metUnreadable = scanTotals.unreadableFolders > 0;
      RenderTree(root.name);
      reported = true;
    }
    FoldSubtree(root);
    ReleaseComparison();
  }
  if (options.outputMode == OutputMode::html) WriteHtmlClose();
  return reported;
}

}  // namespace

void (*settingsApplied)() = nullptr;
void (*scanEnded)() = nullptr;

void WriteBanner() {
  WriteError(ProductTitle() + "  " + TALLYFOLD_COPYRIGHT + platform::kLineEnd + platform::kLineEnd);
  if (options.outputMode == OutputMode::html) WriteHtmlHead();
  if (FirstArgumentAsksForHelp()) {
    ShowUsage();
    EndProgram(0);
  }
}

bool ReportRun() {
  if (!options.loadFiles.empty()) return LoadedReportRun();
  if (commandLineFolders.size() > 1 && !options.longestPaths) return SeveralFoldersRun();
  std::string failure;
  const std::string expandedPath = StartPathOfRun(options.startFolder, failure);
  if (expandedPath.empty()) EndWithoutCurrentFolder(failure);
  scanTotals = ScanTotals{};
  BeginDelimitedOutput();
  if (outputRedirected && FramedReport() && options.showHeader) {
    WriteReportHeaderLine();
  }
  root = TDirEntry{};
  root.name = expandedPath;
  if (options.longestPaths) {
    platform::BeginWalk(expandedPath);
    LongestPathsWalk(expandedPath);
    platform::EndWalk();
    return true;
  }
  bool reported = false;
  // Before the drive is read: -mft keeps of the files what the map lists.
  if (options.outputMode == OutputMode::map) NoteFilesForMap();
  // A refused earlier report ends the run as a missing start folder does:
  // no report.
  if (NamesANonFolder(expandedPath)) {
    WriteErrorLine("Not a folder: " + expandedPath);
  } else if (ReadDriveStatsFromTable(expandedPath)) {
    SettleClusterSize();
    if (ComparisonAccepted(expandedPath)) {
      NoteAgesForTheBrowser();
      scanPath = expandedPath;
      ShowReadingPrompt(UsedSpaceOfScannedRoot(expandedPath));
      platform::BeginWalk(expandedPath);
      reported = ScanTree(root);
      if (scanEnded != nullptr) scanEnded();
      metUnreadable = scanTotals.unreadableFolders > 0;
      platform::EndWalk();
      EndReadingPrompt();
      if (reported) RenderTree(expandedPath);
      // The tree is left to the end of the process, which follows: releasing
      // it folder by folder was a twentieth of the user time of a scan of
      // empty folders.
      ReleaseComparison();
    }
  }
  if (options.outputMode == OutputMode::html) WriteHtmlClose();
  return reported;
}

void LongestPathsWalk(std::string path) {
  std::vector<platform::FolderIdentity> above;
  WalkLongPaths(EnsureTrailingBackslash(std::move(path)), {}, above);
}

int RunProgram() {
  SetFatalReportIdentity(kProductName, kVersion);
  helpKeyAction = OpenHelpFile;
  helpFileOpener = TryOpenHelpFile;
  platform::InitLocale();
  thousandsSeparator = platform::ThousandsSeparator();
  SetConsoleDefaults();
  ReadRegistryDefaults();
  ApplyParameterSources();
  if (settingsApplied != nullptr) settingsApplied();
  // A mistyped option after two dashes names no folder: nothing is read.
  if (!unknownLongOptions.empty()) {
    for (const std::string& word : unknownLongOptions) WriteErrorLine("Unknown option " + word);
    FlushOut();
    return 1;
  }
  WriteBanner();
  WarnAboutUnknownOptions();
  // A script must be able to tell that no report was made, or one that
  // lacks what could not be read.
  const bool reported = ReportRun();
  const int exitCode = !reported ? 1 : metUnreadable ? kExitSomeUnreadable : 0;
  if (outputRedirected && FramedReport()) WriteOutLine("\f");
  FlushOut();
  WarnAboutNamesOutsideCodePage();
  return exitCode;
}

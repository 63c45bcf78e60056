#include "saved/loaded_report.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <limits>

#include "console/held_sums.h"
#include "console/text.h"
#include "console/writer.h"
#include "platform/platform.h"
#include "report/files_report.h"
#include "report/growth.h"
#include "report/report_origin.h"
#include "report/treemap_report.h"
#include "saved/report_reader.h"
#include "scan/drive_stats.h"
#include "scan/exclusions.h"
#include "scan/file_stats.h"
#include "scan/scanner.h"
#include "settings/settings.h"

namespace {

// A folder of the report whose object has begun and not yet ended.
struct OpenFolder {
  TDirEntry* folder;
  TDirEntry* lastChild = nullptr;
  int32_t childCount = 0;
  bool ordered = false;  // a child gave its place in the scan's order
};

// One report read into the tree below `top`, its root.
struct TreeReading {
  TDirEntry& top;
  std::vector<OpenFolder> open;  // innermost last
};

bool LoadedFolderOpens(void* keeper) {
  TreeReading& reading = *static_cast<TreeReading*>(keeper);
  if (reading.open.empty()) {
    reading.open.push_back({&reading.top});
    return true;
  }
  OpenFolder& parent = reading.open.back();
  auto* child = new TDirEntry;
  (parent.lastChild != nullptr ? parent.lastChild->next : parent.folder->firstChild) = child;
  parent.lastChild = child;
  if (parent.childCount < std::numeric_limits<int32_t>::max()) parent.childCount += 1;
  reading.open.push_back({child});
  return true;
}

// Without places in the scan's order, the children's listing order is the
// reverse of the order the scan finished them in.
void NumberInListingOrder(const OpenFolder& parent) {
  int32_t order = parent.childCount;
  for (TDirEntry* child = parent.folder->firstChild; child != nullptr; child = child->next) {
    child->scanOrder = --order;
  }
}

bool LoadedFolderCloses(void* keeper, ReportFolder& given) {
  TreeReading& reading = *static_cast<TreeReading*>(keeper);
  const OpenFolder ended = reading.open.back();
  reading.open.pop_back();
  if (given.total < given.own) return false;
  TDirEntry& folder = *ended.folder;
  if (given.named) folder.name = std::move(given.name);
  folder.localBytes = given.own;
  folder.subBytes = given.total - given.own;
  folder.wastedBytes = given.wasted;
  folder.fileCount = HeldCount(given.files);
  folder.folded = given.folded;
  folder.unreadable = given.unreadable;
  folder.modifiedSeconds = given.modifiedSeconds;
  if (given.order >= 0) {
    folder.scanOrder = HeldCount(given.order);
    if (!reading.open.empty()) reading.open.back().ordered = true;
  }
  if (!ended.ordered) NumberInListingOrder(ended);
  return true;
}

std::string NameOfFile(const std::string& file) { return file == "-" ? "standard input" : file; }

// Reads one report into `into` and `facts`; false with the message line in
// `failure`. A tree read only in part is released.
bool ReadReportInto(const std::string& file, TDirEntry& into, ReportFacts& facts, std::string& failure) {
  std::ifstream stream;
  if (file != "-" && !OpenReportFile(file, "report", stream, failure)) return false;
  TreeReading reading{into, {}};
  const FolderKeeper keeper{&reading, LoadedFolderOpens, LoadedFolderCloses};
  std::istream& input = file == "-" ? std::cin : stream;
  if (ReadReport(input, "The report " + NameOfFile(file), keeper, facts, failure)) return true;
  FoldSubtree(into);
  return false;
}

// The settings and figures of the run become the report's.
void TakeFacts(const ReportFacts& facts) {
  scanTotals = facts.totals;
  effectiveClusterSize = static_cast<int32_t>(std::clamp<int64_t>(facts.clusterSize, 1, 65536));
  options.dirMode = facts.dirMode == 1;
  if (options.dirMode) options.showWaste = false;
  options.includeOffline = facts.includeOffline == 1;
  options.countEveryLink = facts.links;
  options.crossMounts = facts.mounts;
  exclusions = Exclusions{};
  exclusions.givenPatterns = facts.exclude;
  if (!facts.hasDrive) {
    options.showDriveStats = false;
    return;
  }
  driveStats = facts.drive;
  driveName = !facts.driveName.empty() ? facts.driveName : facts.driveRoot;
}

void AddFigures(ScanTotals& sum, const ScanTotals& more) {
  sum.totalFiles = AddCount(sum.totalFiles, more.totalFiles);
  sum.totalWasted = AddBytes(sum.totalWasted, more.totalWasted);
  sum.unreadableFolders = AddCount(sum.unreadableFolders, more.unreadableFolders);
}

// What the loaded reports noted besides their trees, until TakeSavedLists.
struct SavedLists {
  bool hasAges = true, hasFiles = true, hasTypes = true;  // every report holds them
  std::vector<ListedFile> files;
  std::vector<FileType> types;
};

SavedLists savedLists;

// The lists of one report; a merged report's file paths begin with the
// name of its part, below the root of all.
void GatherLists(ReportFacts& facts, const std::string& partName) {
  savedLists.hasAges = savedLists.hasAges && facts.hasAges;
  savedLists.hasFiles = savedLists.hasFiles && facts.hasFiles;
  savedLists.hasTypes = savedLists.hasTypes && facts.hasTypes;
  for (ListedFile& file : facts.files) {
    if (!partName.empty()) file.path.insert(0, partName + platform::kPathSeparator);
    savedLists.files.push_back(std::move(file));
  }
  savedLists.types.insert(savedLists.types.end(), facts.types.begin(), facts.types.end());
}

// Two reports of one machine whose start folders are the same or nested
// would count a folder twice.
bool Overlap(const std::vector<ReportFacts>& parts, std::string& failure) {
  for (size_t i = 0; i < parts.size(); ++i) {
    for (size_t j = i + 1; j < parts.size(); ++j) {
      if (parts[i].host != parts[j].host) continue;
      if (Overlapping(parts[i].path, parts[j].path)) {
        failure = "Reports overlap: " + parts[i].host + ":" + parts[i].path + " and " + parts[j].host + ":" +
                  parts[j].path;
        return true;
      }
    }
  }
  return false;
}

// Reads each report into a folder of its own below the root "(N reports)".
bool MergeReports(const std::vector<std::string>& files, std::string& failure, std::string& warning) {
  root.name = std::to_string(files.size());
  root.name.insert(0, 1, '(');
  root.name += " reports)";
  ReportFacts first;
  ScanTotals totals;
  std::vector<ReportFacts> parts;
  TDirEntry* last = nullptr;
  int32_t order = static_cast<int32_t>(files.size());
  for (const std::string& file : files) {
    ReportFacts facts;
    auto* part = new TDirEntry;
    if (!ReadReportInto(file, *part, facts, failure)) {
      delete part;
      return false;
    }
    (last != nullptr ? last->next : root.firstChild) = part;
    last = part;
    part->scanOrder = --order;
    part->name = (facts.host.empty() ? std::string("?") : facts.host) + ":" + facts.path;
    root.subBytes = AddBytes(root.subBytes, TotalBytes(*part));
    if (last == root.firstChild) {
      first = facts;
    } else if (facts.dirMode != first.dirMode) {
      failure = "The reports " + NameOfFile(files.front()) + " and " + NameOfFile(file) +
                " do not merge: one counted plain file sizes (-dir), the other whole clusters";
      return false;
    } else if (facts.clusterSize != first.clusterSize && warning.empty()) {
      warning = "The reports were counted with different cluster sizes; the cluster size of " +
                NameOfFile(files.front()) + " is shown";
    }
    AddFigures(totals, facts.totals);
    GatherLists(facts, part->name);
    parts.push_back(std::move(facts));
  }
  if (Overlap(parts, failure)) return false;
  first.totals = totals;
  TakeFacts(first);
  reportOrigin.created = first.created;
  return true;
}

}  // namespace

bool LoadReports(const std::vector<std::string>& files, std::string& failure, std::string& warning) {
  reportOrigin = ReportOrigin{};
  savedLists = SavedLists{};
  root = TDirEntry{};
  if (files.size() > 1) {
    if (!MergeReports(files, failure, warning)) {
      FoldSubtree(root);
      return false;
    }
  } else {
    ReportFacts facts;
    if (!ReadReportInto(files.front(), root, facts, failure)) return false;
    root.name = facts.path;
    GatherLists(facts, "");
    TakeFacts(facts);
    reportOrigin.created = facts.created;
    reportOrigin.host = facts.host;
  }
  reportOrigin.loaded = true;
  return true;
}

namespace {

// A folder whose children are being shaped; `link` leads to the next.
struct Shaping {
  TDirEntry* folder;
  TDirEntry** link;
  int32_t depth;
};

// As the scan does on its way back up: a folder at the depth limit folds
// its subtree, and a folder smaller than the size limit folds into its parent.
void FinishShapedChild(Shaping& parent) {
  TDirEntry* child = *parent.link;
  TDirEntry* const next = child->next;
  if (FoldFinishedChild(*parent.folder, child, parent.depth + 1)) {
    *parent.link = next;
  } else {
    parent.link = &child->next;
  }
}

// Every subtree is shaped before its folder, with a stack of its own, which
// a tree of any depth fits.
void ShapeFolder(TDirEntry& top, int32_t depth) {
  std::vector<Shaping> open{{&top, &top.firstChild, depth}};
  while (!open.empty()) {
    TDirEntry* child = *open.back().link;
    if (child != nullptr) {
      open.push_back({child, &child->firstChild, open.back().depth + 1});
      continue;
    }
    open.pop_back();
    if (!open.empty()) FinishShapedChild(open.back());
  }
}

}  // namespace

void TakeSavedLists() {
  // The map draws what the report holds of files and types, and needs none.
  if (options.outputMode == OutputMode::map) {
    NoteFilesForMap();
    if (!savedLists.hasFiles) options.topFiles = 0;
    if (!savedLists.hasTypes) options.fileTypes = false;
  }
  if (options.noteAges && !savedLists.hasAges) {
    WriteErrorLine("The report holds no ages; write it with -json -age");
    options.noteAges = false;
  }
  if (options.topFiles > 0 && !savedLists.hasFiles) {
    WriteErrorLine("The report holds no file list; write it with -json -top=" + std::to_string(options.topFiles));
    options.topFiles = 0;
  }
  if (options.fileTypes && !savedLists.hasTypes) {
    WriteErrorLine("The report holds no file types; write it with -json -types");
    options.fileTypes = false;
  }
  KeepSavedFiles(savedLists.hasFiles ? savedLists.files : std::vector<ListedFile>{}, savedLists.hasFiles);
  TakeSavedFileNotes(std::move(savedLists.files), savedLists.types, static_cast<size_t>(options.topFiles));
  savedLists = SavedLists{};
}

void ShapeLoadedTree() {
  ShapeFolder(root, 0);
  RelinkTree(root);
}

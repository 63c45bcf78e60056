#include "tools/explain.h"

#include <algorithm>

#include "console/output.h"
#include "console/writer.h"
#include "control/launch.h"
#include "control/options.h"
#include "mft/table_scan.h"
#include "platform/platform.h"
#include "scan/exclusions.h"
#include "settings/settings.h"

namespace {

// Thrown by the action observer: leaves the parser before a screen is shown
// or anything is started.
struct ActionReached {
  ImmediateAction action;
};

void StopAtAction(const ImmediateAction& action) { throw ActionReached{action}; }

// Every setting differs from the defaults, so that a word which sets a
// setting to its default value still shows a change against one of the two.
ReportOptions OppositeOfDefaults() {
  ReportOptions opposite;
  opposite.maxDepth = 7;
  opposite.minFolderBytes = 12345;
  opposite.outputMode = OutputMode::tab;
  opposite.treeChars = kPlainChars;
  opposite.requestedClusterSize = 777;
  opposite.showWaste = false;
  opposite.wasteAsPercent = false;
  opposite.showFileCounts = false;
  opposite.showOwnSize = false;
  opposite.showTotals = false;
  opposite.dirMode = true;
  opposite.showDriveStats = false;
  opposite.showHeader = false;
  opposite.longestPaths = true;
  opposite.includeOffline = false;
  opposite.countEveryLink = true;
  opposite.crossMounts = true;
  opposite.startFolder = std::string(1, '\0');
  opposite.sortOrder = SortOrder::none;
  opposite.pauseEachPage = false;
  opposite.compareFile = std::string(1, '\0');
  opposite.loadFiles = {std::string(1, '\0')};
  opposite.showBars = true;
  opposite.topFiles = 7;
  opposite.fileTypes = true;
  opposite.noteAges = true;
  opposite.startInNavigation = true;
  return opposite;
}

std::string Bytes(int64_t count) { return std::to_string(count) + " bytes"; }

std::string OutputModeText(OutputMode mode) {
  switch (mode) {
    case OutputMode::tab: return "makes a tab-separated report in fixed columns";
    case OutputMode::comma: return "makes a comma-separated report";
    case OutputMode::html: return "makes an HTML report";
    case OutputMode::json: return "makes a JSON report";
    case OutputMode::map: return "makes a page that draws the tree as a treemap";
    default: return "makes the console report";
  }
}

std::string SortText(SortOrder order) {
  switch (order) {
    case SortOrder::none: return "leaves subfolders in the order the disk lists them";
    case SortOrder::name: return "sorts subfolders by name";
    case SortOrder::local: return "sorts subfolders by their own size, largest first";
    case SortOrder::total: return "sorts subfolders by total size, largest first";
    case SortOrder::waste: return "sorts subfolders by wastage, largest first";
    case SortOrder::growth: return "sorts subfolders by growth since the compared report, largest first";
    case SortOrder::age: return "sorts subfolders by their newest file, newest first";
    default: return "sorts subfolders by number of files, most first";
  }
}

// One sentence per setting that differs, saying what the new value does.
void DescribeChanges(const ReportOptions& before, const ReportOptions& after, std::vector<std::string>& effects) {
  auto add = [&effects](const std::string& text) {
    for (const std::string& known : effects) {
      if (known == text) return;
    }
    effects.push_back(text);
  };
  if (after.maxDepth != before.maxDepth) {
    add(after.maxDepth == kAllLevels ? "shows folders at every depth"
                              : "shows folders up to " + std::to_string(after.maxDepth) + " levels deep");
  }
  if (after.minFolderBytes != before.minFolderBytes) {
    add(after.minFolderBytes == 0 ? "shows folders of every size"
                                  : "shows only folders of " + Bytes(after.minFolderBytes) + " or more");
  }
  if (after.outputMode != before.outputMode) add(OutputModeText(after.outputMode));
  if (after.treeChars != before.treeChars) {
    add(after.treeChars == kGraphicsChars ? "draws the tree with box-drawing characters"
                                          : "draws the tree with plain characters (+ | -)");
  }
  if (after.requestedClusterSize != before.requestedClusterSize) {
    add(after.requestedClusterSize == 0
            ? "counts wastage with the drive's own cluster size"
            : "counts wastage for a cluster size of " + Bytes(after.requestedClusterSize));
  }
  if (after.showWaste != before.showWaste && !after.showWaste) add("hides the wastage column");
  if (after.wasteAsPercent != before.wasteAsPercent) {
    add(after.wasteAsPercent ? "shows wastage as a percentage" : "shows wastage as a number of bytes");
  }
  if (after.showFileCounts != before.showFileCounts && !after.showFileCounts) add("hides the file counts");
  if (after.showOwnSize != before.showOwnSize && !after.showOwnSize) {
    add("hides each folder's own size in square brackets");
  }
  if (after.showTotals != before.showTotals && !after.showTotals) add("hides the folder totals on the left");
  if (after.dirMode != before.dirMode && after.dirMode) {
    add("counts the file lengths, as a plain directory listing does, instead of the clusters the files take");
  }
  if (after.showDriveStats != before.showDriveStats && !after.showDriveStats) {
    add("leaves out the drive statistics");
  }
  if (after.showHeader != before.showHeader && !after.showHeader) {
    add("leaves out the header line of a redirected report");
  }
  if (after.longestPaths != before.longestPaths && after.longestPaths) {
    add("lists the folder paths of 255 characters or more instead of making a report");
  }
  if (after.includeOffline != before.includeOffline && !after.includeOffline) {
    add("ignores the sizes of offline files");
  }
  if (after.countEveryLink != before.countEveryLink && after.countEveryLink) {
    add("counts a file with several hard links in full under each of its names");
  }
  if (after.crossMounts != before.crossMounts && after.crossMounts) {
    add("scans the other file systems mounted below the start folder");
  }
  if (after.utf8 != before.utf8 && after.utf8) add("writes the tab and comma reports in UTF-8");
  if (after.sortOrder != before.sortOrder) add(SortText(after.sortOrder));
  if (after.compareFile != before.compareFile) {
    add("shows each folder's growth since the earlier JSON report " + after.compareFile);
  }
  if (after.loadFiles != before.loadFiles && !after.loadFiles.empty()) {
    add(after.loadFiles.size() == 1 ? "reports on the saved JSON report " + after.loadFiles.front() + " instead of a scan"
                                    : "merges the saved JSON reports " + std::to_string(after.loadFiles.size()) +
                                          " given with -load= into one report instead of a scan");
  }
  if (after.showBars != before.showBars && after.showBars) {
    add("shows a bar of each folder's share of its parent's total");
  }
  if (after.topFiles != before.topFiles) {
    add(after.outputMode == OutputMode::map ? "draws the " + std::to_string(after.topFiles) + " largest files on the map"
                                            : "lists the " + std::to_string(after.topFiles) + " largest files instead of the folders");
  }
  if (after.fileTypes != before.fileTypes && after.fileTypes) {
    add("lists the file types by bytes instead of the folders");
  }
  if (after.noteAges != before.noteAges && after.noteAges) {
    add("shows when the newest file below each folder was modified");
  }
  if (after.startInNavigation != before.startInNavigation && after.startInNavigation) {
    add("starts the browser in navigation, one folder level at a time");
  }
  if (after.pauseEachPage != before.pauseEachPage && !after.pauseEachPage) {
    add("does not pause after each page");
  }
}

// The name a name pattern stands for, as typed: build/ and **/build are
// the name build.
std::string TypedName(std::string pattern) {
  auto isSeparator = [](char c) { return c == '/' || c == platform::kPathSeparator; };
  while (!pattern.empty() && isSeparator(pattern.back())) pattern.pop_back();
  if (pattern.size() > 3 && pattern.starts_with("**") && isSeparator(pattern[2])) pattern.erase(0, 3);
  return pattern;
}

// What an -exclude= word added to the empty exclusion record; the pattern
// is shown as the user typed it (the record keeps it in comparable form).
void DescribeExclusion(const std::string& word, std::vector<std::string>& effects) {
  const std::string pattern = word.substr(std::min<size_t>(word.size(), 9));
  if (!exclusions.namePatterns.empty()) {
    effects.push_back("leaves out every folder named " + TypedName(pattern) + ", at any depth");
  } else if (!exclusions.pathPatterns.empty()) {
    const std::vector<std::string>& names = exclusions.pathPatterns.front();
    const bool anyFolders = std::find(names.begin(), names.end(), "**") != names.end();
    effects.push_back(anyFolders ? "leaves out the folders whose path below the start folder matches " + pattern
                                 : "leaves out the folder " + pattern + " below the start folder");
  } else if (!exclusions.absolutePatterns.empty()) {
    effects.push_back("leaves out the folder " + pattern +
                      " when it lies below the start folder (else it says that it matches nothing)");
  }
}

// What an -mft word asked for, against no request.
void DescribeTableRequest(std::vector<std::string>& effects) {
  if (!tableRequest.wanted) return;
  effects.push_back(tableRequest.file.empty()
                        ? "reads the NTFS master file table of the start folder's volume instead of listing "
                          "each folder (the walk runs where it cannot be read)"
                        : "reads the NTFS volume in " + tableRequest.file +
                              " from its master file table; the start folder is a path inside it");
}

void AddMessageLines(const std::string& captured, std::vector<std::string>& messages) {
  const std::string lineEnd = platform::kLineEnd;
  size_t start = 0;
  for (size_t end; (end = captured.find(lineEnd, start)) != std::string::npos; start = end + lineEnd.size()) {
    messages.push_back(captured.substr(start, end - start));
  }
  if (start < captured.size()) messages.push_back(captured.substr(start));
}

}  // namespace

WordExplanation ExplainWord(const std::string& word) {
  WordExplanation explanation{word, {}, {}, false, false, false};
  const ReportOptions saved = options;
  const Exclusions savedExclusions = exclusions;
  const TableRequest savedTableRequest = tableRequest;
  actionObserver = StopAtAction;
  bool firstPass = true;
  for (const ReportOptions& before : {ReportOptions{}, OppositeOfDefaults()}) {
    options = before;
    pagerLineCount = -2;  // the parser's message lines must never reach a page prompt
    std::string captured;
    CaptureOutput(&captured);
    try {
      exclusions = Exclusions{};
      tableRequest = TableRequest{};
      ParseOption(word);
      DescribeChanges(before, options, explanation.effects);
      if (firstPass) DescribeExclusion(word, explanation.effects);
      if (firstPass) DescribeTableRequest(explanation.effects);
      if (options.startFolder != before.startFolder) explanation.becomesStartFolder = true;
    } catch (const ActionReached& reached) {
      explanation.effects = {reached.action.description};
      explanation.startsAction = true;
      explanation.endsRun = reached.action.endsRun;
    }
    CaptureOutput(nullptr);
    // The second pass writes the same lines again.
    if (firstPass) AddMessageLines(captured, explanation.messages);
    firstPass = false;
  }
  actionObserver = nullptr;
  options = saved;
  exclusions = savedExclusions;
  tableRequest = savedTableRequest;
  return explanation;
}

// The settings of one run: one process-wide record, filled from the stored
// defaults, the TALLYFOLD variable and the command line, then read by every
// subsystem.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

enum class OutputMode : uint8_t { console = 0, tab = 1, comma = 2, html = 3, json = 4, map = 5 };

// growth orders by the growth since an earlier report (-compare=), by total
// without one; age by the newest file below a folder (-age), newest first.
enum class SortOrder : uint8_t { none, name, local, total, waste, files, growth, age };

// The five characters that draw the tree and the rules, in this order:
// last-child corner, middle-child tee, horizontal bar, blank, vertical bar.
using TreeChars = std::array<std::string, 5>;
enum TreeCharIndex { kCorner = 0, kTee = 1, kBar = 2, kBlank = 3, kVertical = 4 };

extern const TreeChars kGraphicsChars;
extern const TreeChars kPlainChars;

// The depth limit that folds nothing, however deep the tree.
inline constexpr int32_t kAllLevels = std::numeric_limits<int32_t>::max();

struct ReportOptions {
  int32_t maxDepth = kAllLevels;
  int64_t minFolderBytes = 0;
  OutputMode outputMode = OutputMode::console;
  TreeChars treeChars = kGraphicsChars;
  int32_t requestedClusterSize = 0;
  bool showWaste = true;
  bool wasteAsPercent = true;
  bool showFileCounts = true;
  bool showOwnSize = true;
  bool showTotals = true;
  bool dirMode = false;
  bool showDriveStats = true;
  bool showHeader = true;
  bool longestPaths = false;
  bool includeOffline = true;
  // -links: a file with several hard links counts in full under each name.
  bool countEveryLink = false;
  // -mounts: other file systems mounted below the start folder are scanned.
  bool crossMounts = false;
  // -utf8: the tab and comma reports are written in UTF-8, the comma report
  // after a byte-order mark, not in the system's code page.
  bool utf8 = false;
  std::string startFolder = ".";
  SortOrder sortOrder = SortOrder::name;
  bool pauseEachPage = true;
  // Folders read at once, the scan's own reads included: 1 reads them in the
  // scan alone, 0 lets the scan choose while it runs.
  uint8_t scanThreads = 0;
  // The earlier JSON report that -compare= names; empty for no comparison.
  std::string compareFile;
  // The JSON reports that -load= names ("-" for standard input): the report
  // is made from them, not from a scan.
  std::vector<std::string> loadFiles;
  // The growth column of a comparison is shown; the browser's G key flips it.
  bool showGrowth = true;
  // -bars: a bar of each folder's share of its parent's total; the
  // browser's B key flips it.
  bool showBars = false;
  // -top=#: the report lists the # largest files instead of the folders (0: the folders).
  int32_t topFiles = 0;
  // -types: the report lists the file types by bytes instead of the folders.
  bool fileTypes = false;
  // -age: the scan notes each folder's newest file; the Modified column
  // shows it while showAge, which the browser's M key flips.
  bool noteAges = false;
  bool showAge = true;
  // -nav: the browser starts in navigation.
  bool startInNavigation = false;
};

extern ReportOptions options;

// Values the run settles and the renderers read.
extern const char* const kProductName;
extern const char* const kVersion;
std::string ProductTitle();
extern int32_t effectiveClusterSize;
extern std::string reportPath;
// The command-line arguments of the run, argument 0 (the program) first.
extern std::vector<std::string> commandLine;

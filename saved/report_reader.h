// The reader of this program's own JSON reports, for -load= and -compare=.
// It streams a report (a SAX parse, never a document of the whole report),
// keeps what the top object says of the scan in a ReportFacts record, and
// tells its user where each folder of the tree begins and ends, with what
// the folder gave; every other value is skipped without being stored. The nesting is followed in a stack of its
// own, not by recursion, so that no depth of input can exhaust the stack.
//
// The user keeps the tree through two procedures of a FolderKeeper. For
//   {"root": {"name": "/data", "total": 9,
//             "children": [{"name": "a", "total": 5, "children": []}]}}
// the reader calls
//   opens(keeper)                    the root begins (no folder is open)
//   opens(keeper)                    "a" begins inside the root
//   closes(keeper, {"a", total 5})   "a" ends
//   closes(keeper, {"/data", 9})     the root ends
// so that a folder that opens belongs to the innermost folder still open,
// and the folder that closes is the one that opened last. A folder closes
// with all its members read, wherever they stood among its children.
#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "scan/drive_stats.h"
#include "scan/file_stats.h"
#include "scan/tree.h"

// What a report gives besides its tree.
struct ReportFacts {
  std::string program, created, host;
  std::string path;  // its bytes where the report gives "pathBytes" (a path that is not UTF-8)
  bool hasPath = false, hasRoot = false, hasDrive = false;
  int64_t clusterSize = -1;
  int dirMode = -1, includeOffline = -1;  // -1 until given
  // A report older than these members was made without either option and
  // without exclusions.
  bool links = false, mounts = false;
  std::vector<std::string> exclude;
  DriveStats drive;
  std::string driveRoot, driveName;
  ScanTotals totals;
  // What the run noted besides the tree: the folders' ages (-age), the
  // largest files (-top) and the file types (-types), each only where the
  // report holds it.
  bool hasAges = false, hasFiles = false, hasTypes = false;
  std::vector<ListedFile> files;
  std::vector<FileType> types;
};

// What a report gives of one folder. A folder always has its total; every
// folder but the root has its name ("nameBytes", the bytes of a name that is
// not UTF-8, outranks "name").
struct ReportFolder {
  std::string name;
  bool named = false;
  int64_t total = -1;
  int64_t own = 0, wasted = 0, files = 0;
  int64_t order = -1;  // its place in the scan's order; -1 when not given
  bool folded = false;
  bool unreadable = false;
  int64_t modifiedSeconds = 0;  // 0 when not given
};

// How the user keeps the folders: `opens` when a folder's object begins,
// `closes` when it ends; `keeper` is handed to both. Either answers false
// to refuse the report.
struct FolderKeeper {
  void* keeper;
  bool (*opens)(void* keeper);
  bool (*closes)(void* keeper, ReportFolder& folder);
};

// Opens the report `file` for reading; false with "Cannot read the <kind>
// <file>: <reason>" in `failure`.
bool OpenReportFile(const std::string& file, const std::string& kind, std::ifstream& stream, std::string& failure);

// Reads a report from `input` into `facts` and `folders`. False with the
// message line in `failure`, which begins with `named` ("The report x.json")
// and says that the input is cut short, is not JSON (and at which byte), or
// is not a report of this program; so is a report with a folder name that
// no folder can have (empty, ".", "..", a NUL or a path separator), which
// could lead a path built of the names out of the start folder. Folders kept
// before a refusal stay with the user.
bool ReadReport(std::istream& input, const std::string& named, const FolderKeeper& folders, ReportFacts& facts,
                std::string& failure);

// The seconds since 1970 UTC of an ISO 8601 time with its offset, as the
// reports write it ("2026-11-07T10:00:00+01:00"); false when `text` is none.
bool ParseIsoTime(std::string_view text, int64_t& seconds);

// A count of a report, held at the 32-bit limit of the tree's counts.
int32_t HeldCount(int64_t value);

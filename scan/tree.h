// The scanned folder tree and the grand totals of the scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One folder. Its total is localBytes + subBytes; fileCount and wastedBytes
// hold its own figures plus those of descendants folded into it.
struct TDirEntry {
  std::string name;
  int32_t fileCount = 0;
  // Its place among its siblings in the order the scan finished them (the
  // listing order reversed), so that they can be linked again in another
  // sort order exactly as the scan would have linked them.
  int32_t scanOrder = 0;
  // Something below the folder has been folded into it (by depth or size).
  // Kept apart from the name, which stays the folder's own: a folder may
  // well be named "x ...".
  bool folded = false;
  // Its listing failed: its figures hold only what was read before.
  bool unreadable = false;
  // The entries of its listing, of which its directory-entry allowance is
  // counted.
  int32_t entryCount = 0;
  int64_t localBytes = 0;
  int64_t subBytes = 0;
  int64_t wastedBytes = 0;
  // When the newest file of its subtree was modified, in seconds since 1970
  // UTC; 0 when none was, or -age is not given.
  int64_t modifiedSeconds = 0;
  TDirEntry* next = nullptr;        // next sibling in display order
  TDirEntry* firstChild = nullptr;  // first child in display order

  // Records are made from blocks, in the order they are made: see
  // tree_records.cpp.
  static void* operator new(size_t size);
  static void operator delete(void* record, size_t size) noexcept;
};

inline int64_t TotalBytes(const TDirEntry& entry) { return entry.localBytes + entry.subBytes; }

// The name as the reports show it: a folded folder's name followed by the
// fold mark " ...", which is shown once: a name that holds it already gets
// none more.
inline std::string MarkedName(const TDirEntry& entry) {
  return entry.folded && entry.name.find(" ...") == std::string::npos ? entry.name + " ..." : entry.name;
}

struct ScanTotals {
  int32_t totalFiles = 0;
  int64_t totalWasted = 0;
  int32_t unreadableFolders = 0;  // whose listing failed
};

extern ScanTotals scanTotals;
// The root of the tree; the report driver owns it.
extern TDirEntry root;

// A fake file system for the scanner: folders by path, each with its
// entries in listing order, or a listing failure.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "scan/scanner.h"

struct FakeEntry {
  std::string name;
  uint32_t attributes;
  int64_t size;
  uint32_t linkCount = 1;
  uint64_t fileId = 0;
};

struct FakeFolder {
  platform::ListStatus status = platform::ListStatus::Listed;
  // Without "." and "..", which a whole listing adds; a failed listing
  // gives these entries and then its failure.
  std::vector<FakeEntry> entries;
  bool vanishesMidListing = false;  // gives its entries, then answers "not found"
};

// Paths end in the separator, as the scanner asks for them.
extern std::map<std::string, FakeFolder> fakeFolders;

platform::ListStatus ListFakeFolder(const std::string& path, const platform::FolderIdentity& expected,
                                    platform::EntryVisitor visit, void* context);

inline FakeEntry Dir(const std::string& name) { return {name, platform::kAttrDirectory, 0}; }
inline FakeEntry File(const std::string& name, int64_t size, uint32_t attributes = 0x20) {
  return {name, attributes, size};
}
// One name of file `fileId`, which has `links` names in all.
inline FakeEntry LinkedFile(const std::string& name, int64_t size, uint64_t fileId, uint32_t links) {
  return {name, 0x20, size, links, fileId};
}

// Scans `start` (with fake folders set up) with the given cluster size and
// returns whether the scan succeeded; the tree is in `root`.
bool ScanFake(const std::string& start, int32_t clusterSize);
// Releases the tree of the last scan and restores the settings.
void ResetScan();

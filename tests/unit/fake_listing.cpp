#include "fake_listing.h"

#include "control/settings.h"

std::map<std::string, FakeFolder> fakeFolders;

platform::ListStatus ListFakeFolder(const std::string& path, const platform::FolderIdentity&,
                                    platform::EntryVisitor visit, void* context) {
  auto found = fakeFolders.find(path);
  if (found == fakeFolders.end()) return platform::ListStatus::PathNotFound;
  // A failed listing gives the entries read before it failed, without the dots.
  if (found->second.status == platform::ListStatus::Listed) {
    for (const char* dot : {".", ".."}) visit(context, {dot, platform::kAttrDirectory, 0});
  }
  for (const FakeEntry& entry : found->second.entries) {
    visit(context, {entry.name, entry.attributes, entry.size, entry.linkCount, 1, entry.fileId});
  }
  return found->second.vanishesMidListing ? platform::ListStatus::PathNotFound : found->second.status;
}

bool ScanFake(const std::string& start, int32_t clusterSize) {
  folderLister = ListFakeFolder;
  effectiveClusterSize = clusterSize;
  scanTotals = ScanTotals{};
  root = TDirEntry{};
  root.name = start;
  scanPath = start;
  return ScanFolder(root);
}

void ResetScan() {
  FoldSubtree(root);
  root = TDirEntry{};
  fakeFolders.clear();
  allowanceFreeRoot.clear();
  folderLister = platform::ListFolder;
  options = ReportOptions{};
}

#include "fake_listing.h"

#include "settings/settings.h"

std::map<std::string, FakeFolder> fakeFolders;

namespace {

platform::FolderIdentity IdentityOf(uint64_t fileId) { return {fileId != 0 ? 1u : 0u, fileId}; }

}  // namespace

platform::ListStatus ListFakeFolder(const std::string& path, const platform::FolderIdentity& expected,
                                    platform::EntryVisitor visit, void* context) {
  auto found = fakeFolders.find(path);
  if (found == fakeFolders.end()) return platform::ListStatus::PathNotFound;
  const platform::FolderIdentity own = IdentityOf(found->second.fileId);
  if (expected != platform::FolderIdentity{} && own != platform::FolderIdentity{} && expected != own) {
    return platform::ListStatus::Changed;
  }
  // A failed listing gives the entries read before it failed, without the dots.
  if (found->second.status == platform::ListStatus::Listed) {
    visit(context, {".", platform::kAttrDirectory, 0, 1, own.volumeId, own.fileId});
    visit(context, {"..", platform::kAttrDirectory, 0});
  }
  for (const FakeEntry& entry : found->second.entries) {
    const platform::FolderIdentity identity = IdentityOf(entry.fileId);
    visit(context, {entry.name, entry.attributes, entry.size, entry.linkCount, identity.volumeId, identity.fileId,
                    entry.allocatedBytes});
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

#include "example_tree.h"

#include "platform/platform.h"
#include "scan/drive_stats.h"
#include "scan/scanner.h"
#include "settings/settings.h"

namespace {

TDirEntry* Folder(const char* name, int64_t local, int32_t files, int64_t wasted) {
  auto* folder = new TDirEntry;
  folder->name = name;
  folder->localBytes = local;
  folder->fileCount = files;
  folder->wastedBytes = wasted;
  return folder;
}

}  // namespace

TDirEntry* BuildExampleTree(const std::string& startPath) {
  constexpr int64_t kKB = 1024, kMB = 1024 * 1024;
  root = TDirEntry{};
  root.name = startPath;
  root.localBytes = 10 * kMB;
  root.fileCount = 12;
  root.wastedBytes = 40 * kKB;
  TDirEntry* docs = Folder("Docs", 5 * kMB, 100, 200 * kKB);
  TDirEntry* old = Folder("Old", 1 * kMB, 10, 20 * kKB);
  TDirEntry* music = Folder("Music", 20 * kMB, 300, 600 * kKB);
  docs->firstChild = old;
  docs->subBytes = TotalBytes(*old);
  docs->next = music;
  root.firstChild = docs;
  root.subBytes = TotalBytes(*docs) + TotalBytes(*music);
  scanTotals = {422, 860 * kKB};
  effectiveClusterSize = 4096;
  driveStats = {4096, 500107862016, 123456789012, 500107862016 - 123456789012, "DATA (NTFS)"};
  driveName.assign(1, 'C');
  return docs;
}

void RemoveExampleSubfolders() {
  const int32_t ownFiles = root.fileCount;
  const int64_t ownWaste = root.wastedBytes;
  FoldSubtree(root);
  root.fileCount = ownFiles;
  root.wastedBytes = ownWaste;
  root.subBytes = 0;
}

void ReleaseExampleTree() {
  FoldSubtree(root);
  root = TDirEntry{};
  scanTotals = ScanTotals{};
  driveStats = DriveStats{};
  driveName.clear();
  effectiveClusterSize = 1;
}

std::string Lines(std::initializer_list<std::string> texts) {
  std::string all;
  for (const std::string& text : texts) all += text + platform::kLineEnd;
  return all;
}

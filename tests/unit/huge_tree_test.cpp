// A tree of more folders than a line counter of 20 bits can number, from a
// fake listing: the comma report holds every folder line, after its header.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "console/output.h"
#include "control/settings.h"
#include "fake_listing.h"
#include "report/delimited_report.h"
#include "report/walker.h"
#include "scan/scanner.h"

namespace {

constexpr int kSubfolders = 1100000;

std::string StartPath() { return std::string("huge") + platform::kPathSeparator; }

// The start folder holds kSubfolders empty folders; every other folder is empty.
platform::ListStatus ListHugeFolder(const std::string& path, const platform::FolderIdentity&,
                                    platform::EntryVisitor visit, void* context) {
  for (const char* dot : {".", ".."}) visit(context, {dot, platform::kAttrDirectory, 0});
  if (path != StartPath()) return platform::ListStatus::Listed;
  std::string name;
  for (int i = 0; i < kSubfolders; ++i) {
    name = std::to_string(i);
    visit(context, {name, platform::kAttrDirectory, 0});
  }
  return platform::ListStatus::Listed;
}

TEST(HugeTree, EveryFolderLineFollowsTheHeader) {
  options.sortOrder = SortOrder::none;  // the listing order: no sorting time in the test
  options.pauseEachPage = false;
  effectiveClusterSize = 1;
  folderLister = ListHugeFolder;
  root = TDirEntry{};
  root.name = StartPath();
  scanPath = StartPath();
  ASSERT_TRUE(ScanFolder(root));
  reportPath = StartPath();
  std::string output;
  CaptureOutput(&output);
  WalkReport(kCommaMode);
  CaptureOutput(nullptr);
  reportPath.clear();
  ResetScan();
  const std::string lineEnd = platform::kLineEnd;
  EXPECT_EQ(output.substr(0, output.find(lineEnd)),
            "\"Total with subfolders\",\"Wasted space\",\"Without subfolders\",\"Files\",\"Folder name\"");
  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 2 + 1 + kSubfolders);
  // Each subfolder: two entries of 32 bytes.
  const std::string lastRow = "64,0,64,0,\"" + StartPath() + std::to_string(kSubfolders - 1) + "\"" + lineEnd;
  EXPECT_EQ(output.substr(output.size() - lastRow.size()), lastRow);
}

}  // namespace

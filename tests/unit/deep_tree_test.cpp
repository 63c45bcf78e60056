// A chain of 100,000 folders, each the only subfolder of the one above, from
// a fake listing: the scan, every form's walk and the release of the tree
// take no stack per level. Each form counts every line of the chain, then
// prints its deepest folders as a browser window shows them; the forms whose
// lines grow with the depth are not printed whole, which would take
// gigabytes.
#include <gtest/gtest.h>

#include <string>

#include "console/output.h"
#include "fake_listing.h"
#include "report/console_report.h"
#include "report/delimited_report.h"
#include "report/html_report.h"
#include "report/json_report.h"
#include "report/treemap_report.h"
#include "report/walker.h"
#include "scan/scanner.h"
#include "settings/settings.h"

namespace {

constexpr int kChain = 100000;
int foldersListed = 0;

// The chain is listed from the top down, one folder after the other.
platform::ListStatus ListChainFolder(const std::string&, const platform::FolderIdentity&,
                                     platform::EntryVisitor visit, void* context) {
  for (const char* dot : {".", ".."}) visit(context, {dot, platform::kAttrDirectory, 0});
  if (foldersListed++ < kChain) visit(context, {"d", platform::kAttrDirectory, 0});
  return platform::ListStatus::Listed;
}

struct Form {
  const char* name;
  const OutputOperations& mode;
};

TEST(DeepTree, EveryFormWalksAChainOf100000Folders) {
  options.pauseEachPage = false;
  options.showDriveStats = false;
  effectiveClusterSize = 1;
  folderLister = ListChainFolder;
  foldersListed = 0;
  root = TDirEntry{};
  root.name = std::string("chain") + platform::kPathSeparator;
  scanPath = root.name;
  reportPath = root.name;
  ASSERT_TRUE(ScanFolder(root));
  TDirEntry* deepest = &root;
  int folders = 1;
  for (; deepest->firstChild != nullptr; deepest = deepest->firstChild) folders += 1;
  if (platform::kMaxScanPathLength > 2 * kChain + 8) {
    // Each folder lists ".", ".." and its subfolder, of 32 bytes each; the last two.
    EXPECT_EQ(folders, kChain + 1);
    EXPECT_EQ(TotalBytes(root), 96 * kChain + 64);
  } else {
    // Windows reads as deep as its path limit lets it, two characters a
    // level; a report loaded there may still be deeper.
    EXPECT_GE(folders, platform::kMaxScanPathLength / 2 - 8);
    for (; folders <= kChain; folders += 1) deepest = deepest->firstChild = new TDirEntry{"d"};
  }
  for (const Form& form : {Form{"console", kConsoleMode}, Form{"tab", kTabMode}, Form{"comma", kCommaMode},
                           Form{"html", kHtmlMode}, Form{"json", kJsonMode}, Form{"map", kMapMode}}) {
    SCOPED_TRACE(form.name);
    walkTop = {&root, {}, {}};
    lineCursor = -1;
    const LineNumber headerLines = form.mode.header();
    const LineNumber footerLines = form.mode.footer(0);
    const LineNumber total = CountReportLines(form.mode);
    EXPECT_EQ(total, headerLines + kChain + 1 + footerLines);
    // The window of the two deepest folders' lines: the lister reaches them.
    std::string window;
    CaptureOutput(&window);
    lineCursor = headerLines + kChain - 1;
    lineBudget = 2;
    form.mode.header();
    form.mode.folders(walkTop.folder);
    form.mode.footer(total);
    CaptureOutput(nullptr);
    EXPECT_EQ(lineCursor, headerLines + kChain + 1);
  }
  reportPath.clear();
  ResetScan();
}

}  // namespace

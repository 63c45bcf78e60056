// The pictures of the tree: the share bars of -bars in the console and HTML
// forms, and the folders and files a map page of a limited number of
// rectangles shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/output.h"
#include "console/writer.h"
#include "platform/platform.h"
#include "example_tree.h"
#include "report/console_report.h"
#include "report/html_report.h"
#include "report/treemap_report.h"
#include "report/walker.h"
#include "scan/tree.h"
#include "settings/settings.h"

namespace {

class Pictures : public ::testing::Test {
 protected:
  void SetUp() override {
    options = ReportOptions{};
    options.pauseEachPage = false;
    options.showBars = true;
    screenWidth = 80;
    docs = BuildExampleTree("C:\\DATA");
  }
  void TearDown() override {
    ReleaseExampleTree();
    options = ReportOptions{};
  }

  static std::string Render(const OutputOperations& mode) {
    std::string written;
    CaptureOutput(&written);
    WalkReport(mode);
    CaptureOutput(nullptr);
    return written;
  }

  TDirEntry* docs = nullptr;
};

// Docs is 6 of the start folder's 36 MB, Old 1 of Docs' 6, Music 20 of 36:
// two, two and six tenths. The start folder and the totals have no parent.
TEST_F(Pictures, ShareBarsInTheConsoleAndHtmlForms) {
  const struct {
    const OutputOperations* mode;
    const TreeChars* chars;
    std::vector<std::string> lines;
  } kRows[] = {
      {&kConsoleMode, &kPlainChars,
       {"Total + subs    Wstd   Files  Share         Folder name   [Without subfolders]",
        "--------------  ----  ------  ------------  -----------------------------------",
        "       36.0 MB    0%      12                C:\\DATA   [10.0 MB]",
        "        6.0 MB    4%     100  [##        ]  |--Docs   [5.0 MB]",
        "        1.0 MB    2%      10  [##        ]  |  +--Old  ",
        "       20.0 MB    3%     300  [######    ]  +--Music  ",
        "       36.0 MB    2%     422                Cluster size: 4 KB  Wastage: 860 KB"}},
      {&kConsoleMode, &kGraphicsChars,
       {"        1.0 MB    2%      10  [\u2588\u2588        ]  \u2502  \u2514\u2500\u2500Old  "}},
      {&kHtmlMode, &kPlainChars,
       {"    <th>Share</th>",
        "<tr><td>36.0 MB</td><td>  0%</td><td>12</td><td class=\"bar\"></td><td class=\"l\">  C:\\DATA   [10.0 MB]</td></tr>",
        "<tr><td>6.0 MB</td><td>  4%</td><td>100</td><td class=\"bar\" title=\"17%\"><span style=\"width:17%\"></span></td>"
        "<td class=\"l\">  |--Docs   [5.0 MB]</td></tr>",
        "<tr><td>20.0 MB</td><td>  3%</td><td>300</td><td class=\"bar\" title=\"56%\"><span style=\"width:56%\"></span></td>"
        "<td class=\"l\">  +--Music</td></tr>",
        "<td class=\"totals\">422</td><td class=\"totals\"></td>"}},
  };
  for (const auto& row : kRows) {
    options.treeChars = *row.chars;
    const std::string report = Render(*row.mode);
    for (const std::string& line : row.lines) EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
  }
}

// Folders and files take rectangles largest first. A chosen folder takes
// one for its subfolders not chosen and one for its own files not chosen:
// the start folder three (it is on every page), Music two; Docs closes the
// start folder's other subfolders, Old Docs'. A file below a folder that the
// tree folded away (Old/Gone) is drawn in Old, here of one file, whose rest
// it closes.
TEST_F(Pictures, MapChoosesTheLargestFoldersAndFilesWithinItsRectangles) {
  const TDirEntry* music = docs->next;
  TDirEntry* old = docs->firstChild;
  old->fileCount = 1;
  const std::string sep(1, platform::kPathSeparator);
  const std::vector<ListedFile> listed = {{"Music" + sep + "a.flac", 12 << 20, 0, 0},
                                          {"x.iso", 9 << 20, 0, 0},
                                          {"Music" + sep + "b.flac", 8 << 20, 0, 0},
                                          {"Docs" + sep + "Old" + sep + "Gone" + sep + "c.txt", 512 << 10, 0, 0}};
  const FilesByFolder files = FilesOfFolders(root, listed);
  const struct {
    size_t rectangles;
    std::vector<const TDirEntry*> folders;
    std::vector<std::string> files;  // of the chosen folders in their order
  } kRows[] = {
      {1, {&root}, {}},
      {5, {&root, music}, {}},
      {6, {&root, music}, {"Music" + sep + "a.flac"}},
      {8, {&root, music}, {"x.iso", "Music" + sep + "a.flac", "Music" + sep + "b.flac"}},
      {10, {&root, music, docs}, {"x.iso", "Music" + sep + "a.flac", "Music" + sep + "b.flac"}},
      {11, {&root, music, docs, old},
       {"x.iso", "Music" + sep + "a.flac", "Music" + sep + "b.flac", listed[3].path}},
  };
  for (const auto& row : kRows) {
    const MapChoice choice = ChooseMapItems(root, files, row.rectangles);
    EXPECT_EQ(choice.folders, row.folders) << row.rectangles;
    std::vector<std::string> chosenFiles;
    for (const auto& ofFolder : choice.files) {
      for (const ListedFile* file : ofFolder) chosenFiles.push_back(file->path);
    }
    EXPECT_EQ(chosenFiles, row.files) << row.rectangles;
  }
}

}  // namespace

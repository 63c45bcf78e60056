// The growth column of -compare= in the console report, shown and hidden by
// the browser's G key.
#include "report/growth.h"
#include "saved/comparison.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "browse/browser.h"
#include "console/output.h"
#include "console/writer.h"
#include "example_tree.h"
#include "report/console_report.h"
#include "settings/settings.h"

namespace {

std::string output;
std::vector<platform::KeyPress> keys;
size_t keysRead = 0;

platform::KeyPress ScriptedKey() {
  if (keysRead == keys.size()) return {0, 0, false};
  return keys[keysRead++];
}

void RecordClear() { output += "<cleared>"; }

// The earlier report: the start folder empty but for Music, of the size it
// has now.
constexpr const char* kEarlierReport =
    R"({"program":"tallyfold","created":"2026-11-07T10:00:00+01:00","path":"C:\\DATA","clusterSize":4096,)"
    R"("dirMode":false,"includeOffline":true,"root":{"name":"C:\\DATA","total":20971520,)"
    R"("children":[{"name":"MUSIC","total":20971520},{"name":"Gone","total":1536}]}})";

std::vector<std::string> ScreensOf(const std::string& text) {
  std::vector<std::string> screens;
  size_t from = 0;
  for (size_t at; (at = text.find("<cleared>", from)) != std::string::npos; from = at + 9) {
    screens.push_back(text.substr(from, at - from));
  }
  screens.push_back(text.substr(from));
  return screens;
}

TEST(GrowthColumn, ShowsEachFoldersGrowthAndTheBrowsersGKeyHidesIt) {
  BuildExampleTree("C:\\DATA");
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "tallyfold-growth-test.json";
  std::ofstream(file) << kEarlierReport;
  std::string refusal;
  ASSERT_TRUE(LoadComparison(file.string(), "C:\\DATA", refusal)) << refusal;
  std::filesystem::remove(file);
  CompareWithTree();
  options.treeChars = kPlainChars;
  options.pauseEachPage = true;
  pageLength = 40;
  auto* const savedKeys = keySource;
  auto* const savedClearer = screenClearer;
  keySource = ScriptedKey;
  screenClearer = RecordClear;
  keys = {{'g', 0, true}, {'G', 0, true}};
  CaptureOutput(&output);
  ShowReport(kConsoleMode);
  CaptureOutput(nullptr);
  const std::vector<std::string> screens = ScreensOf(output);
  ASSERT_EQ(screens.size(), 3u);
  const std::string titles = "Total + subs    Wstd   Files          Growth  Folder name   [Without subfolders]";
  // Case matters on Linux only: there MUSIC was another folder, now gone.
  const bool ignoringCase = platform::kPathStyle == platform::PathStyle::Windows;
  for (const std::string& expected :
       {titles, std::string("       36.0 MB    0%      12        +16.0 MB  C:\\DATA   [10.0 MB]"),
        std::string("        6.0 MB    4%     100             new  |--Docs   [5.0 MB]"),
        std::string("        1.0 MB    2%      10             new  |  +--Old  "),
        std::string("       20.0 MB    3%     300  ") + (ignoringCase ? "       0 bytes" : "           new") +
            "  +--Music  ",
        std::string("Growth since the report of 2026-11-07T10:00:00+01:00; gone since then: ") +
            (ignoringCase ? "1 folder, 2 KB" : "2 folders, 20.0 MB")}) {
    EXPECT_NE(screens[0].find(expected), std::string::npos) << expected;
  }
  EXPECT_EQ(screens[1].find("Growth  Folder name"), std::string::npos);
  EXPECT_NE(screens[1].find("Files  Folder name"), std::string::npos);
  EXPECT_NE(screens[2].find(titles), std::string::npos);
  keySource = savedKeys;
  screenClearer = savedClearer;
  ReleaseComparison();
  ReleaseExampleTree();
  options = ReportOptions{};
}

}  // namespace

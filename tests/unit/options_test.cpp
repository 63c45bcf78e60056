#include "control/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "console/output.h"
#include "control/launch.h"
#include "platform/platform.h"
#include "scan/exclusions.h"
#include "settings/settings.h"

namespace {

// Applies `words` one by one to fresh settings and returns what they wrote.
std::string Apply(const std::vector<std::string>& words) {
  options = ReportOptions{};
  options.pauseEachPage = false;
  std::string written;
  CaptureOutput(&written);
  for (const std::string& word : words) ParseOption(word);
  CaptureOutput(nullptr);
  return written;
}

std::string Lines(std::initializer_list<const char*> texts) {
  std::string all;
  for (const char* text : texts) all += std::string(text) + platform::kLineEnd;
  return all;
}

class Options : public ::testing::Test {
 protected:
  void TearDown() override { options = ReportOptions{}; }
};

TEST_F(Options, DefaultsWithoutAnyWord) {
  Apply({});
  EXPECT_EQ(options.startFolder, ".");
  EXPECT_EQ(options.maxDepth, kAllLevels);
  EXPECT_EQ(options.sortOrder, SortOrder::name);
  EXPECT_EQ(options.outputMode, OutputMode::console);
  EXPECT_TRUE(options.showWaste && options.wasteAsPercent && options.showFileCounts && options.showOwnSize &&
              options.showTotals && options.showDriveStats && options.showHeader && options.includeOffline);
  EXPECT_FALSE(options.dirMode || options.longestPaths);
}

TEST_F(Options, SwitchesSetTheirFields) {
  EXPECT_EQ(Apply({"-nowaste", "-NOFILES", "-nosubs", "-nototals", "-nooffline", "-nostatsXYZ", "-noheaders",
                   "-longest", "-asval", "-Utf8"}),
            "");
  EXPECT_FALSE(options.showWaste || options.showFileCounts || options.showOwnSize || options.showTotals ||
               options.includeOffline || options.showDriveStats || options.showHeader || options.wasteAsPercent);
  EXPECT_TRUE(options.longestPaths && options.utf8);
  EXPECT_EQ(options.startFolder, ".");
}

TEST_F(Options, LastWordWinsAcrossRepeatedSettings) {
  Apply({"-tab", "-html", "-c+", "-c-", "-sort=waste", "-sort=none", "C:\\One", "two"});
  EXPECT_EQ(options.outputMode, OutputMode::html);
  EXPECT_EQ(options.treeChars, kPlainChars);
  EXPECT_EQ(options.sortOrder, SortOrder::none);
  EXPECT_EQ(options.startFolder, "two");
}

TEST_F(Options, JsonCompareAndGrowthWords) {
  EXPECT_EQ(Apply({"-JSON", "-sort=Growth", "-compare=My Old.json"}), "");
  EXPECT_EQ(options.outputMode, OutputMode::json);
  EXPECT_EQ(options.sortOrder, SortOrder::growth);
  EXPECT_EQ(options.compareFile, "My Old.json");  // the path as typed, not upper-cased
  Apply({"-Compare:last.json"});
  EXPECT_EQ(options.compareFile, "last.json");
  EXPECT_EQ(options.startFolder, ".");
}

TEST_F(Options, DirHidesWastageForGood) {
  Apply({"-dir", "-asper"});
  EXPECT_TRUE(options.dirMode);
  EXPECT_FALSE(options.showWaste);
}

TEST_F(Options, UnknownSortKeywordKeepsTheOrderAndSaysSo) {
  EXPECT_EQ(Apply({"-sort=Size"}), Lines({"Invalid sorting method specified - SIZE",
                                          "(Valid methods are: name,local,total,waste,files,none,growth,age)"}));
  EXPECT_EQ(options.sortOrder, SortOrder::name);
  Apply({"-sort=files"});
  EXPECT_EQ(options.sortOrder, SortOrder::files);
}

TEST_F(Options, UnknownWordsBecomeTheStartFolderAsTyped) {
  for (const char* word : {"-xyz", "-", "/tab", "-sort:name", "-tabs", "-5x", "-?", "My Files"}) {
    Apply({word});
    EXPECT_EQ(options.startFolder, word);
    EXPECT_EQ(options.outputMode, OutputMode::console);
  }
}

TEST_F(Options, SizeAndClusterValues) {
  // A value that does not convert, or does not fit, is 0 and named in a warning.
  const struct {
    const char* word;
    int64_t minFolderBytes;
    bool converts;
  } sizes[] = {{"-SIZE=2m", 2097152, true}, {"-size=2M", 2097152, true}, {"-size=1.5M", 2097152, true},
               {"-size=2.5K", 2048, true},  {"-size:3", 3, true},        {"-size=-5K", 5120, true},
               {"-size=12X", 0, false},     {"-size=abc", 0, false},     {"-size=", 0, false},
               {"-size=1,5M", 0, false},    {"-size=0.5", 0, true},      {"-size=1.5", 2, true},
               {"-size=1E3", 1000, true},   {"-size=99999999999G", 0, false},
               {"-size=9999999999999999999999", 0, false}};
  for (const auto& c : sizes) {
    const std::string warning = "Invalid size specified - " + std::string(c.word) + " (no size limit)";
    EXPECT_EQ(Apply({c.word}), c.converts ? "" : Lines({warning.c_str()})) << c.word;
    EXPECT_EQ(options.minFolderBytes, c.minFolderBytes) << c.word;
  }
}

TEST_F(Options, ClusterSizeAboveSixtyFourKIsCapped) {
  const struct {
    const char* word;
    int32_t cluster;
    const char* message;
  } cases[] = {{"-cl=65536", 65536, ""},
               {"-cl=64K", 65536, ""},
               {"-cl:4096", 4096, ""},
               {"-cl=0", 0, ""},
               {"-cl:x", 0, "Invalid cluster size specified - -cl:x (the drive's cluster size is used)"},
               {"-cl=65537", 65536, "Invalid cluster size > 64K ignored."},
               {"-cl=128K", 65536, "Invalid cluster size > 64K ignored."}};
  for (const auto& c : cases) {
    std::string written = Apply({c.word});
    EXPECT_EQ(options.requestedClusterSize, c.cluster) << c.word;
    EXPECT_EQ(written, *c.message ? Lines({c.message}) : "") << c.word;
  }
}

TEST_F(Options, DepthWords) {
  const struct {
    const char* word;
    int depth;
  } cases[] = {{"-3", 3},           {"-0", 255},           {"-255", 255},   {"-256", kAllLevels},
               {"-300", kAllLevels}, {"--1", kAllLevels},   {"-$10", 16},    {"-0x1F", 31},
               {"- 7", 7}};
  for (const auto& c : cases) {
    Apply({c.word});
    EXPECT_EQ(options.maxDepth, c.depth) << c.word;
    EXPECT_EQ(options.startFolder, ".") << c.word;
  }
}

TEST_F(Options, TwoDashesTakeEveryOptionAndNameNoFolder) {
  unknownLongOptions.clear();
  EXPECT_EQ(Apply({"--sort=total", "--JSON", "--exclude=node_modules", "--threads=4", "--max-depth=3", "--top=7"}),
            "");
  EXPECT_EQ(options.sortOrder, SortOrder::total);
  EXPECT_EQ(options.outputMode, OutputMode::json);
  EXPECT_EQ(options.scanThreads, 4);
  EXPECT_EQ(options.maxDepth, 3);
  EXPECT_EQ(options.topFiles, 7);
  EXPECT_EQ(exclusions.givenPatterns, std::vector<std::string>{"node_modules"});
  exclusions = Exclusions{};
  Apply({"--sort", "--nostats", "--max-depth=x", "--", "-x"});
  EXPECT_EQ(unknownLongOptions, (std::vector<std::string>{"--sort", "--max-depth=x", "--"}));
  EXPECT_FALSE(options.showDriveStats);
  EXPECT_EQ(options.startFolder, "-x");
  unknownLongOptions.clear();
}

TEST_F(Options, SortByAgeTurnsTheAgesOn) {
  Apply({"-sort=age"});
  EXPECT_TRUE(options.noteAges);
  Apply({"-sort=total"});
  EXPECT_FALSE(options.noteAges);
}

// A new option without its line in the help fails here.
TEST(OptionHelp, EveryOptionOfTheTableHasAHelpLine) {
  const std::vector<std::string> help = HelpLines();
  for (std::string_view upper : OptionTableWords()) {
    std::string word(upper);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool takesValue = word.back() == '=';
    const bool hasLine = std::any_of(help.begin(), help.end(), [&](const std::string& line) {
      if (line.rfind("  " + word, 0) != 0) return false;
      return takesValue || line.size() == word.size() + 2 || line[word.size() + 2] == ' ';
    });
    EXPECT_TRUE(hasLine) << word;
  }
}

TEST(SplitParameterString, BlanksSeparateAndQuotesGroup) {
  const struct {
    const char* text;
    const char* startFolder;
    int64_t minFolderBytes;
  } cases[] = {
      {"-size:2M \"C:\\My Files\"", "C:\\My Files", 2097152},
      {"a\"b c\"d", "ab cd", 0},
      {"-size:1K \"never closed -size:2K", "never closed -size:2K", 1024},
      {"-nofiles\t-tab", "-nofiles\t-tab", 0},
      {"   ", ".", 0},
  };
  for (const auto& c : cases) {
    options = ReportOptions{};
    SplitParameterString(c.text);
    EXPECT_EQ(options.startFolder, c.startFolder) << c.text;
    EXPECT_EQ(options.minFolderBytes, c.minFolderBytes) << c.text;
  }
  options = ReportOptions{};
}

TEST(SplitParameterString, SplitsAStringLongerThan255Characters) {
  options = ReportOptions{};
  std::string text(300, ' ');
  text += "-nofiles -tab";
  SplitParameterString(text);
  EXPECT_FALSE(options.showFileCounts);
  EXPECT_EQ(options.outputMode, OutputMode::tab);
  options = ReportOptions{};
}

TEST(SplitCommandLine, CutsArgumentsTheWindowsWay) {
  const struct {
    const char* text;
    std::vector<std::string> arguments;
  } cases[] = {
      {"tallyfold.exe -2 C:\\Data", {"tallyfold.exe", "-2", "C:\\Data"}},
      {"\"C:\\Program Files\\tf.exe\" \"C:\\My Files\" -p", {"C:\\Program Files\\tf.exe", "C:\\My Files", "-p"}},
      {"tf \"\" -p", {"tf", "-p"}},
      {"tf a\"b c\"d", {"tf", "ab cd"}},
      {"tf\t-tab   ", {"tf", "-tab"}},
      {"tf \"open to the end", {"tf", "open to the end"}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::SplitCommandLine(c.text), c.arguments) << c.text;
}

TEST(ParseSizeValue, RoundsBeforeMultiplying) {
  EXPECT_EQ(ParseSizeValue("1.5M"), 2097152);
  EXPECT_EQ(ParseSizeValue("0.5K"), 0);
  EXPECT_EQ(ParseSizeValue("3.5"), 4);
  EXPECT_EQ(ParseSizeValue("  7"), 7);
  EXPECT_EQ(ParseSizeValue("8G"), 8LL * 1024 * 1024 * 1024);
}

}  // namespace

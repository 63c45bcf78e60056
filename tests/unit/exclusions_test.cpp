#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/platform.h"
#include "scan/exclusions.h"

namespace {

TEST(Wildcards, MatchWithinOneNameOnly) {
  const std::string sep(1, platform::kPathSeparator);
  const struct {
    std::string pattern, text;
    bool matches;
  } kCases[] = {
      {"node_modules", "node_modules", true},
      {"node_modules", "node_modules2", false},
      {"*", "", true},
      {"tmp?", "tmp1", true},
      {"tmp?", "tmp", false},
      {"a*b*c", "aXbYbZc", true},      // the first star gives up what the second needs
      {"*.old", "build.old.old", true},
      {"*x", "abc", false},
      {"src" + sep + "*", "src" + sep + "old", true},
      {"*", "src" + sep + "old", false},  // a star stops at a separator
      {"src?old", "src" + sep + "old", false},
      {"*" + sep + "old", "a" + sep + "b" + sep + "old", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(MatchesWildcards(c.pattern, c.text), c.matches) << c.pattern << " ~ " << c.text;
  }
}

// A path of the running system's spelling: "/" becomes its separator, and
// on Windows a full path begins with a drive.
std::string P(std::string text) {
  std::replace(text.begin(), text.end(), '/', platform::kPathSeparator);
  const bool full = !text.empty() && text[0] == platform::kPathSeparator;
  return full && platform::kPathStyle == platform::PathStyle::Windows ? "C:" + text : text;
}

// A path of `names` names "d", each followed by a separator.
std::string DeepFolder(int names) {
  std::string folder;
  for (int i = 0; i < names; ++i) folder += "d/";
  return folder;
}

TEST(Exclusions, PatternsInTheMannerOfGitignore) {
  const std::string start = P("/data/start/");
  const std::string outside = platform::kPathStyle == platform::PathStyle::Windows ? "D:/etc" : "/etc";
  const struct {
    std::string pattern, folder, name;  // the subfolder `name` of `folder` below the start folder
    bool excluded;
  } kCases[] = {
      {"build", "a/", "build", true},
      {"/build", "", "build", true},
      {"/build", "a/", "build", false},
      {"a/build", "a/", "build", true},
      {"build/", "a/b/", "build", true},  // a trailing separator only says "a folder"
      {"**/cache", "x/y/", "cache", true},
      {"**/cache", "", "cache", true},
      {"src/**/gen", "src/", "gen", true},
      {"src/**/gen", "src/a/b/", "gen", true},
      {"src/**/gen", "x/src/", "gen", false},
      {"src/**/gen", "src/" + DeepFolder(1000000), "gen", true},  // "**" of any depth
      {"src/**", "src/a/", "b", true},
      {"src/**", "", "src", false},
      {"caf?", "", "caf\xC3\xA9", true},  // one character of two bytes
      {"caf??", "", "caf\xC3\xA9", false},
      {"*\xC3\xA9", "", "caf\xC3\xA9", true},
      {P("/data/start/src/old"), "src/", "old", true},
      {P("/data/start/src/old/"), "x/src/", "old", false},
      {outside, "", "etc", false},
  };
  for (const auto& c : kCases) {
    exclusions = Exclusions{};
    ASSERT_TRUE(AddExclusion(c.pattern, "-exclude=" + c.pattern));
    AnchorExclusions(start);
    EXPECT_EQ(IsExcluded(start + P(c.folder), c.name), c.excluded) << c.pattern << " ~ " << c.folder << c.name;
  }
  exclusions = Exclusions{};
}

}  // namespace

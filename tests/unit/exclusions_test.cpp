#include <gtest/gtest.h>

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

}  // namespace

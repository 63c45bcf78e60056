#include "console/format.h"
#include "report/walker.h"

#include <gtest/gtest.h>

#include <vector>

TEST(FormatSize, PicksTheUnitByPowersOfTwo) {
  const struct {
    int64_t bytes;
    const char* text;
  } cases[] = {
      {-5, "0 bytes"},
      {0, "0 bytes"},
      {1023, "1,023 bytes"},
      {1024, "1 KB"},
      {1536, "2 KB"},
      {1048575, "1,024 KB"},
      {1048576, "1.0 MB"},
      {1073741823, "1,024.0 MB"},
      {5368709120, "5.0 GB"},
      {500107862016, "465.8 GB"},
      {3LL * 1024 * 1024 * 1024 * 1024, "3,072.0 GB"},
      {INT64_MAX, "8,589,934,592.0 GB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;
}

TEST(FormatPercent, RoundsHalvesToEvenAndCapsAtOneHundred) {
  const struct {
    int64_t part, whole;
    const char* text;
  } cases[] = {
      {5, 0, "0%"},      {0, 10, "  0%"},    {1, 8, " 12%"},  {3, 8, " 38%"},
      {1, 200, "  0%"},  {3, 200, "  2%"},   {99, 100, " 99%"}, {100, 100, "100%"},
      {300, 100, "100%"}, {123456789012, 500107862016, " 25%"},
      {INT64_MAX / 2, INT64_MAX, " 50%"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatPercent(c.part, c.whole), c.text) << c.part << "/" << c.whole;
}

TEST(FormatCount, GroupsThousandsAndKeepsEveryDigit) {
  const struct {
    int64_t value;
    const char* text;
  } cases[] = {
      {0, "0"},         {999, "999"},  {1000, "1,000"}, {-1234, "-1,234"},
      {2147483647, "2,147,483,647"}, {INT64_MAX, "9,223,372,036,854,775,807"},
      {INT64_MIN, "-9,223,372,036,854,775,808"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatCount(c.value), c.text) << c.value;
}

TEST(FormatPlainNumber, WritesDigitsOnly) {
  EXPECT_EQ(FormatPlainNumber(0), "0");
  EXPECT_EQ(FormatPlainNumber(1234567), "1234567");
  EXPECT_EQ(FormatPlainNumber(-42), "-42");
  EXPECT_EQ(FormatPlainNumber(INT64_MAX), "9223372036854775807");
}

TEST(FormatSize, UsesTheLocalesSeparator) {
  thousandsSeparator = '.';
  EXPECT_EQ(FormatSize(1073741823), "1.024.0 MB");
  thousandsSeparator = ',';
}

TEST(FolderWastageShare, CountsTheFoldedBytesAndHoldsAtTheLimit) {
  constexpr int64_t kMax = INT64_MAX;
  const struct {
    int64_t localBytes, subBytes, wastedBytes;
    std::vector<int64_t> shownChildren;
    const char* share;
  } cases[] = {
      {1000, 500, 100, {500}, " 10%"},
      // 2,000 bytes folded in: the share is of 3,000.
      {1000, 3000, 300, {1000}, " 10%"},
      // Two children at the limit outweigh the held subBytes: nothing folded is known.
      {4096, kMax - 4096, 3972, {kMax, kMax}, " 97%"},
      {kMax, 0, kMax / 2, {}, " 50%"},
  };
  for (const auto& c : cases) {
    std::vector<TDirEntry> children(c.shownChildren.size());
    TDirEntry folder;
    folder.localBytes = c.localBytes;
    folder.subBytes = c.subBytes;
    folder.wastedBytes = c.wastedBytes;
    for (size_t i = 0; i < children.size(); ++i) {
      children[i].localBytes = c.shownChildren[i];
      children[i].next = i + 1 < children.size() ? &children[i + 1] : nullptr;
    }
    folder.firstChild = children.empty() ? nullptr : &children[0];
    EXPECT_EQ(FormatPercent(folder.wastedBytes, WastageBaseBytes(folder)), c.share) << c.localBytes;
  }
}

// Inputs the fuzz targets found to break the program, kept as tests of the
// fixes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include "control/options.h"
#include "fake_listing.h"
#include "scan/scanner.h"
#include "settings/settings.h"

namespace {

constexpr int64_t kMaxBytes = std::numeric_limits<int64_t>::max();

std::string P(std::string text) {
  std::replace(text.begin(), text.end(), '/', platform::kPathSeparator);
  return text;
}

// -2^33 G is exactly -2^63: its absolute value does not fit in 64 bits, so
// it is a value that does not convert, not a negative size.
TEST(SizeValueRegression, AProductOfExactlyMinus2To63CountsAsNotConverting) {
  const struct {
    const char* text;
    int64_t expected;
  } cases[] = {
      {"-8589934592G", 0},
      {"-8796093022208M", 0},
      {"-9007199254740992K", 0},
      {"-4294967296G", 4611686018427387904},  // -2^62 still fits
      {"8589934592G", 0},
  };
  for (const auto& row : cases) EXPECT_EQ(ParseSizeValue(row.text), row.expected) << row.text;
}

class GiantFiles : public ::testing::Test {
 protected:
  void TearDown() override { ResetScan(); }
};

// A sparse file may claim 2^63 - 1 bytes (tmpfs allows it). Figures that
// would pass the 64-bit limit stay at the limit instead of wrapping to a
// negative total, which the size threshold would then fold away.
TEST_F(GiantFiles, FiguresStopAtThe64BitLimitInsteadOfWrapping) {
  fakeFolders[P("/r/")] = {platform::ListStatus::Listed, {Dir("a"), Dir("b"), File("small", 100)}};
  fakeFolders[P("/r/a/")] = {platform::ListStatus::Listed, {File("giant", kMaxBytes), File("more", 5000)}};
  fakeFolders[P("/r/b/")] = {platform::ListStatus::Listed, {File("giant", kMaxBytes - 1000)}};
  for (int32_t cluster : {1, 4096}) {
    ASSERT_TRUE(ScanFake(P("/r"), cluster)) << cluster;
    ASSERT_NE(root.firstChild, nullptr);
    ASSERT_NE(root.firstChild->next, nullptr);
    const TDirEntry& a = *root.firstChild;
    const TDirEntry& b = *root.firstChild->next;
    EXPECT_EQ(TotalBytes(a), kMaxBytes) << cluster;
    // Its three entries' allowance still fits beside it on 1-byte clusters.
    EXPECT_EQ(TotalBytes(b), cluster == 1 ? kMaxBytes - 1000 + 3 * 32 : kMaxBytes) << cluster;
    EXPECT_EQ(TotalBytes(root), kMaxBytes) << cluster;
    EXPECT_EQ(scanTotals.totalFiles, 4);
    EXPECT_GE(scanTotals.totalWasted, 0);
    FoldSubtree(root);
  }
}

}  // namespace

#include "report/share_bar.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "console/text.h"
#include "report/walker.h"
#include "settings/settings.h"

namespace {

// The folder each depth of the current line's ancestry descended into.
std::vector<const TDirEntry*> descendedAt;

// The console prefix starts empty and the HTML one with two blanks; both
// add three characters per level, so the depth below the top is the same
// for either.
size_t LineDepth() { return CharCount(treePrefix) / 3; }

constexpr int32_t kCells = 10;

}  // namespace

void NoteDescent(const TDirEntry& folder) {
  // Every pass lists from the top, so a pass after the B key notes afresh.
  if (!options.showBars) return;
  const size_t depth = LineDepth();
  descendedAt.resize(depth + 1);
  descendedAt[depth] = &folder;
}

int64_t ParentTotalOfLine(const TDirEntry& folder) {
  if (IsWalkTop(folder)) return -1;
  const size_t depth = LineDepth();
  if (depth == 0) return TotalBytes(*walkTop.folder);
  return depth <= descendedAt.size() ? TotalBytes(*descendedAt[depth - 1]) : -1;
}

int64_t SharePercent(int64_t part, int64_t whole) {
  if (whole <= 0) return 0;
  return std::clamp<int64_t>(std::llround(100.0 * static_cast<double>(part) / static_cast<double>(whole)), 0, 100);
}

std::string ShareBarText(int64_t part, int64_t whole) {
  const int64_t filled =
      whole <= 0 ? 0
                 : std::clamp<int64_t>(std::llround(kCells * static_cast<double>(part) / static_cast<double>(whole)),
                                       0, kCells);
  const std::string_view cell = options.treeChars == kGraphicsChars ? "\u2588" : "#";
  std::string bar = "[";
  for (int64_t i = 0; i < kCells; ++i) bar += i < filled ? cell : " ";
  bar += "]";
  return bar;
}

#include "browse/navigation_bar.h"

#include <vector>

#include "console/format.h"
#include "console/text.h"
#include "report/console_report.h"
#include "report/report_origin.h"
#include "settings/settings.h"

namespace {

// A folder line keeps room for its connector and a name cut to this many
// characters before a column is left out.
constexpr int32_t kShortestLineName = 3 + 12;

constexpr std::string_view kKeysItem = "?:keys";

bool FitsWidth(size_t width) { return static_cast<size_t>(FigureColumnsWidth() + kShortestLineName) <= width; }

std::string DroppedText(const ColumnsDropped& dropped) {
  if (dropped.bars && dropped.ages) return "Too narrow for bars and ages";
  if (dropped.bars) return "Too narrow for bars";
  return dropped.ages ? "Too narrow for ages" : "";
}

std::vector<std::string> BarItems(const BarFacts& facts) {
  const bool onDisk = !ReportLoaded();
  std::vector<std::string> items;
  if (const std::string dropped = DroppedText(facts.dropped); !dropped.empty()) items.push_back(dropped);
  items.push_back("Enter:open");
  if (facts.opened) items.push_back("Left:up");
  items.push_back("Space:mark");
  if (onDisk) items.push_back(facts.marks > 0 ? "X:delete " + FormatCount(static_cast<int64_t>(facts.marks)) + " marked"
                                              : "X:delete");
  items.push_back("/:search");
  items.push_back(facts.wholeSubtree ? "V:one level" : "V:whole subtree");
  items.push_back(std::string("O:order=") + facts.order);
  if (options.noteAges) items.push_back("M:ages");
  items.push_back("B:bars");
  if (onDisk) {
    items.push_back("R:read again");
    items.push_back("L:largest files");
    items.push_back("E:open outside");
  }
  items.push_back(facts.marks > 0 ? "Esc:drop marks" : "N/Esc:leave");
  return items;
}

}  // namespace

ColumnsDropped DropColumnsForWidth(size_t width) {
  ColumnsDropped dropped;
  if (options.showBars && !FitsWidth(width)) {
    options.showBars = false;
    dropped.bars = true;
  }
  if (AgeColumnShown() && !FitsWidth(width)) {
    options.showAge = false;
    dropped.ages = true;
  }
  return dropped;
}

void RestoreColumns(const ColumnsDropped& dropped) {
  if (dropped.bars) options.showBars = true;
  if (dropped.ages) options.showAge = true;
}

std::string NavigationBar(const BarFacts& facts, size_t width) {
  std::string bar;
  for (const std::string& item : BarItems(facts)) {
    if (CharCount(bar) + CharCount(item) + 1 + kKeysItem.size() > width) break;
    bar += item + " ";
  }
  return bar + std::string(kKeysItem);
}

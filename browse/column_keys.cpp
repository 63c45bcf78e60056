#include "browse/column_keys.h"

#include "settings/settings.h"

namespace {

// The keys that flip one column setting and redraw.
struct ColumnToggle {
  char key;
  bool ReportOptions::*setting;
};
constexpr ColumnToggle kColumnToggles[] = {
    {'F', &ReportOptions::showFileCounts}, {'D', &ReportOptions::wasteAsPercent},
    {'S', &ReportOptions::showOwnSize},    {'T', &ReportOptions::showTotals},
    {'W', &ReportOptions::showWaste},    {'G', &ReportOptions::showGrowth},
    {'B', &ReportOptions::showBars},    {'M', &ReportOptions::showAge},
};

void FlipTreeChars() {
  options.treeChars = options.treeChars == kGraphicsChars ? kPlainChars : kGraphicsChars;
}

}  // namespace

bool FlipColumnSetting(uint8_t key) {
  if (key == 'A') {
    FlipTreeChars();
    return true;
  }
  for (const ColumnToggle& toggle : kColumnToggles) {
    if (key == toggle.key) {
      options.*toggle.setting = !(options.*toggle.setting);
      return true;
    }
  }
  return false;
}

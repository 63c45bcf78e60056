#include "browse/browser.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "browse/column_keys.h"
#include "browse/key_help.h"
#include "browse/navigator.h"
#include "report/files_report.h"
#include "settings/settings.h"

namespace {

// The first three characters are replaced by the percentage.
constexpr std::string_view kStatusTemplate =
    "@@@% Up,Down,PgUp,PgDn,Home,End W)aste:D)isplay F)iles S)ub T)otals A)scii Esc";

constexpr uint8_t kCtrlC = 3, kCtrlL = 12, kEsc = 27;

// A print pass is due before the next status bar.
bool redrawPending = false;

// What the browser does once a key has been acted on.
enum class NextStep { loop, resetBudget, leave };

// At least one line per window, so that paging always moves on even on a
// terminal of two or three rows.
int32_t WindowLines(int32_t lines) { return std::max(lines, 1); }

void ClampCursor(LineNumber totalLines) { lineCursor = std::clamp<LineNumber>(lineCursor, 0, totalLines); }

void PrintWindow(const OutputOperations& mode, LineNumber totalLines) {
  const LineNumber startCursor = lineCursor;
  const LineNumber startBudget = lineBudget;
  mode.header();
  mode.folders(walkTop.folder);
  mode.footer(totalLines);
  // The footer prints without moving lineCursor, so the line after the
  // window comes from the budget spent.
  lineCursor = startCursor + (startBudget - lineBudget);
  ClampCursor(totalLines);
  redrawPending = false;
}

void ShowStatusBar(LineNumber totalLines) {
  const LineNumber percent = lineCursor * 100 / totalLines;
  std::string bar(kStatusTemplate);
  bar.replace(0, 3, PadLeft(std::to_string(percent), 3));
  WriteOut(bar);
  FlushOut();
}

// Clears the screen and redraws the window of P lines that ends where
// lineCursor points.
void RefreshWindow() {
  ClearScreen();
  lineCursor -= pageLength;
  lineBudget = WindowLines(pageLength);
  redrawPending = true;
}

void ResetBudget() { lineBudget = WindowLines(lineCursor == 0 ? pageLength : pageLength - 1); }

// Keys without a character; `shownEnd` is the line after the last one on
// screen.
NextStep ActOnScanCode(uint8_t scanCode, LineNumber shownEnd, LineNumber totalLines) {
  const bool aboveFirstWindow = shownEnd > pageLength;
  switch (scanCode) {
    case kScanHome:
      if (aboveFirstWindow) {
        ClearScreen();
        redrawPending = true;
        lineCursor = 0;
      }
      return NextStep::resetBudget;
    case kScanF1:
      if (helpFileOpener()) return NextStep::resetBudget;
      ShowKeyHelp(KeysOf::browser);
      RefreshWindow();
      return NextStep::loop;
    case kScanEnd:
      lineCursor = totalLines;
      RefreshWindow();
      return NextStep::loop;
    case kScanDown:
      lineBudget = 1;
      redrawPending = true;
      return NextStep::loop;
    case kScanUp:
    case kScanPageUp:
      if (!aboveFirstWindow) return NextStep::resetBudget;
      lineCursor = scanCode == kScanUp ? shownEnd - 1 : shownEnd - (pageLength - 1);
      RefreshWindow();
      return NextStep::loop;
    case kScanPageDown:
      if (shownEnd >= totalLines) return NextStep::leave;
      redrawPending = true;
      return NextStep::resetBudget;
    default:
      return NextStep::resetBudget;
  }
}

NextStep ActOnCharacter(uint8_t character, LineNumber shownEnd, LineNumber totalLines) {
  if (FlipColumnSetting(character)) {
    RefreshWindow();
    return NextStep::loop;
  }
  switch (character) {
    case kCtrlL:
      RefreshWindow();
      return NextStep::loop;
    case '?':
      ShowKeyHelp(KeysOf::browser);
      RefreshWindow();
      return NextStep::loop;
    case 'J':
      return ActOnScanCode(kScanDown, shownEnd, totalLines);
    case 'K':
      return ActOnScanCode(kScanUp, shownEnd, totalLines);
    case ' ':
      return ActOnScanCode(kScanPageDown, shownEnd, totalLines);
    default:
      return NextStep::resetBudget;
  }
}

uint8_t UpperAscii(uint8_t character) {
  return character >= 'a' && character <= 'z' ? static_cast<uint8_t>(character - 'a' + 'A') : character;
}

NextStep ActOnKey(const KeyRead& key, LineNumber totalLines) {
  const uint8_t character = UpperAscii(key.character);
  if (character == kCtrlC || character == kEsc || character == 'Q') EndProgram(0);
  if (character == 0) return ActOnScanCode(key.scanCode, lineCursor, totalLines);
  return ActOnCharacter(character, lineCursor, totalLines);
}

// When keys cannot be read (standard input is no console while standard
// output is), End would redraw the last window and ask again for ever; the
// rest of the report is printed instead and the browser left as Space leaves
// it at the end.
void PrintRemainingLines(const OutputOperations& mode, LineNumber totalLines) {
  if (lineCursor >= totalLines) return;
  lineBudget = totalLines - lineCursor;
  PrintWindow(mode, totalLines);
}

// A list of files has no folders to navigate.
bool IsNavigationKey(const KeyRead& key) { return UpperAscii(key.character) == 'N' && !FileListReport(); }

}  // namespace

void BrowseReport(const OutputOperations& mode, LineNumber totalLines) {
  // The first screen keeps two lines fewer than a full window, so that what
  // was written above the report stays in view.
  lineBudget = WindowLines(pageLength - 2);
  redrawPending = true;
  lineCursor = 0;
  if (options.startInNavigation && !FileListReport()) {
    totalLines = NavigateReport(mode, totalLines);
    RefreshWindow();
  }
  while (true) {
    ClampCursor(totalLines);
    if (redrawPending) PrintWindow(mode, totalLines);
    ShowStatusBar(totalLines);
    const KeyRead key = GetKeyPress();
    EraseInPlace(kStatusTemplate.size());
    if (key.failed) {
      PrintRemainingLines(mode, totalLines);
      return;
    }
    if (IsNavigationKey(key)) {
      // Navigation may leave another folder at the top of the report; its
      // window is drawn again without the cursor.
      totalLines = NavigateReport(mode, totalLines);
      RefreshWindow();
      continue;
    }
    switch (ActOnKey(key, totalLines)) {
      case NextStep::leave: return;
      case NextStep::resetBudget: ResetBudget(); break;
      case NextStep::loop: break;
    }
  }
}

void ShowReport(const OutputOperations& mode) {
  if (!options.pauseEachPage) {
    WalkReport(mode);
    return;
  }
  walkTop = {&root, {}, {}};
  const LineNumber total = CountReportLines(mode);
  BrowseReport(mode, total);
}

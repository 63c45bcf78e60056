#include "browse/key_help.h"

#include <algorithm>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "browse/bar_input.h"
#include "console/line_fit.h"
#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"

namespace {

struct KeyLine {
  std::string_view keys;
  std::string_view does;
};

constexpr KeyLine kColumnKeys[] = {
    {"W", "show or hide the wastage column"},
    {"D", "show the wastage as a percentage or as a size"},
    {"F", "show or hide the file counts"},
    {"S", "show or hide each folder's own size in brackets"},
    {"T", "show or hide the totals column"},
    {"M", "show or hide the Modified column (the newest file below)"},
    {"B", "show or hide the share bars"},
    {"G", "show or hide the growth column of a comparison"},
    {"A", "draw the tree with plain or box-drawing characters"},
    {"Ctrl+L", "draw the screen again"},
};

constexpr KeyLine kBrowserKeys[] = {
    {"Up, K", "one line back"},
    {"Down, J", "one line on"},
    {"PgUp", "one page back"},
    {"PgDn, Space", "one page on; at the end, leave the report"},
    {"Home, End", "the first or the last page"},
    {"N", "navigation: a cursor on the folders, one level at a time"},
};

constexpr KeyLine kBrowserEnd[] = {
    {"?, F1", "this page (F1 opens the manual where it can)"},
    {"Esc, Q, Ctrl+C", "end the program"},
};

constexpr KeyLine kNavigationKeys[] = {
    {"Up, Down, K, J", "move the cursor"},
    {"PgUp, PgDn", "move the cursor a page"},
    {"Home, End", "the first or the last folder"},
    {"Enter, Right", "open the folder at the cursor (a folded one is read again)"},
    {"Left, Backspace", "up to the folder above"},
    {"Space", "mark or unmark the folder at the cursor"},
    {"Delete, X", "the folder at the cursor, or the marked ones, to the trash"},
    {"/", "find a name in the view; / and Enter alone find the next"},
    {"V", "one level or the whole subtree"},
    {"O", "the next sort order"},
    {"R", "read the folder at the cursor again"},
    {"L", "the largest files below the folder at the cursor"},
    {"E", "open the folder on the desktop, or a shell in it"},
};

constexpr KeyLine kNavigationEnd[] = {
    {"?, F1", "this page (F1 opens the manual where it can)"},
    {"N, Esc", "back to the browser (Esc drops the marks first)"},
    {"Q, Ctrl+C", "end the program"},
};

constexpr size_t kKeysColumn = 20;
constexpr std::string_view kPageBar = "Up/Down:scroll Esc/?:close";

std::vector<std::string> PageLines(KeysOf which) {
  std::vector<std::string> lines = {which == KeysOf::browser ? "The keys of the browser" : "The keys of navigation",
                                    ""};
  auto add = [&lines](std::span<const KeyLine> keys) {
    for (const KeyLine& key : keys) {
      std::string line = "  " + std::string(key.keys);
      line.append(kKeysColumn > line.size() ? kKeysColumn - line.size() : 1, ' ');
      lines.push_back(line.append(key.does));
    }
  };
  add(which == KeysOf::browser ? std::span<const KeyLine>(kBrowserKeys) : kNavigationKeys);
  add(kColumnKeys);
  add(which == KeysOf::browser ? std::span<const KeyLine>(kBrowserEnd) : kNavigationEnd);
  return lines;
}

void DrawPage(const std::vector<std::string>& lines, size_t top, size_t height) {
  ClearScreen();
  lineFit.width = static_cast<size_t>(std::max(screenWidth - 1, 1));
  for (size_t i = top; i < lines.size() && i < top + height; ++i) WriteOutLine(lines[i]);
  lineFit = {};
  WriteOut(FirstChars(kPageBar, static_cast<size_t>(std::max(screenWidth - 1, 0))));
}

}  // namespace

void ShowKeyHelp(KeysOf which) {
  const std::vector<std::string> lines = PageLines(which);
  const size_t height = static_cast<size_t>(std::max(pageLength, 1));
  const size_t lastTop = lines.size() > height ? lines.size() - height : 0;
  size_t top = 0;
  while (true) {
    DrawPage(lines, top, height);
    const KeyRead key = GetKeyPress();
    const uint8_t character = UpperAscii(key.character);
    if (character == kCtrlC || character == 'Q') EndFromBar();
    if (key.failed || character == kEsc || character == '?') return;
    if (IsScan(key, kScanUp) || character == 'K') top -= top > 0 ? 1 : 0;
    if (IsScan(key, kScanDown) || character == 'J') top = std::min(top + 1, lastTop);
    if (IsScan(key, kScanPageUp)) top -= std::min(top, height);
    if (IsScan(key, kScanPageDown)) top = std::min(top + height, lastTop);
  }
}

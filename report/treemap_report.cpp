#include "report/treemap_report.h"

#include <algorithm>
#include <limits>
#include <queue>
#include <string>
#include <string_view>
#include <unordered_map>

#include "console/format.h"
#include "console/held_sums.h"
#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "platform/platform.h"
#include "report/escape.h"
#include "report/growth.h"
#include "report/report_origin.h"
#include "report/walker.h"
#include "settings/settings.h"
#include "treemap_assets.h"

namespace {

constexpr int32_t kHeaderLines = 1;
constexpr int32_t kFooterLines = 1;

// The folders the page shows, chosen when the page is written and released
// after it.
struct MapChoice {
  std::vector<const TDirEntry*> folders;  // largest first
  std::vector<int32_t> parents;           // index into folders; -1 for the top
  std::unordered_map<const TDirEntry*, int32_t> indexOf;
};

MapChoice mapChoice;

struct Candidate {
  const TDirEntry* folder;
  int32_t parent;
  int64_t order;  // when it was met, for ties
};

struct SmallerFirst {
  bool operator()(const Candidate& a, const Candidate& b) const {
    const int64_t totalA = TotalBytes(*a.folder), totalB = TotalBytes(*b.folder);
    return totalA != totalB ? totalA < totalB : a.order > b.order;
  }
};

// Subfolders that take room on the map; an empty one has no area.
int32_t FolderChildren(const TDirEntry& folder) {
  int32_t count = 0;
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
    if (TotalBytes(*child) > 0) count += 1;
  }
  return count;
}

// Takes the largest folder met so far until the next would pass the limit.
// Each chosen folder with subfolders not chosen (yet) takes a rectangle for
// its "other" as well.
void Choose(const TDirEntry& top, size_t rectangles, MapChoice& choice) {
  choice = MapChoice{};
  std::priority_queue<Candidate, std::vector<Candidate>, SmallerFirst> met;
  std::vector<int32_t> childrenLeft;  // per chosen folder, not chosen yet
  int64_t order = 0;
  size_t used = 0;
  met.push({&top, -1, order++});
  while (!met.empty()) {
    const Candidate next = met.top();
    const int32_t children = FolderChildren(*next.folder);
    const bool closesParentsOther = next.parent >= 0 && childrenLeft[next.parent] == 1;
    const size_t needed = used + 1 + (children > 0 ? 1 : 0) - (closesParentsOther ? 1 : 0);
    // The top is always on the page, which has no map without it.
    if (needed > rectangles && next.parent >= 0) break;
    met.pop();
    used = needed;
    if (next.parent >= 0) childrenLeft[next.parent] -= 1;
    const auto index = static_cast<int32_t>(choice.folders.size());
    choice.folders.push_back(next.folder);
    choice.parents.push_back(next.parent);
    choice.indexOf[next.folder] = index;
    childrenLeft.push_back(children);
    for (const TDirEntry* child = next.folder->firstChild; child != nullptr; child = child->next) {
      if (TotalBytes(*child) > 0) met.push({child, index, order++});
    }
  }
}

bool IsChosen(const TDirEntry& folder) { return mapChoice.indexOf.count(&folder) != 0; }

// A JSON string that cannot end the script element it stands in.
std::string ScriptSafeJson(std::string_view text) {
  const std::string quoted = QuoteJsonString(text);
  std::string safe;
  safe.reserve(quoted.size());
  for (char c : quoted) {
    if (c == '<') {
      safe += "\\u003c";
    } else {
      safe += c;
    }
  }
  return safe;
}

// Appends a member to the object `node` holds, which has its "{" already.
void AddMember(std::string& node, std::string_view name, std::string_view jsonValue) {
  if (node.back() != '{') node += ',';
  node += '"';
  node += name;
  node += "\":";
  node += jsonValue;
}

std::string WastageText(const TDirEntry& folder) {
  std::string percent = FormatPercent(folder.wastedBytes, WastageBaseBytes(folder));
  percent.erase(0, percent.find_first_not_of(' '));
  std::string text = FormatSize(folder.wastedBytes);
  text += " (";
  text += percent;
  text += ')';
  return text;
}

// The share as a decimal fraction with three places, "0.125".
std::string WastageShare(const TDirEntry& folder) {
  const int64_t base = WastageBaseBytes(folder);
  // A loaded report may hold any figure up to the largest: the product is
  // held there, and a share above the whole is the whole.
  const int64_t wasted = std::max<int64_t>(folder.wastedBytes, 0);
  const int64_t product = wasted > std::numeric_limits<int64_t>::max() / 1000 ? std::numeric_limits<int64_t>::max()
                                                                              : wasted * 1000;
  const int64_t thousandths = base <= 0 ? 0 : std::min<int64_t>(wasted >= base ? 1000 : product / base, 1000);
  std::string share = std::to_string(thousandths / 1000);
  share += '.';
  share += std::to_string(1000 + thousandths % 1000).substr(1);
  return share;
}

void AddGrowthMembers(std::string& node, const TDirEntry& folder) {
  if (!Comparing()) return;
  const Growth growth = GrowthOf(folder);
  switch (growth.kind) {
    case Growth::Kind::known:
      AddMember(node, "g", FormatPlainNumber(growth.bytes));
      AddMember(node, "gt", ScriptSafeJson(GrowthSizeText(growth)));
      break;
    case Growth::Kind::added:
      AddMember(node, "g", "\"new\"");
      AddMember(node, "gt", "\"new\"");
      break;
    case Growth::Kind::unknown: break;
  }
}

// The folder's name without the fold mark, which the page shows by itself;
// the top of the walk by its path.
std::string PlainName(const TDirEntry& folder) {
  return IsWalkTop(folder) && &folder != &root ? walkTop.path : folder.name;
}

// The node up to its children, which it opens when it has any on the map.
std::string NodeOpening(const TDirEntry& folder) {
  std::string node = "{";
  AddMember(node, "n", ScriptSafeJson(PlainName(folder)));
  AddMember(node, "v", FormatPlainNumber(TotalBytes(folder)));
  AddMember(node, "t", ScriptSafeJson(FormatSize(TotalBytes(folder))));
  AddMember(node, "o", ScriptSafeJson(FormatSize(folder.localBytes)));
  AddMember(node, "f", ScriptSafeJson(FormatCount(folder.fileCount)));
  AddMember(node, "w", ScriptSafeJson(WastageText(folder)));
  AddMember(node, "r", WastageShare(folder));
  if (folder.folded) AddMember(node, "z", "1");
  AddGrowthMembers(node, folder);
  if (FolderChildren(folder) > 0) AddMember(node, "c", "[");
  return node;
}

// The "other" node of a chosen folder and the end of the folder's node.
std::string NodeClosing(const TDirEntry& folder) {
  if (FolderChildren(folder) == 0) return "}";
  int64_t otherFolders = 0, otherBytes = 0;
  bool childListed = false;
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
    if (TotalBytes(*child) == 0) continue;
    if (IsChosen(*child)) {
      childListed = true;
    } else {
      otherFolders += 1;
      otherBytes = AddBytes(otherBytes, TotalBytes(*child));
    }
  }
  if (otherFolders == 0) return "]}";
  std::string other = childListed ? ",{" : "{";
  AddMember(other, "n", "\"other\"");
  AddMember(other, "x", FormatPlainNumber(otherFolders));
  AddMember(other, "v", FormatPlainNumber(otherBytes));
  AddMember(other, "t", ScriptSafeJson(FormatSize(otherBytes)));
  other += "}]}";
  return other;
}

// A name of the tree as the output may show it (see AppendShownName).
std::string Shown(std::string_view name) {
  std::string shown;
  AppendShownName(shown, name);
  return shown;
}

std::string ChosenPath(int32_t index) {
  const int32_t parent = mapChoice.parents[index];
  const TDirEntry& folder = *mapChoice.folders[index];
  if (parent < 0) return PlainName(folder);
  return EnsureTrailingBackslash(ChosenPath(parent)) + folder.name;
}

void WriteHead() {
  const std::string path = PlainName(*walkTop.folder);
  WriteOutLine("<!DOCTYPE html>");
  WriteOutLine("<html lang=\"en\"><head><meta charset=\"utf-8\">");
  WriteOutLine("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src " +
               std::string(kMapStyleHash) + "; script-src " + std::string(kLayoutScriptHash) + " " +
               std::string(kMapScriptHash) + "\">");
  WriteOutLine("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
  WriteOutLine("<title>" + EscapeHtml(ProductTitle()) + " map of " + EscapeHtml(Shown(path)) + "</title>");
  WriteOut("<style>");
  WriteOut(kMapStyle);
  WriteOutLine("</style>");
  WriteOutLine("</head><body>");
  WriteOutLine("<header><h1>" + EscapeHtml(ProductTitle()) + " Map</h1>");
  WriteOutLine("<p>" + EscapeHtml(Shown(path)) + ": " + EscapeHtml(FormatSize(TotalBytes(*walkTop.folder))) +
               " in " + EscapeHtml(FormatCount(scanTotals.totalFiles)) + " files, created at " +
               EscapeHtml(ReportCreatedText()) + "</p>");
  WriteOutLine("<p class=\"controls\"><label>Colour by <select id=\"colour\">" +
               std::string(Comparing() ? "<option value=\"growth\">growth</option>" : "") +
               "<option value=\"waste\">wastage share</option><option value=\"depth\">depth</option>"
               "</select></label> <span id=\"legend\"></span></p></header>");
  WriteOutLine("<nav id=\"crumbs\" aria-label=\"Folders above\"></nav>");
  WriteOutLine("<div id=\"map\"></div>");
  WriteOutLine("<noscript><p>The map is drawn by the page's script; the table lists the largest folders.</p></noscript>");
  std::string top = "{";
  AddMember(top, "separator", ScriptSafeJson(std::string(1, platform::kPathSeparator)));
  AddMember(top, "growth", Comparing() ? "true" : "false");
  AddMember(top, "root", "");
  WriteOut("<script type=\"application/json\" id=\"tree\">");
  WriteOut(top);
}

std::string TableCell(std::string_view text) { return "<td>" + EscapeHtml(text) + "</td>"; }

void WriteLargestTable() {
  const bool growth = Comparing();
  WriteOutLine("<h2>The largest folders</h2>");
  WriteOutLine("<table class=\"largest\"><tr><th>Folder</th><th>Total</th><th>Own size</th><th>Files</th>"
               "<th>Wastage</th>" + std::string(growth ? "<th>Growth</th>" : "") + "</tr>");
  const size_t rows = std::min(kLargestFolders, mapChoice.folders.size());
  for (size_t i = 0; i < rows; ++i) {
    const TDirEntry& folder = *mapChoice.folders[i];
    std::string row = "<tr><td class=\"path\">" + EscapeHtml(Shown(ChosenPath(static_cast<int32_t>(i)))) + "</td>";
    row += TableCell(FormatSize(TotalBytes(folder))) + TableCell(FormatSize(folder.localBytes)) +
           TableCell(FormatCount(folder.fileCount)) + TableCell(WastageText(folder));
    if (growth) row += TableCell(GrowthSizeText(GrowthOf(folder)));
    WriteOutLine(row + "</tr>");
  }
  WriteOutLine("</table>");
}

void WriteTail() {
  WriteOutLine("}</script>");
  WriteLargestTable();
  WriteOut("<script>");
  WriteOut(kLayoutScript);
  WriteOutLine("</script>");
  WriteOut("<script>");
  WriteOut(kMapScript);
  WriteOutLine("</script>");
  WriteOutLine("</body></html>");
  mapChoice = MapChoice{};
}

}  // namespace

std::vector<const TDirEntry*> ChooseMapFolders(const TDirEntry& top, size_t rectangles) {
  MapChoice choice;
  Choose(top, rectangles, choice);
  return choice.folders;
}

int32_t MapHeader() {
  return WalkHeader(kHeaderLines, [](int32_t) {
    // The page is UTF-8 on every system, as it declares.
    FlushOut();
    platform::WriteStandardOutputInUtf8();
    Choose(*walkTop.folder, kMapRectangles, mapChoice);
    WriteHead();
  });
}

// The walker's folder lister: every folder takes its line, and a chosen one
// writes its node there, closed after its children.
void ListMapFolders(TDirEntry* first) {
  bool listedSibling = false;
  for (TDirEntry* folder = first; folder != nullptr; folder = folder->next) {
    bool written = false;
    if (lineIndex == lineCursor) {
      lineCursor += 1;
      lineBudget -= 1;
      written = IsChosen(*folder);
    }
    lineIndex += 1;
    if (written) {
      if (listedSibling) WriteOut(",");
      WriteOut(NodeOpening(*folder));
    }
    if (folder->firstChild != nullptr) ListMapFolders(folder->firstChild);
    if (written) WriteOut(NodeClosing(*folder));
    listedSibling = listedSibling || written;
    if (IsWalkTop(*folder)) break;
  }
}

int32_t MapFooter(LineNumber totalLines) {
  return WalkFooter(totalLines, kFooterLines, [](int32_t) { WriteTail(); });
}

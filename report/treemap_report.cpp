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

// The page's choice, made when the page is written and released after it.
MapChoice mapChoice;
TypeColours typeColours;

// A folder or a file that may take a rectangle.
struct Candidate {
  const TDirEntry* folder;  // nullptr for a file
  const ListedFile* file;
  int32_t parent;
  int64_t bytes;
  int64_t order;  // when it was met, for ties
};

struct SmallerFirst {
  bool operator()(const Candidate& a, const Candidate& b) const {
    return a.bytes != b.bytes ? a.bytes < b.bytes : a.order > b.order;
  }
};

// What a chosen folder holds that is not chosen (yet): it takes a
// rectangle for its other subfolders and one for its other files.
struct Unchosen {
  int32_t subfolders;
  int64_t files;
  int64_t ownBytes;
};

// Whether a folder has files of its own that take room on the map. The
// space its listing takes stays blank inside it.
bool HasOtherFiles(const TDirEntry& folder) { return folder.fileCount > 0 && folder.localBytes > 0; }

// Subfolders that take room on the map; an empty one has no area.
int32_t FolderChildren(const TDirEntry& folder) {
  int32_t count = 0;
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
    if (TotalBytes(*child) > 0) count += 1;
  }
  return count;
}

// The rectangles the page needs more when `next` is chosen: its own, and
// for a folder those of its unchosen subfolders and files, less its
// parent's rectangle of the unchosen that it is the last of.
size_t RectanglesAdded(const Candidate& next, const std::vector<Unchosen>& unchosen) {
  if (next.file != nullptr) return unchosen[next.parent].files == 1 ? 0 : 1;
  const bool closesParentsOther = next.parent >= 0 && unchosen[next.parent].subfolders == 1;
  return 1 + (FolderChildren(*next.folder) > 0 ? 1 : 0) + (HasOtherFiles(*next.folder) ? 1 : 0) -
         (closesParentsOther ? 1 : 0);
}

// The state of one choice.
struct Choosing {
  const FilesByFolder& files;
  MapChoice choice;
  std::vector<Unchosen> unchosen;  // of each chosen folder
  std::priority_queue<Candidate, std::vector<Candidate>, SmallerFirst> met;
  int64_t order = 0;
};

void ChooseFolder(const Candidate& next, Choosing& choosing) {
  MapChoice& choice = choosing.choice;
  if (next.parent >= 0) choosing.unchosen[next.parent].subfolders -= 1;
  const auto index = static_cast<int32_t>(choice.folders.size());
  choice.folders.push_back(next.folder);
  choice.parents.push_back(next.parent);
  choice.indexOf[next.folder] = index;
  choice.files.emplace_back();
  choosing.unchosen.push_back({FolderChildren(*next.folder), next.folder->fileCount, next.folder->localBytes});
  for (const TDirEntry* child = next.folder->firstChild; child != nullptr; child = child->next) {
    if (TotalBytes(*child) > 0) choosing.met.push({child, nullptr, index, TotalBytes(*child), choosing.order++});
  }
  const auto own = choosing.files.find(next.folder);
  if (own == choosing.files.end()) return;
  for (const ListedFile* file : own->second) {
    choosing.met.push({nullptr, file, index, file->bytes, choosing.order++});
  }
}

void ChooseFile(const Candidate& next, Choosing& choosing) {
  choosing.unchosen[next.parent].files -= 1;
  choosing.unchosen[next.parent].ownBytes -= next.bytes;
  choosing.choice.files[next.parent].push_back(next.file);
}

}  // namespace

// Takes the largest folder or file met so far until the next would pass
// the limit.
MapChoice ChooseMapItems(const TDirEntry& top, const FilesByFolder& files, size_t rectangles) {
  Choosing choosing{files, {}, {}, {}, 0};
  size_t used = 0;
  choosing.met.push({&top, nullptr, -1, TotalBytes(top), choosing.order++});
  while (!choosing.met.empty()) {
    const Candidate next = choosing.met.top();
    // A file the scan counted in another folder's bytes (a hard link) has
    // no room of its own here.
    if (next.file != nullptr && next.bytes > choosing.unchosen[next.parent].ownBytes) {
      choosing.met.pop();
      continue;
    }
    const size_t needed = used + RectanglesAdded(next, choosing.unchosen);
    // The top is always on the page, which has no map without it.
    if (needed > rectangles && next.parent >= 0) break;
    choosing.met.pop();
    used = needed;
    if (next.file != nullptr) {
      ChooseFile(next, choosing);
    } else {
      ChooseFolder(next, choosing);
    }
  }
  return std::move(choosing.choice);
}

namespace {

bool IsChosen(const TDirEntry& folder) { return mapChoice.indexOf.count(&folder) != 0; }

// Whether a folder's node has children: its subfolders, or its own files.
bool HasMapChildren(const TDirEntry& folder) { return FolderChildren(folder) > 0 || HasOtherFiles(folder); }

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
    case Growth::Kind::unreadable:
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
  if (options.noteAges) AddMember(node, "a", FormatPlainNumber(folder.modifiedSeconds));
  AddGrowthMembers(node, folder);
  if (HasMapChildren(folder)) AddMember(node, "c", "[");
  return node;
}

// The node of a chosen folder's subfolders that are not chosen; empty when
// there are none.
std::string OtherFoldersNode(const TDirEntry& folder) {
  int64_t otherFolders = 0, otherBytes = 0;
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
    if (TotalBytes(*child) == 0 || IsChosen(*child)) continue;
    otherFolders += 1;
    otherBytes = AddBytes(otherBytes, TotalBytes(*child));
  }
  if (otherFolders == 0) return "";
  std::string other = "{";
  AddMember(other, "n", "\"other\"");
  AddMember(other, "k", "\"o\"");
  AddMember(other, "x", FormatPlainNumber(otherFolders));
  AddMember(other, "v", FormatPlainNumber(otherBytes));
  AddMember(other, "t", ScriptSafeJson(FormatSize(otherBytes)));
  return other + "}";
}

// The node of a chosen folder's own files that are not chosen, "(N other
// files)", with the space its listing takes; empty when every file is
// chosen.
std::string OtherFilesNode(const TDirEntry& folder, const std::vector<const ListedFile*>& chosen) {
  int64_t bytes = folder.localBytes;
  for (const ListedFile* file : chosen) bytes = AddBytes(bytes, -file->bytes);
  const int64_t files = folder.fileCount - static_cast<int64_t>(chosen.size());
  if (bytes <= 0 || files <= 0) return "";
  std::string name = "(";
  name += FormatCount(files);
  name += files == 1 ? " other file)" : " other files)";
  std::string other = "{";
  AddMember(other, "n", ScriptSafeJson(name));
  AddMember(other, "k", "\"r\"");
  AddMember(other, "x", FormatPlainNumber(files));
  AddMember(other, "v", FormatPlainNumber(bytes));
  AddMember(other, "t", ScriptSafeJson(FormatSize(bytes)));
  return other + "}";
}

// After a chosen folder's chosen subfolders: its chosen files, its others,
// and the end of its node.
std::string NodeClosing(const TDirEntry& folder) {
  if (!HasMapChildren(folder)) return "}";
  bool listed = false;
  for (const TDirEntry* child = folder.firstChild; child != nullptr && !listed; child = child->next) {
    listed = IsChosen(*child);
  }
  std::string closing;
  const auto append = [&](const std::string& node) {
    if (node.empty()) return;
    if (listed) closing += ',';
    closing += node;
    listed = true;
  };
  const std::vector<const ListedFile*>& files = mapChoice.files[mapChoice.indexOf.at(&folder)];
  for (const ListedFile* file : files) append(MapFileNode(*file, typeColours));
  append(OtherFoldersNode(folder));
  append(OtherFilesNode(folder, files));
  return closing + "]}";
}

// A name of the tree as the output may show it (see AppendShownName).
std::string Shown(std::string_view name) {
  std::string shown;
  AppendShownName(shown, name);
  return shown;
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
  WriteOutLine("<p class=\"controls\"><label>Colour by <select id=\"colour\">"
               "<option value=\"type\">file type</option><option value=\"waste\">wastage share</option>" +
               std::string(options.noteAges ? "<option value=\"age\">age</option>" : "") +
               std::string(Comparing() ? "<option value=\"growth\">growth</option>" : "") +
               "<option value=\"depth\">depth</option></select></label> "
               "<label><input type=\"checkbox\" id=\"rings\"> Rings</label></p>");
  WriteOutLine("<p id=\"legend\"></p></header>");
  WriteOutLine("<nav id=\"crumbs\" aria-label=\"Folders above\"></nav>");
  WriteOutLine("<div id=\"map\"></div>");
  WriteOutLine("<noscript><p>The map is drawn by the page's script; the tables list the largest files and the file types.</p></noscript>");
  std::string top = "{";
  AddMember(top, "separator", ScriptSafeJson(std::string(1, platform::kPathSeparator)));
  AddMember(top, "growth", Comparing() ? "true" : "false");
  AddMember(top, "created", ScriptSafeJson(ReportCreatedIso()));
  top += ',' + MapTypesMembers();
  AddMember(top, "root", "");
  WriteOut("<script type=\"application/json\" id=\"tree\">");
  WriteOut(top);
}

void WriteTail() {
  WriteOutLine("}</script>");
  WriteLargestFilesTable(PlainName(*walkTop.folder));
  WriteFileTypesTable();
  WriteOut("<script>");
  WriteOut(kLayoutScript);
  WriteOutLine("</script>");
  WriteOut("<script>");
  WriteOut(kMapScript);
  WriteOutLine("</script>");
  WriteOutLine("</body></html>");
  mapChoice = MapChoice{};
  typeColours = TypeColours{};
}

}  // namespace

void NoteFilesForMap() {
  if (options.topFiles == 0) options.topFiles = static_cast<int32_t>(kMapRectangles);
  options.fileTypes = true;
}

int32_t MapHeader() {
  return WalkHeader(kHeaderLines, [](int32_t) {
    // The page is UTF-8 on every system, as it declares.
    FlushOut();
    platform::WriteStandardOutputInUtf8();
    const FilesByFolder files = FilesOfFolders(*walkTop.folder, LargestFiles());
    mapChoice = ChooseMapItems(*walkTop.folder, files, kMapRectangles);
    typeColours = ColourOfTypes();
    WriteHead();
  });
}

// The walker's folder lister: every folder takes its line, and a chosen one
// writes its node there, closed after its children.
void ListMapFolders(TDirEntry* first) {
  std::vector<bool> written;         // of each folder open, whether it wrote its node
  std::vector<bool> listedSiblings;  // of each list open, whether a node of it is written
  WalkSubtrees(
      first,
      [&](TDirEntry& folder, bool firstOfList) {
        if (firstOfList) listedSiblings.push_back(false);
        bool writes = false;
        if (lineIndex == lineCursor) {
          lineCursor += 1;
          lineBudget -= 1;
          writes = IsChosen(folder);
        }
        lineIndex += 1;
        if (writes) {
          if (listedSiblings.back()) WriteOut(",");
          WriteOut(NodeOpening(folder));
          listedSiblings.back() = true;
        }
        written.push_back(writes);
        return true;
      },
      [&](TDirEntry& folder) {
        if (written.back()) WriteOut(NodeClosing(folder));
        written.pop_back();
        if (folder.next == nullptr || IsWalkTop(folder)) listedSiblings.pop_back();
        return true;
      });
}

int32_t MapFooter(LineNumber totalLines) {
  return WalkFooter(totalLines, kFooterLines, [](int32_t) { WriteTail(); });
}

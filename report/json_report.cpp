#include "report/json_report.h"

#include "console/format.h"
#include "console/output.h"
#include "console/text.h"
#include "platform/platform.h"
#include "report/escape.h"
#include "report/growth.h"
#include "report/report_origin.h"
#include "scan/drive_stats.h"
#include "scan/exclusions.h"
#include "scan/file_stats.h"
#include "settings/settings.h"

namespace {

constexpr int32_t kHeaderLines = 1;
constexpr int32_t kFooterLines = 1;

std::string SortWord(SortOrder order) {
  switch (order) {
    case SortOrder::none: return "none";
    case SortOrder::name: return "name";
    case SortOrder::local: return "local";
    case SortOrder::total: return "total";
    case SortOrder::waste: return "waste";
    case SortOrder::files: return "files";
    case SortOrder::growth: return "growth";
    case SortOrder::age: return "age";
  }
  return "name";
}

// An object's members, written one after another.
struct JsonObject {
  std::string text = "{";

  JsonObject& Add(std::string_view name, std::string_view jsonValue) {
    if (text.size() > 1) text += ',';
    text += QuoteJsonString(name);
    text += ':';
    text += jsonValue;
    return *this;
  }
  std::string Closed() const { return text + '}'; }
};

std::string Number(int64_t value) { return FormatPlainNumber(value); }
std::string Boolean(bool value) { return value ? "true" : "false"; }

// The drive's root folder: C:\ or \\server\share\ on Windows (whose
// statistics name only the letter), the mount point on Linux.
std::string DriveRoot() {
  if (platform::kPathStyle == platform::PathStyle::Posix) return driveName;
  std::string failure;
  return FindDriveRoot(root.name, failure).value_or(driveName);
}

std::string DriveObject() {
  return JsonObject()
      .Add("root", QuoteJsonString(DriveRoot()))
      .Add("description", QuoteJsonString(driveStats.volumeDescription))
      .Add("clusterSize", Number(driveStats.clusterSize))
      .Add("capacity", Number(driveStats.capacityBytes))
      .Add("free", Number(driveStats.freeBytes))
      .Add("used", Number(driveStats.usedBytes))
      .Add("name", QuoteJsonString(driveName))
      .Closed();
}

std::string PatternList() {
  std::string list = "[";
  for (const std::string& pattern : exclusions.givenPatterns) {
    if (list.size() > 1) list += ',';
    list += QuoteJsonString(pattern);
  }
  return list + ']';
}

// The gone folders by path; the entry that sums the rest gives their count
// in "others" instead.
std::string GoneListArray() {
  std::string list = "[";
  for (const GoneFolder& gone : GoneList()) {
    if (list.size() > 1) list += ',';
    JsonObject entry;
    if (gone.path.empty()) {
      entry.Add("others", Number(gone.folders));
    } else {
      entry.Add("path", QuoteJsonString(gone.path));
    }
    list += entry.Add("bytes", Number(gone.bytes)).Add("files", Number(gone.files)).Closed();
  }
  return list + ']';
}

// Every member of the report before the tree's, then the name `lastMember`
// and its colon.
void WriteJsonTopMembers(std::string_view lastMember) {
  JsonObject top;
  top.Add("program", QuoteJsonString("tallyfold"))
      .Add("version", QuoteJsonString(kVersion))
      .Add("created", QuoteJsonString(ReportCreatedIso()))
      .Add("host", QuoteJsonString(ReportHost()))
      .Add("path", QuoteJsonString(root.name));
  if (!IsValidUtf8(root.name)) top.Add("pathBytes", QuoteJsonString(HexBytes(root.name)));
  top      .Add("clusterSize", Number(effectiveClusterSize))
      .Add("dirMode", Boolean(options.dirMode))
      .Add("includeOffline", Boolean(options.includeOffline))
      .Add("links", Boolean(options.countEveryLink))
      .Add("exclude", PatternList())
      .Add("mounts", Boolean(options.crossMounts))
      .Add("maxDepth", options.maxDepth == kAllLevels ? "null" : Number(options.maxDepth))
      .Add("minFolderBytes", Number(options.minFolderBytes))
      .Add("sort", QuoteJsonString(SortWord(options.sortOrder)));
  if (options.showDriveStats) top.Add("drive", DriveObject());
  top.Add("totals", JsonObject()
                        .Add("bytes", Number(TotalBytes(root)))
                        .Add("wasted", Number(scanTotals.totalWasted))
                        .Add("files", Number(scanTotals.totalFiles))
                        .Add("unreadable", Number(scanTotals.unreadableFolders))
                        .Closed());
  if (Comparing()) {
    top.Add("comparedWith", JsonObject()
                                .Add("created", QuoteJsonString(EarlierCreated()))
                                .Add("path", QuoteJsonString(EarlierPath()))
                                .Closed());
    top.Add("gone", JsonObject()
                        .Add("folders", Number(GoneFolders()))
                        .Add("bytes", Number(GoneBytes()))
                        .Add("list", GoneListArray())
                        .Closed());
  }
  top.Add(lastMember, "");
  WriteOut(top.text);
}

std::string GrowthValue(const Growth& growth) {
  switch (growth.kind) {
    case Growth::Kind::known: return Number(growth.bytes);
    case Growth::Kind::added: return QuoteJsonString("new");
    case Growth::Kind::unreadable: return QuoteJsonString("?");
    case Growth::Kind::unknown: break;
  }
  return "null";
}

}  // namespace

std::string HexBytes(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (char c : bytes) {
    hex += kHex[static_cast<uint8_t>(c) >> 4];
    hex += kHex[static_cast<uint8_t>(c) & 0xF];
  }
  return hex;
}

namespace {

// The folder's object up to its children; a later sibling is set apart from
// the one before by a comma.
void WriteFolderOpening(const TDirEntry& folder, bool afterSibling) {
  const std::string_view name = folder.name;
  JsonObject object;
  object.Add("name", QuoteJsonString(name));
  if (!IsValidUtf8(name)) object.Add("nameBytes", QuoteJsonString(HexBytes(name)));
  object.Add("total", Number(TotalBytes(folder)))
      .Add("own", Number(folder.localBytes))
      .Add("wasted", Number(folder.wastedBytes))
      .Add("files", Number(folder.fileCount))
      .Add("folded", Boolean(folder.folded))
      .Add("order", Number(folder.scanOrder));
  if (folder.unreadable) object.Add("unreadable", "true");
  if (options.noteAges) {
    const int64_t modified = folder.modifiedSeconds;
    object.Add("modified", modified == 0 ? "null" : QuoteJsonString(FormatIsoTime(modified)));
  }
  if (Comparing()) object.Add("growth", GrowthValue(GrowthOf(folder)));
  if (folder.firstChild != nullptr) object.Add("children", "[");
  if (afterSibling) WriteOut(",");
  WriteOut(platform::kLineEnd);
  WriteOut(object.text);
}

}  // namespace

int32_t JsonHeader() {
  return WalkHeader(kHeaderLines, [](int32_t) { WriteJsonTopMembers("root"); });
}

// The walker's folder lister, which also closes each folder it opened once
// its children are written. A JSON report is always written in one pass, so
// every folder opened in a pass is closed in it.
void ListJsonFolders(TDirEntry* first) {
  std::vector<bool> written;  // of each folder open, whether this pass wrote it
  WalkSubtrees(
      first,
      [&](TDirEntry& folder, bool firstOfList) {
        written.push_back(lineIndex == lineCursor);
        if (written.back()) {
          lineCursor += 1;
          lineBudget -= 1;
          WriteFolderOpening(folder, !firstOfList);
        }
        lineIndex += 1;
        return true;
      },
      [&](TDirEntry& folder) {
        if (written.back()) WriteOut(folder.firstChild != nullptr ? "]}" : "}");
        written.pop_back();
        return true;
      });
}

namespace {

void WriteJsonFile(const ListedFile& file) {
  JsonObject object;
  object.Add("path", QuoteJsonString(file.path));
  if (!IsValidUtf8(file.path)) object.Add("pathBytes", QuoteJsonString(HexBytes(file.path)));
  object.Add("bytes", Number(file.bytes))
      .Add("length", Number(file.length))
      .Add("modified", QuoteJsonString(FormatIsoTime(file.modifiedSeconds)));
  WriteOut(object.Closed());
}

void WriteJsonType(const FileType& type) {
  JsonObject object;
  object.Add("extension", QuoteJsonString(type.extension));
  if (!IsValidUtf8(type.extension)) object.Add("extensionBytes", QuoteJsonString(HexBytes(type.extension)));
  object.Add("files", Number(type.sums.files))
      .Add("bytes", Number(type.sums.bytes))
      .Add("wasted", Number(type.sums.wasted));
  WriteOut(object.Closed());
}

// A member after the tree: the list `items`, one item a line.
template <typename Item>
void WriteJsonList(std::string_view member, const std::vector<Item>& items, void (*writeItem)(const Item&)) {
  WriteOut(",");
  WriteOut(QuoteJsonString(member));
  WriteOut(":[");
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) WriteOut(",");
    WriteOut(platform::kLineEnd);
    writeItem(items[i]);
  }
  WriteOut("]");
}

}  // namespace

// The lists of files and file types the run noted follow the tree, so that
// a loaded report gives them back.
int32_t JsonFooter(LineNumber totalLines) {
  return WalkFooter(totalLines, kFooterLines, [](int32_t) {
    if (options.topFiles > 0) WriteJsonList("files", LargestFiles(), WriteJsonFile);
    if (options.fileTypes) WriteJsonList("types", FileTypes(), WriteJsonType);
    WriteOut(platform::kLineEnd);
    WriteOutLine("}");
  });
}

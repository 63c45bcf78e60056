#include "report/files_report.h"

#include <string>
#include <string_view>
#include <vector>

#include "console/format.h"
#include "console/held_sums.h"
#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "platform/platform.h"
#include "report/console_report.h"
#include "report/escape.h"
#include "report/html_report.h"
#include "scan/file_stats.h"
#include "scan/scanner.h"

namespace {

// The tab report's figures are right-aligned in this many characters, as
// in its folder rows.
constexpr uint8_t kTabFieldWidth = 14;

bool ListsLargest() { return options.topFiles > 0; }

size_t RowCount() { return ListsLargest() ? LargestFiles().size() : FileTypes().size(); }

// The walker's folder lister for a list: row i is line H + i.
void ListRows(void (*writeRow)(size_t row)) {
  const size_t count = RowCount();
  for (size_t row = 0; row < count && lineBudget > 0; ++row) {
    if (lineIndex == lineCursor) {
      lineCursor += 1;
      lineBudget -= 1;
      writeRow(row);
    }
    lineIndex += 1;
  }
}

std::string Shown(std::string_view name) {
  std::string shown;
  AppendShownName(shown, name);
  return shown;
}

TypeSums SumOfTypes() {
  TypeSums all;
  for (const FileType& type : FileTypes()) {
    all.files = AddBytes(all.files, type.sums.files);
    all.bytes = AddBytes(all.bytes, type.sums.bytes);
    all.wasted = AddBytes(all.wasted, type.sums.wasted);
  }
  return all;
}

// A share as the percentage text without its alignment blanks: "45%".
std::string ShareText(int64_t part, int64_t whole) {
  std::string text = FormatPercent(part, whole);
  text.erase(0, text.find_first_not_of(' '));
  return text;
}

// ---- Console ----------------------------------------------------------------

constexpr int32_t kConsoleHeaderLines = 2;

void WriteConsoleTitles(bool largest) {
  if (largest) {
    WriteOutLine("          Size  Modified          File name");
  } else {
    WriteOutLine("         Files            Size  Share    Wasted space  Type");
  }
}

void WriteConsoleRule(bool largest) {
  const std::string& bar = options.treeChars[kBar];
  const std::string rule = largest
                               ? RepeatChar(14, bar) + "  " + RepeatChar(16, bar) + "  " + RepeatChar(40, bar)
                               : RepeatChar(14, bar) + "  " + RepeatChar(14, bar) + "  " + RepeatChar(5, bar) +
                                     "  " + RepeatChar(14, bar) + "  " + RepeatChar(20, bar);
  WriteOutLine(FirstChars(rule, static_cast<size_t>(screenWidth - 1)));
}

void WriteConsoleFileRow(size_t row) {
  const ListedFile& file = LargestFiles()[row];
  std::string line = PadLeft(FormatSize(file.bytes), 14) + "  " + FormatLocalMinute(file.modifiedSeconds) + "  ";
  AppendShownName(line, file.path);
  WriteOutLine(line);
}

}  // namespace

void WriteLargestFilesHeading() {
  WriteConsoleTitles(true);
  WriteConsoleRule(true);
}

void WriteLargestFileLine(size_t row) { WriteConsoleFileRow(row); }

namespace {

struct SavedFiles {
  bool held = false;
  std::vector<ListedFile> files;
};

SavedFiles savedFiles;

}  // namespace

void KeepSavedFiles(std::vector<ListedFile> files, bool held) { savedFiles = {held, std::move(files)}; }

bool NoteSavedFilesBelow(const std::vector<TDirEntry*>& chain) {
  if (!savedFiles.held) return false;
  std::string prefix;
  for (const TDirEntry* folder : chain) prefix += folder->name + platform::kPathSeparator;
  std::vector<ListedFile> below;
  for (const ListedFile& file : savedFiles.files) {
    if (!file.path.starts_with(prefix)) continue;
    below.push_back(file);
    below.back().path.erase(0, prefix.size());
  }
  TakeSavedFileNotes(std::move(below), {}, savedFiles.files.size());
  return true;
}

namespace {

void WriteConsoleTypeLine(const std::string& name, const TypeSums& sums) {
  std::string line = PadLeft(FormatCount(sums.files), 14) + "  " + PadLeft(FormatSize(sums.bytes), 14) + "  " +
                     PadLeft(FormatPercent(sums.bytes, TotalBytes(root)), 5) + "  " +
                     PadLeft(FormatSize(sums.wasted), 14) + "  ";
  AppendShownName(line, name);
  WriteOutLine(line);
}

void WriteConsoleTypeRow(size_t row) {
  const FileType& type = FileTypes()[row];
  WriteConsoleTypeLine(type.extension, type.sums);
}

void WriteConsoleTotals() {
  if (ListsLargest()) {
    WriteOutLine(PadLeft(FormatSize(LargestFilesBytes()), 14) + "  " +
                 ShareText(LargestFilesBytes(), TotalBytes(root)) + " of the tree's " + FormatSize(TotalBytes(root)));
    return;
  }
  WriteConsoleTypeLine("All types, of the tree's " + FormatSize(TotalBytes(root)), SumOfTypes());
}

void WriteConsoleFooterLine(int32_t line) {
  switch (line) {
    case 0: case 2: WriteConsoleRule(ListsLargest()); break;
    case 1: WriteConsoleTotals(); break;
    default: WriteDriveStatisticsLine(line - 3); break;
  }
}

int32_t ConsoleListHeader() {
  return WalkHeader(kConsoleHeaderLines, [](int32_t line) {
    line == 0 ? WriteConsoleTitles(ListsLargest()) : WriteConsoleRule(ListsLargest());
  });
}

void ListConsoleRows(TDirEntry*) { ListRows(ListsLargest() ? WriteConsoleFileRow : WriteConsoleTypeRow); }

int32_t ConsoleListFooter(LineNumber totalLines) {
  return WalkFooter(totalLines, options.showDriveStats ? 3 + kDriveStatisticsLines * DrivesShown() : 3,
                    WriteConsoleFooterLine);
}

// ---- Tab and comma ----------------------------------------------------------

constexpr int32_t kDelimitedHeaderLines = 2;

std::string_view Separator() { return options.outputMode == OutputMode::tab ? "\t" : ","; }

std::string Figure(int64_t value) {
  const std::string plain = FormatPlainNumber(value);
  return options.outputMode == OutputMode::tab ? PadLeft(plain, kTabFieldWidth) : plain;
}

void WriteDelimitedTitles(int32_t line) {
  if (!options.showHeader) return;
  if (line == 1) {
    WriteOutLine("");
    return;
  }
  const std::vector<std::string_view> titles =
      ListsLargest() ? std::vector<std::string_view>{"Size", "Length", "Modified", "File name"}
                     : std::vector<std::string_view>{"Files", "Size", "Share", "Wasted space", "Type"};
  std::string text;
  for (std::string_view title : titles) {
    if (!text.empty()) text += Separator();
    text += QuoteDelimitedField(title);
  }
  WriteOutLine(text);
}

void WriteDelimitedFileRow(size_t row) {
  const ListedFile& file = LargestFiles()[row];
  const std::string_view separator = Separator();
  std::string text = Figure(file.bytes);
  text += separator;
  text += Figure(file.length);
  text += separator;
  text += FormatIsoTime(file.modifiedSeconds);
  text += separator;
  text += QuoteDelimitedField(Shown(reportPath + file.path));
  WriteOutLine(text);
}

void WriteDelimitedTypeRow(size_t row) {
  const FileType& type = FileTypes()[row];
  const std::string_view separator = Separator();
  std::string text = Figure(type.sums.files);
  text += separator;
  text += Figure(type.sums.bytes);
  text += separator;
  text += ShareText(type.sums.bytes, TotalBytes(root));
  text += separator;
  text += Figure(type.sums.wasted);
  text += separator;
  text += QuoteDelimitedField(Shown(type.extension));
  WriteOutLine(text);
}

int32_t DelimitedListHeader() { return WalkHeader(kDelimitedHeaderLines, WriteDelimitedTitles); }

void ListDelimitedRows(TDirEntry*) { ListRows(ListsLargest() ? WriteDelimitedFileRow : WriteDelimitedTypeRow); }

// ---- HTML -------------------------------------------------------------------

std::string Cell(std::string_view text) { return "<td>" + EscapeHtml(text) + "</td>"; }
std::string NameCell(std::string_view name) { return "<td class=\"l\">" + EscapeHtml(Shown(name)) + "</td>"; }

int32_t HtmlListHeader() {
  return WalkHeader(1, [](int32_t) {
    WriteHtmlIntroduction();
    WriteOutLine("<table class=\"report\">");
    WriteOutLine(ListsLargest() ? "<tr><th>Size</th><th>Modified</th><th>File name</th></tr>"
                                : "<tr><th>Files</th><th>Size</th><th>Share</th><th>Wasted space</th>"
                                  "<th>Type</th></tr>");
  });
}

void WriteHtmlFileRow(size_t row) {
  const ListedFile& file = LargestFiles()[row];
  WriteOutLine("<tr>" + Cell(FormatSize(file.bytes)) + Cell(FormatLocalMinute(file.modifiedSeconds)) +
               NameCell(file.path) + "</tr>");
}

void WriteHtmlTypeRow(size_t row) {
  const FileType& type = FileTypes()[row];
  WriteOutLine("<tr>" + Cell(FormatCount(type.sums.files)) + Cell(FormatSize(type.sums.bytes)) +
               Cell(FormatPercent(type.sums.bytes, TotalBytes(root))) + Cell(FormatSize(type.sums.wasted)) +
               NameCell(type.extension) + "</tr>");
}

void ListHtmlRows(TDirEntry*) { ListRows(ListsLargest() ? WriteHtmlFileRow : WriteHtmlTypeRow); }

int32_t HtmlListFooter(LineNumber totalLines) {
  return WalkFooter(totalLines, 1, [](int32_t) {
    WriteOutLine("</table>");
    const int64_t listed = ListsLargest() ? LargestFilesBytes() : SumOfTypes().bytes;
    WriteOutLine("<p>" + EscapeHtml(FormatSize(listed) + " listed, " + ShareText(listed, TotalBytes(root)) +
                                    " of the tree's " + FormatSize(TotalBytes(root))) +
                 "</p>");
    if (options.showDriveStats) WriteHtmlDriveStatistics();
  });
}

constexpr OutputOperations kConsoleList = {ConsoleListHeader, ListConsoleRows, ConsoleListFooter};
constexpr OutputOperations kDelimitedList = {DelimitedListHeader, ListDelimitedRows, NoFooter};
constexpr OutputOperations kHtmlList = {HtmlListHeader, ListHtmlRows, HtmlListFooter};

}  // namespace

// The map draws folders alone; a JSON report holds the tree and the lists.
bool FileListReport() {
  return (options.topFiles > 0 || options.fileTypes) && options.outputMode != OutputMode::map &&
         options.outputMode != OutputMode::json;
}

const OutputOperations& FileListOperations(OutputMode mode) {
  switch (mode) {
    case OutputMode::tab:
    case OutputMode::comma: return kDelimitedList;
    case OutputMode::html: return kHtmlList;
    case OutputMode::console:
    case OutputMode::json:
    case OutputMode::map: break;
  }
  return kConsoleList;
}

#include "report/delimited_report.h"

#include <string>
#include <string_view>

#include "console/format.h"
#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "platform/platform.h"
#include "report/escape.h"
#include "report/growth.h"
#include "report/walker.h"
#include "settings/settings.h"

namespace {

constexpr int32_t kHeaderLines = 2;
// The tab report's size fields are right-aligned in this many characters; a
// longer number is written whole.
constexpr uint8_t kTabSizeWidth = 14;

bool DelimitedReport() { return options.outputMode == OutputMode::tab || options.outputMode == OutputMode::comma; }

bool WasteColumnShown() { return options.showWaste && !options.dirMode; }

// The column titles, each quoted, joined by `separator`. -nosubs, -nototals,
// -asper, -asval and -nostats do not apply: the total and the without-
// subfolders columns are always there, and wasted space is always bytes.
std::string ColumnTitles(std::string_view separator) {
  std::string titles = QuoteDelimitedField("Total with subfolders");
  if (WasteColumnShown()) titles += std::string(separator) + QuoteDelimitedField("Wasted space");
  titles += std::string(separator) + QuoteDelimitedField("Without subfolders");
  if (options.showFileCounts) titles += std::string(separator) + QuoteDelimitedField("Files");
  if (AgeColumnShown()) titles += std::string(separator) + QuoteDelimitedField("Modified");
  if (GrowthShown()) titles += std::string(separator) + QuoteDelimitedField("Growth");
  titles += std::string(separator) + QuoteDelimitedField("Folder name");
  return titles;
}

// Lines 0 (titles) and 1 (empty): counted, and charged to the budget, also
// under -noheader, which only keeps them from being written.
void WriteDelimitedHeaderLine(int32_t line, std::string_view separator) {
  if (options.showHeader) WriteOutLine(line == 0 ? ColumnTitles(separator) : "");
}

// The top folder's path is reportPath alone: the start path (or the path
// of the folder the browser opened) already ends in a separator, and a
// drive root ("/", "D:\") gets no second one.
std::string RowPath(const TDirEntry& folder) {
  std::string path;
  AppendShownName(path, reportPath);
  if (!IsWalkTop(folder)) AppendShownName(path, MarkedName(folder));
  return QuoteDelimitedField(path);
}

// ISO 8601; empty for a folder without files.
std::string ModifiedField(const TDirEntry& folder) {
  return folder.modifiedSeconds == 0 ? "" : FormatIsoTime(folder.modifiedSeconds);
}

using NumberField = std::string (*)(int64_t value);
using TextField = std::string (*)(const std::string& text);

std::string PlainField(int64_t value) { return FormatPlainNumber(value); }
std::string PaddedField(int64_t value) { return PadLeft(FormatPlainNumber(value), kTabSizeWidth); }
std::string PlainText(const std::string& text) { return text; }
std::string PaddedText(const std::string& text) { return PadLeft(text, kTabSizeWidth); }

// total, [wasted], own size, [files], [growth], "path": the sizes through
// `sizeField`, the growth text through `growthField`, the file count always
// plain.
void WriteRow(const TDirEntry& folder, std::string_view separator, NumberField sizeField, TextField growthField) {
  std::string row = sizeField(TotalBytes(folder));
  if (WasteColumnShown()) row += std::string(separator) + sizeField(folder.wastedBytes);
  row += std::string(separator) + sizeField(folder.localBytes);
  if (options.showFileCounts) row += std::string(separator) + FormatPlainNumber(folder.fileCount);
  if (AgeColumnShown()) row += std::string(separator) + ModifiedField(folder);
  if (GrowthShown()) row += std::string(separator) + growthField(GrowthPlainText(GrowthOf(folder)));
  row += std::string(separator) + RowPath(folder);
  WriteOutLine(row);
}

void DescendPath(const TDirEntry& folder, bool) {
  reportPath += MarkedName(folder);
  reportPath += platform::kPathSeparator;
}

}  // namespace

void WriteCommaLine(const TDirEntry& folder, bool) { WriteRow(folder, ",", PlainField, PlainText); }
void WriteTabLine(const TDirEntry& folder, bool) { WriteRow(folder, "\t", PaddedField, PaddedText); }

int32_t CommaHeader() {
  return WalkHeader(kHeaderLines, [](int32_t line) { WriteDelimitedHeaderLine(line, ","); });
}
int32_t TabHeader() {
  return WalkHeader(kHeaderLines, [](int32_t line) { WriteDelimitedHeaderLine(line, "\t"); });
}

void BeginDelimitedOutput() {
  if (!options.utf8 || !DelimitedReport()) return;
  platform::WriteStandardOutputInUtf8();
  if (options.outputMode == OutputMode::comma && outputRedirected) WriteOut("\xEF\xBB\xBF");
}

void WarnAboutNamesOutsideCodePage() {
  if (options.utf8 || !DelimitedReport() || !platform::StandardOutputLostCharacters()) return;
  WriteErrorLine("Some names cannot be shown in the code page: use -utf8");
}

void ListCommaFolders(TDirEntry* first) {
  static const FolderLines kLines = {WriteCommaLine, DescendPath, &reportPath};
  ListFolders(first, kLines);
}

void ListTabFolders(TDirEntry* first) {
  static const FolderLines kLines = {WriteTabLine, DescendPath, &reportPath};
  ListFolders(first, kLines);
}

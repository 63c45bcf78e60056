#include "browse/files_page.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "browse/bar_input.h"
#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "report/files_report.h"
#include "report/report_origin.h"
#include "scan/file_stats.h"

namespace {

// The largest files the L key lists.
constexpr int32_t kLargestFilesOfFolder = 20;

constexpr std::string_view kFilesPageBar = "Up/Down:file Delete/X:delete Esc:back";

// The largest files below `at`, read again from the disk.
void NoteLargestFilesBelow(const FolderAt& at) {
  ReadAside(at, {0, kLargestFilesOfFolder, true}, [](const TDirEntry&) {});
}

struct FilesPage {
  std::string title;
  size_t top = 0;     // the first file line shown
  size_t cursor = 0;  // the file line in reverse video
};

FilesPage filesPage;

size_t FileLinesShown() { return static_cast<size_t>(std::max(pageLength - 4, 1)); }

// Its title, the files' titles, as many file lines as fit from the top and
// `bar` below them.
void DrawFilesPage(const std::string& bar) {
  FilesPage& page = filesPage;
  const size_t count = LargestFiles().size();
  page.cursor = std::min(page.cursor, count == 0 ? 0 : count - 1);
  page.top = std::clamp(page.top, page.cursor + 1 - std::min(page.cursor + 1, FileLinesShown()), page.cursor);
  ClearScreen();
  WriteOutLine(page.title);
  WriteOutLine("");
  WriteLargestFilesHeading();
  for (size_t row = page.top; row < count && row < page.top + FileLinesShown(); ++row) {
    ShowReversed(row == page.cursor);
    WriteLargestFileLine(row);
    ShowReversed(false);
  }
  WriteOut(FirstChars(bar, static_cast<size_t>(std::max(screenWidth - 1, 0))));
}

KeyRead AskKeyOnFilesPage(const std::string& question) {
  DrawFilesPage(question);
  return GetKeyPress();
}

std::string AskWordOnFilesPage(const std::string& question) {
  return TypedWord(question + " ", AskKeyOnFilesPage).value_or("");
}

constexpr BarQuestions kFilesPageQuestions = {AskKeyOnFilesPage, AskWordOnFilesPage};

}  // namespace

std::string ShowLargestFilesPage(const FolderAt& at) {
  // A loaded report lists only the files it holds, and never reads the disk.
  if (ReportLoaded()) {
    if (!NoteSavedFilesBelow(at.chain)) return std::string(kNotOnLoadedReport);
  } else {
    if (std::string changed = ChangedSinceScan(at); !changed.empty()) return changed;
    NoteLargestFilesBelow(at);
  }
  filesPage = {};
  filesPage.title = "The largest files below ";
  AppendShownName(filesPage.title, EnsureTrailingBackslash(PathOf(at)));
  std::string notice;
  while (true) {
    DrawFilesPage(notice.empty() ? std::string(kFilesPageBar) : notice);
    notice.clear();
    const KeyRead key = GetKeyPress();
    const uint8_t character = UpperAscii(key.character);
    if (character == kCtrlC || character == 'Q') EndFromBar();
    if (key.failed || character == kEsc || character == kBackspace || IsScan(key, kScanLeft)) break;
    if (IsScan(key, kScanUp) || character == 'K') {
      filesPage.cursor -= filesPage.cursor > 0 ? 1 : 0;
    } else if (IsScan(key, kScanDown) || character == 'J') {
      filesPage.cursor += 1;
    } else if (!LargestFiles().empty() && (IsScan(key, kScanDelete) || character == 'X')) {
      notice = DeleteListedFile(at, filesPage.cursor, kFilesPageQuestions);
    }
  }
  return "";
}

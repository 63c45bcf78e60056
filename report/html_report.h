// The HTML report: the document's head lines, the three walker operations,
// and the closing line. Three parties write the document, in this order: the
// banner writes the head lines at start-up, the walker runs HtmlHeader,
// ListHtmlFolders and HtmlFooter, and the driver writes the closing line,
// also when no walk took place (drive unreadable, start folder missing).
//
// Every text from outside the program (names, the start path, the command
// line, the tree characters, the volume label) goes through EscapeHtml. The
// table and cells carry the classes that doc/tf_style.css styles: "report"
// (the folder table), "l" (the tree cell), "totals" (the totals row) and
// "summary" (the drive statistics).
#pragma once

#include <cstdint>
#include <string>

#include "report/walker.h"

// The two head lines, written at start-up in HTML mode: the charset, utf-8
// on every system (standard output is switched to UTF-8 here), and the link
// to tf_style.css in the program's folder.
void WriteHtmlHead();
// "</body></html>", written after every HTML report run.
void WriteHtmlClose();
// The title, copyright and creation paragraphs that open every report page.
void WriteHtmlIntroduction();
// The drive statistics that end a report page.
void WriteHtmlDriveStatistics();

// Header operation: 15 line slots (title, copyright, product link, date,
// parameters, table head); slots 3, 13 and 14 write nothing, slot 5 writes
// two lines.
int32_t HtmlHeader();
// Folder lister: one table row per folder, in pre-order.
void ListHtmlFolders(TDirEntry* first);
// Footer operation: 9 line slots (totals row, end of table, drive
// statistics), or 3 under -nostats.
int32_t HtmlFooter(LineNumber totalLines);

// One folder's table row.
void WriteHtmlLine(const TDirEntry& folder, bool hasNextSibling);

// The copyright paragraph of header slot 1, with the maker's name linked.
std::string CopyrightParagraph();

inline constexpr OutputOperations kHtmlMode = {HtmlHeader, ListHtmlFolders, HtmlFooter};

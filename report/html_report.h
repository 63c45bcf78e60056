// The HTML report: the document's head lines, the three walker operations,
// and the closing line.
#pragma once

#include <cstdint>

#include "report/walker.h"

// The two head lines, written at start-up in HTML mode.
void WriteHtmlHead();
// "</body></html>", written after every HTML report run.
void WriteHtmlClose();

int32_t HtmlHeader();
void ListHtmlFolders(TDirEntry* first);
int32_t HtmlFooter(int32_t totalLines);

inline constexpr OutputOperations kHtmlMode = {HtmlHeader, ListHtmlFolders, HtmlFooter};

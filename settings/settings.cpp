#include "settings/settings.h"

// The graphics set is drawn with the box-drawing characters; on a Windows
// console or in a redirected Windows report they become the code page 437
// bytes 0xC0, 0xC3, 0xC4, 0xB3 at the platform's edge.
const TreeChars kGraphicsChars = {"\u2514", "\u251C", "\u2500", " ", "\u2502"};
const TreeChars kPlainChars = {"+", "|", "-", " ", "|"};

ReportOptions options;

const char* const kProductName = "Tallyfold";
const char* const kVersion = "5.0";

std::string ProductTitle() { return std::string(kProductName) + " v" + kVersion; }

int32_t effectiveClusterSize = 1;
std::string reportPath;
std::vector<std::string> commandLine;

// The one escaping routine of each output format. The renderers call these
// for every text that comes from outside the program (folder names, the
// start path, the command line, tree characters, the volume label); none of
// them escapes on its own.
#pragma once

#include <string>
#include <string_view>

// HTML text and attribute values: "&", "<", ">" and the double quote become
// entities, and the four box-drawing characters of the graphics set (U+2514,
// U+251C, U+2500, U+2502) become character references, so that a folder name
// cannot inject markup and the tree shows under any declared charset. Every
// other byte is kept as it is (Linux names need not be valid UTF-8).
std::string EscapeHtml(std::string_view text);

// One field of the comma and tab reports: the text in double quotes, with
// each double quote inside doubled (RFC 4180), so that a quote, a comma, a
// tab or a line break in a name stays inside its field.
std::string QuoteDelimitedField(std::string_view text);

// A JSON string, quotes included, in plain ASCII: the quote, the backslash
// and control characters escaped, every other character outside ASCII as
// \uXXXX (a surrogate pair above U+FFFF), and each byte that is not part of
// valid UTF-8 as \ufffd. ASCII passes unchanged through the Windows
// conversion of redirected output to the ANSI code page, so a name keeps
// every character on both systems.
std::string QuoteJsonString(std::string_view text);
// True when `text` is valid UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF).
bool IsValidUtf8(std::string_view text);

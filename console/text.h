// Small text utilities shared by every subsystem. Text is UTF-8; widths count
// characters, not bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

// Number of characters (UTF-8 code points) in `text`.
size_t CharCount(std::string_view text);
// The first `count` characters of `text`.
std::string_view FirstChars(std::string_view text, size_t count);
// `text` shortened to `keptChars` of its characters around "...": half of
// them from its start, the rest (the larger half) from its end, which tells
// names apart more often (report-2025.pdf, report-2026.pdf).
std::string MiddleCut(std::string_view text, size_t keptChars);

// Blanks on the left up to `width` characters; a longer text is kept whole.
std::string PadLeft(std::string_view text, uint8_t width);
// The same, appended to `out`.
void AppendPadLeft(std::string& out, std::string_view text, uint8_t width);
// Pads what `text` holds from `start` on with blanks on its left up to
// `width` characters, for a figure appended in place.
void PadLeftFrom(std::string& text, size_t start, uint8_t width);
// The two digits of `value` (0 to 99), a leading zero included.
void AppendTwoDigits(std::string& out, int64_t value);
// `count` copies of `piece` (one character, possibly several bytes).
std::string RepeatChar(uint8_t count, std::string_view piece);
// Appends `text` with each control character (C0, DEL, and the C1 range
// U+0080-U+009F) as "?", so that what it holds cannot move the cursor,
// change colours or break a line on a terminal.
void AppendControlsMasked(std::string& out, std::string_view text);
// Upper case by the user's locale.
std::string UpperText(std::string_view text);

// Appends the separator unless the text already ends with one.
std::string EnsureTrailingBackslash(std::string text, char separator = platform::kPathSeparator);
// The path cut before its last separator (one in the last position does not
// count), never shorter than its root: the first 3 characters of a drive path
// ("C:\"), or "/" for a POSIX path.
std::string ParentFolderText(std::string_view path, char separator = platform::kPathSeparator);

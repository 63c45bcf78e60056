// Number texts of the reports and of the reading prompt.
#pragma once

#include <cstdint>
#include <string>

// The thousands separator of the user's locale ("," when it cannot be read).
extern char thousandsSeparator;

// A whole number, digits grouped by thousands, "-" in front when negative;
// never cut, however wide.
std::string FormatCount(int64_t value);
// Bytes, KB or whole-tenth MB and GB; a negative size counts as 0.
std::string FormatSize(int64_t bytes);
// `part` as a whole-number percentage of `whole`, halves to even, right-
// aligned in three characters and "%"; "100%" at or above 100; "0%" when
// `whole` is 0.
std::string FormatPercent(int64_t part, int64_t whole);
// The same texts appended to `out`, for the lines of a report, which hold
// several each.
void AppendCount(std::string& out, int64_t value);
void AppendSize(std::string& out, int64_t bytes);
void AppendPercent(std::string& out, int64_t part, int64_t whole);
// A moment (seconds since 1970 UTC) as local time, "2026-12-07 13:05".
std::string FormatLocalMinute(int64_t seconds);
// The same in ISO 8601 with its offset from UTC, "2026-12-07T13:05:09+01:00".
std::string FormatIsoTime(int64_t seconds);
// Decimal digits only, "-" in front when negative.
std::string FormatPlainNumber(int64_t value);

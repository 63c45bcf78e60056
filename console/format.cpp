#include "console/format.h"

#include <algorithm>
#include <cstdint>

#include "console/held_sums.h"
#include "console/text.h"
#include "platform/platform.h"

char thousandsSeparator = ',';

namespace {

// The digits in groups of three, written from the last one back into a
// buffer on the stack: a report formats a few numbers per folder.
void AppendGroupedDigits(std::string& text, unsigned long long value) {
  char digits[32];  // 20 digits and 6 separators at most
  char* const end = digits + sizeof digits;
  char* first = end;
  for (int inGroup = 0;; ++inGroup) {
    if (inGroup == 3) {
      *--first = thousandsSeparator;
      inGroup = 0;
    }
    *--first = static_cast<char>('0' + value % 10);
    value /= 10;
    if (value == 0) break;
  }
  text.append(first, end);
}

// The sign and the grouped digits of `scaled`, a whole number or, with one
// decimal, tenths; always whole, so a figure wider than its column widens
// the line instead of losing digits.
void AppendGroupedText(std::string& out, bool negative, unsigned long long scaled, int decimals) {
  if (negative) out += '-';
  AppendGroupedDigits(out, decimals == 1 ? scaled / 10 : scaled);
  if (decimals == 1) {
    out += '.';
    out += static_cast<char>('0' + scaled % 10);
  }
}

// bytes / 2^shift, in tenths with one decimal, rounded half up; in integers,
// so that it is exact for every size and costs no floating point per line.
unsigned long long RoundedUnits(int64_t bytes, int shift, int decimals) {
  const unsigned __int128 scaled = static_cast<unsigned __int128>(bytes) * (decimals == 1 ? 10 : 1);
  const unsigned __int128 half = (static_cast<unsigned __int128>(1) << shift) >> 1;
  return static_cast<unsigned long long>((scaled + half) >> shift);
}

// part x 100 / whole, halves to the even side.
template <typename Integer>
Integer RoundedPercent(Integer part, Integer whole) {
  Integer numerator = part * 100;
  Integer denominator = whole;
  if (denominator < 0) {
    numerator = -numerator;
    denominator = -denominator;
  }
  Integer quotient = numerator / denominator;
  Integer remainder = numerator % denominator;
  if (remainder < 0) {
    quotient -= 1;
    remainder += denominator;
  }
  if (2 * remainder > denominator || (2 * remainder == denominator && quotient % 2 != 0)) quotient += 1;
  return quotient;
}

// What an Append function writes, as a text of its own.
template <typename Append, typename... Figures>
std::string Formatted(Append append, Figures... figures) {
  std::string text;
  append(text, figures...);
  return text;
}

}  // namespace

void AppendCount(std::string& out, int64_t value) {
  const auto magnitude = static_cast<unsigned long long>(value);
  AppendGroupedText(out, value < 0, value < 0 ? 0 - magnitude : magnitude, 0);
}

void AppendSize(std::string& out, int64_t bytes) {
  struct Unit {
    int shift;
    int decimals;
    const char* name;
  };
  constexpr int64_t kKilo = 1024, kMega = kKilo * 1024, kGiga = kMega * 1024;
  if (bytes < 0) bytes = 0;
  const Unit unit = bytes < kKilo   ? Unit{0, 0, " bytes"}
                    : bytes < kMega ? Unit{10, 0, " KB"}
                    : bytes < kGiga ? Unit{20, 1, " MB"}
                                    : Unit{30, 1, " GB"};
  AppendGroupedText(out, false, RoundedUnits(bytes, unit.shift, unit.decimals), unit.decimals);
  out += unit.name;
}

void AppendPercent(std::string& out, int64_t part, int64_t whole) {
  if (whole == 0) {
    out += "0%";
    return;
  }
  // Parts up to some 92 PB take 64-bit arithmetic, larger ones 128-bit so
  // that part x 100 cannot overflow.
  constexpr int64_t kNarrowLimit = INT64_MAX / 100;
  const bool narrow = part >= -kNarrowLimit && part <= kNarrowLimit && whole > 0;
  const __int128 quotient = narrow ? RoundedPercent<int64_t>(part, whole) : RoundedPercent<__int128>(part, whole);
  if (quotient >= 100) {
    out += "100%";
    return;
  }
  // Nearly every share is 0 to 99: its digits padded to three at once,
  // without a text of their own, cost a third of the general way.
  if (quotient >= 0) {
    const int share = static_cast<int>(quotient);
    out += ' ';
    out += share < 10 ? ' ' : static_cast<char>('0' + share / 10);
    out += static_cast<char>('0' + share % 10);
    out += '%';
    return;
  }
  const size_t start = out.size();
  out += std::to_string(static_cast<long long>(quotient));
  PadLeftFrom(out, start, 3);
  out += '%';
}

std::string FormatCount(int64_t value) { return Formatted(AppendCount, value); }
std::string FormatSize(int64_t bytes) { return Formatted(AppendSize, bytes); }
std::string FormatPercent(int64_t part, int64_t whole) { return Formatted(AppendPercent, part, whole); }

std::string FormatPlainNumber(int64_t value) { return std::to_string(value); }

namespace {

void AppendLocalDate(std::string& out, const platform::LocalTime& time, char between) {
  out += std::to_string(time.year);
  out += '-';
  AppendTwoDigits(out, time.month);
  out += '-';
  AppendTwoDigits(out, time.day);
  out += between;
  AppendTwoDigits(out, time.hour);
  out += ':';
  AppendTwoDigits(out, time.minute);
}

}  // namespace

std::string FormatLocalMinute(int64_t seconds) {
  std::string text;
  AppendLocalDate(text, platform::LocalTimeOf(seconds), ' ');
  return text;
}

std::string FormatIsoTime(int64_t seconds) {
  const platform::LocalTime time = platform::LocalTimeOf(seconds);
  std::string text;
  AppendLocalDate(text, time, 'T');
  text += ':';
  AppendTwoDigits(text, time.second);
  const int offset = time.offsetMinutes < 0 ? -time.offsetMinutes : time.offsetMinutes;
  text += time.offsetMinutes < 0 ? '-' : '+';
  AppendTwoDigits(text, offset / 60);
  text += ':';
  AppendTwoDigits(text, offset % 60);
  return text;
}


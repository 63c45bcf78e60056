#include "report/format.h"

#include <algorithm>
#include <cmath>

#include "console/text.h"

char thousandsSeparator = ',';

namespace {

constexpr size_t kMaxGroupedLength = 20;

std::string GroupThousands(std::string digits) {
  std::string grouped;
  size_t leading = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
  grouped.append(digits, 0, leading);
  for (size_t i = leading; i < digits.size(); i += 3) {
    grouped.push_back(thousandsSeparator);
    grouped.append(digits, i, 3);
  }
  return grouped;
}

}  // namespace

std::string FormatGrouped(long double value, int decimals) {
  const long double scale = decimals == 1 ? 10.0L : 1.0L;
  const auto scaled = static_cast<unsigned long long>(std::floor(std::fabs(value) * scale + 0.5L));
  std::string text = value < 0 ? "-" : "";
  text += GroupThousands(std::to_string(decimals == 1 ? scaled / 10 : scaled));
  if (decimals == 1) {
    text += '.';
    text += static_cast<char>('0' + scaled % 10);
  }
  if (text.size() > kMaxGroupedLength) text.resize(kMaxGroupedLength);
  return text;
}

std::string FormatCount(int64_t value) { return FormatGrouped(static_cast<long double>(value), 0); }

std::string FormatSize(int64_t bytes) {
  constexpr int64_t kKilo = 1024, kMega = kKilo * 1024, kGiga = kMega * 1024;
  if (bytes < 0) bytes = 0;
  // The divisors are powers of two, so each quotient is exact before rounding.
  const auto exact = static_cast<long double>(bytes);
  if (bytes < kKilo) return FormatGrouped(exact, 0) + " bytes";
  if (bytes < kMega) return FormatGrouped(exact / kKilo, 0) + " KB";
  if (bytes < kGiga) return FormatGrouped(exact / kMega, 1) + " MB";
  return FormatGrouped(exact / kGiga, 1) + " GB";
}

std::string FormatPercent(int64_t part, int64_t whole) {
  if (whole == 0) return "0%";
  // 128-bit so that part x 100 cannot overflow; halves go to the even side.
  __int128 numerator = static_cast<__int128>(part) * 100;
  __int128 denominator = whole;
  if (denominator < 0) {
    numerator = -numerator;
    denominator = -denominator;
  }
  __int128 quotient = numerator / denominator;
  __int128 remainder = numerator % denominator;
  if (remainder < 0) {
    quotient -= 1;
    remainder += denominator;
  }
  if (2 * remainder > denominator || (2 * remainder == denominator && quotient % 2 != 0)) quotient += 1;
  if (quotient >= 100) return "100%";
  return PadLeft(std::to_string(static_cast<long long>(quotient)), 3) + "%";
}

int64_t WastageBaseBytes(const TDirEntry& folder) {
  int64_t folded = folder.subBytes;
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
    folded -= TotalBytes(*child);
  }
  // subBytes is held below the 64-bit limit, so on a tree of that size the
  // shown children can outweigh it.
  return folder.localBytes + std::max<int64_t>(folded, 0);
}

std::string FormatPlainNumber(int64_t value) { return std::to_string(value); }

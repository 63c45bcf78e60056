#include "console/text.h"

#include <algorithm>

namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

size_t CharCount(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(),
                                           [](char c) { return !IsContinuationByte(c); }));
}

std::string_view FirstChars(std::string_view text, size_t count) {
  size_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsContinuationByte(text[i])) continue;
    if (seen == count) return text.substr(0, i);
    ++seen;
  }
  return text;
}

std::string MiddleCut(std::string_view text, size_t keptChars) {
  const size_t length = CharCount(text);
  const size_t head = keptChars / 2;
  std::string cut(FirstChars(text, head));
  cut += "...";
  cut += text.substr(FirstChars(text, length - std::min(keptChars - head, length)).size());
  return cut;
}

std::string PadLeft(std::string_view text, uint8_t width) {
  std::string result;
  AppendPadLeft(result, text, width);
  return result;
}

void AppendPadLeft(std::string& out, std::string_view text, uint8_t width) {
  const size_t length = CharCount(text);
  if (length < width) out.append(width - length, ' ');
  out.append(text);
}

void PadLeftFrom(std::string& text, size_t start, uint8_t width) {
  const size_t length = CharCount(std::string_view(text).substr(start));
  if (length < width) text.insert(start, width - length, ' ');
}

void AppendTwoDigits(std::string& out, int64_t value) {
  out += static_cast<char>('0' + value / 10);
  out += static_cast<char>('0' + value % 10);
}

std::string RepeatChar(uint8_t count, std::string_view piece) {
  std::string result;
  result.reserve(count * piece.size());
  for (int i = 0; i < count; ++i) result.append(piece);
  return result;
}

void AppendControlsMasked(std::string& out, std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    // A C1 character is 0xC2 followed by 0x80-0x9F in UTF-8.
    const bool c1 = byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F &&
                    IsContinuationByte(text[i + 1]);
    if (byte < 0x20 || byte == 0x7F || c1) {
      out.push_back('?');
      if (c1) ++i;
    } else {
      out.push_back(text[i]);
    }
  }
}

std::string UpperText(std::string_view text) { return platform::UpperCase(text); }

std::string EnsureTrailingBackslash(std::string text, char separator) {
  if (text.empty() || text.back() != separator) text.push_back(separator);
  return text;
}

std::string ParentFolderText(std::string_view path, char separator) {
  size_t rootLength = separator == '/' ? 1 : 3;
  if (path.size() <= rootLength) return std::string(path);
  // A separator in the last position is ignored.
  size_t cut = path.rfind(separator, path.size() - 2);
  if (cut == std::string_view::npos || cut < rootLength) cut = rootLength;
  return std::string(path.substr(0, cut));
}

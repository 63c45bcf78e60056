#include "console/line_fit.h"

#include <algorithm>

#include "console/text.h"

LineFit lineFit;

namespace {

constexpr std::string_view kCut = "...";

// The last `count` characters of `text`.
std::string_view LastChars(std::string_view text, size_t count) {
  const size_t length = CharCount(text);
  return text.substr(FirstChars(text, length - std::min(count, length)).size());
}

}  // namespace

std::string FittedLine(std::string_view line) {
  std::string fitted;
  if (lineFit.marked) {
    fitted = kLineMark;
    line.remove_prefix(line.starts_with(' ') ? 1 : 0);
    lineFit.marked = false;
  }
  fitted += line;
  if (lineFit.width != 0) fitted.resize(FirstChars(fitted, lineFit.width).size());
  return fitted;
}

void FitName(std::string& line, size_t nameStart, size_t nameEnd) {
  if (lineFit.width == 0) return;
  const size_t lineChars = CharCount(line);
  if (lineChars <= lineFit.width) return;
  const std::string_view name = std::string_view(line).substr(nameStart, nameEnd - nameStart);
  const size_t nameChars = CharCount(name);
  const size_t excess = lineChars - lineFit.width;
  if (nameChars < excess + kCut.size() + 2) return;
  const size_t kept = nameChars - excess - kCut.size();
  // The end of a name tells names apart more often than its start
  // (report-2025.pdf, report-2026.pdf), so it keeps the larger half.
  const size_t head = kept / 2;
  std::string fitted(FirstChars(name, head));
  fitted += kCut;
  fitted += LastChars(name, kept - head);
  line.replace(nameStart, nameEnd - nameStart, fitted);
}

#include "console/line_fit.h"

#include "console/text.h"

LineFit lineFit;

// What stands for the middle of a name cut to fit.
constexpr size_t kCutChars = 3;

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
  if (nameChars < excess + kCutChars + 2) return;
  line.replace(nameStart, nameEnd - nameStart, MiddleCut(name, nameChars - excess - kCutChars));
}

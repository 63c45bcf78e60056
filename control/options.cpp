#include "control/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <thread>

#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "control/launch.h"
#include "control/settings.h"
#include "platform/platform.h"
#include "scan/exclusions.h"

std::string defaultParameters;
std::vector<std::string> commandLine;

namespace {

constexpr int32_t kMaxClusterSize = 65536;
constexpr int64_t kMaxScanThreads = 64;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool ApplySortKeyword(std::string_view keyword) {
  static const struct {
    std::string_view keyword;
    SortOrder order;
  } kKeywords[] = {{"NONE", SortOrder::none},   {"NAME", SortOrder::name},
                   {"LOCAL", SortOrder::local}, {"TOTAL", SortOrder::total},
                   {"WASTE", SortOrder::waste}, {"FILES", SortOrder::files}};
  for (const auto& entry : kKeywords) {
    if (entry.keyword == keyword) {
      options.sortOrder = entry.order;
      return true;
    }
  }
  return false;
}

void ApplySortOption(std::string_view keyword) {
  if (ApplySortKeyword(keyword)) return;
  WriteLinePaged("Invalid sorting method specified - " + std::string(keyword));
  WriteLinePaged("(Valid methods are: name,local,total,waste,files,none)");
}

void ApplyClusterOption(std::string_view value) {
  int64_t size = ParseSizeValue(value);
  if (size > kMaxClusterSize) {
    WriteLinePaged("Invalid cluster size > 64K ignored.");
    size = kMaxClusterSize;
  }
  options.requestedClusterSize = static_cast<int32_t>(size);
}

void Launch(const char* message, const std::string& target) {
  WriteLinePaged(message);
  LaunchAndExit(target);
}

// The switches that take the whole word; true when `upper` was one of them.
bool ApplyWholeWordSwitch(std::string_view upper) {
  if (upper == "-C+") options.treeChars = kGraphicsChars;
  else if (upper == "-C-") options.treeChars = kPlainChars;
  else if (upper == "-P") options.pauseEachPage = false;
  else if (upper == "-TAB") options.outputMode = OutputMode::tab;
  else if (upper == "-COMMA") options.outputMode = OutputMode::comma;
  else if (upper == "-HTML") options.outputMode = OutputMode::html;
  else if (upper == "-LONGEST") options.longestPaths = true;
  else if (upper == "-NOWASTE") options.showWaste = false;
  else if (upper == "-NOFILES") options.showFileCounts = false;
  else if (upper == "-NOSUBS") options.showOwnSize = false;
  else if (upper == "-NOTOTALS") options.showTotals = false;
  else if (upper == "-NOOFFLINE") options.includeOffline = false;
  else if (upper == "-LINKS") options.countEveryLink = true;
  else return false;
  return true;
}

// Words of the table after -NOOFFLINE, in its order; true when applied.
bool ApplyLaterSwitch(std::string_view upper) {
  if (StartsWith(upper, "-NOSTATS")) options.showDriveStats = false;
  else if (StartsWith(upper, "-NOHEADER")) options.showHeader = false;
  else if (upper == "-ASPER") options.wasteAsPercent = true;
  else if (upper == "-ASVAL") options.wasteAsPercent = false;
  else if (upper == "-W") {
    ShowWelcome();
    EndProgram(0);
  } else if (upper == "-DIR") {
    options.dirMode = true;
    options.showWaste = false;
  } else if (upper == "-SUPPORT") Launch("Starting Web browser to show Quenlow support page.", SupportPageAddress());
  else if (upper == "-CONFIG") Launch("Starting Tallyfold configuration program", SettingsProgramPath());
  else if (upper == "-MANUAL" || upper == "-HELP") {
    WriteLinePaged("Starting program to display Tallyfold help manual");
    OpenHelpFile();
  } else if (upper == "-TALLYFOLD") Launch("Starting Web browser for Tallyfold homepage", ProductPageAddress());
  else if (upper == "-VANTOR") Launch("Starting Web browser to show Quenlow home page.", MakerPageAddress());
  else return false;
  return true;
}

// A decimal real: blanks, sign, digits, optional fraction, optional exponent.
bool ConvertReal(std::string_view text, double& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::string_view number = text.substr(i);
  if (number.empty() || number[0] == '+' || number[0] == '-') return false;
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value,
                                      std::chars_format::general);
  if (error != std::errc() || end != number.data() + number.size()) return false;
  if (negative) value = -value;
  return true;
}

int64_t Multiplier(char last) {
  switch (last) {
    case 'K': return 1024;
    case 'M': return 1024 * 1024;
    case 'G': return 1024 * 1024 * 1024;
    default: return 1;
  }
}

// Val-style whole number: blanks, sign, decimal digits or hex after "$", "X"
// or "0X". False when anything is left over or the value does not fit.
bool ConvertInteger(std::string_view text, int64_t& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  std::string_view rest = text.substr(i);
  if (StartsWith(rest, "$") || StartsWith(rest, "X") || StartsWith(rest, "x")) {
    base = 16;
    rest.remove_prefix(1);
  } else if (StartsWith(rest, "0X") || StartsWith(rest, "0x")) {
    base = 16;
    rest.remove_prefix(2);
  }
  if (rest.empty() || rest[0] == '+' || rest[0] == '-') return false;
  uint64_t magnitude = 0;
  auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), magnitude, base);
  if (error != std::errc() || end != rest.data() + rest.size()) return false;
  const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  if (magnitude > limit) return false;
  value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

// -threads=#: 1 to 64 threads, or 0 for one per processor.
void ApplyThreadsOption(std::string_view value) {
  int64_t threads = 0;
  if (!ConvertInteger(value, threads) || threads < 0 || threads > kMaxScanThreads) {
    WriteLinePaged("Invalid number of threads - " + std::string(value) + " (use 1 to 64, or 0 for one per processor)");
    return;
  }
  if (threads == 0) threads = std::clamp<int64_t>(std::thread::hardware_concurrency(), 1, kMaxScanThreads);
  options.scanThreads = static_cast<uint8_t>(threads);
}

void ApplyExcludeOption(std::string_view pattern) {
  if (AddExclusion(pattern)) return;
  WriteLinePaged("Invalid exclusion pattern specified - \"" + std::string(pattern) +
                 "\" (give a folder name or a path below the start folder)");
}

}  // namespace

void ReadRegistryDefaults() { defaultParameters = platform::ReadStoredDefaults(); }

void ApplyParameterSources() {
  SplitParameterString(defaultParameters);
  std::string environment = platform::EnvironmentVariable("TALLYFOLD");
  if (!environment.empty()) SplitParameterString(environment);
  for (size_t i = 1; i < commandLine.size(); ++i) ParseOption(commandLine[i]);
}

std::vector<std::string> ParameterWords(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool inQuotes = false;
  for (char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (c == '"') {
      inQuotes = !inQuotes;
    } else if ((code == 8 || code == 32 || code == 255) && !inQuotes) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word.push_back(c);
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

void SplitParameterString(std::string_view text) {
  for (const std::string& word : ParameterWords(text)) ParseOption(word);
}

void ParseOption(const std::string& word) {
  const std::string upper = UpperText(word);
  // The prefix words and the whole words never match the same text, so
  // testing the prefixes first keeps the table's outcome.
  if (StartsWith(upper, "-SORT=")) return ApplySortOption(std::string_view(upper).substr(6));
  if (StartsWith(upper, "-SIZE=") || StartsWith(upper, "-SIZE:")) {
    options.minFolderBytes = ParseSizeValue(std::string_view(upper).substr(6));
    return;
  }
  if (StartsWith(upper, "-CL=") || StartsWith(upper, "-CL:")) {
    return ApplyClusterOption(std::string_view(upper).substr(4));
  }
  if (ApplyWholeWordSwitch(upper)) return;
  if (ApplyLaterSwitch(upper)) return;
  if (StartsWith(upper, "-THREADS=")) return ApplyThreadsOption(std::string_view(upper).substr(9));
  // The pattern keeps the letter case the user typed.
  if (StartsWith(upper, "-EXCLUDE=") || StartsWith(upper, "-EXCLUDE:")) {
    return ApplyExcludeOption(std::string_view(word).substr(9));
  }
  if (ParseDepthOption(word)) return;
  options.startFolder = word;
}

int64_t ParseSizeValue(std::string_view upperText) {
  int64_t multiplier = 1;
  if (!upperText.empty()) {
    multiplier = Multiplier(upperText.back());
    if (multiplier != 1) upperText.remove_suffix(1);
  }
  double number = 0;
  // A number that does not convert, or whose result does not fit, counts
  // as 0; its multiplier is not applied.
  if (!ConvertReal(upperText, number)) return 0;
  const double rounded = std::nearbyint(number);  // halves to even
  constexpr double kLimit = 9223372036854775807.0;
  if (!(std::fabs(rounded) < kLimit)) return 0;
  const auto whole = static_cast<int64_t>(rounded);
  int64_t product = 0;
  // -2^63 fits as a product, but its absolute value does not.
  if (__builtin_mul_overflow(whole, multiplier, &product)) return 0;
  if (product == std::numeric_limits<int64_t>::min()) return 0;
  return product < 0 ? -product : product;
}

bool ParseDepthOption(std::string_view word) {
  if (word.size() < 2 || word[0] != '-') return false;
  int64_t value = 0;
  if (!ConvertInteger(word.substr(1), value)) return false;
  const auto depth = static_cast<uint8_t>(value & 0xFF);
  options.maxDepth = depth == 0 ? 255 : depth;
  return true;
}

std::vector<std::string> SplitCommandLine(std::string_view text) {
  std::vector<std::string> arguments;
  size_t i = 0;
  auto separates = [&](size_t at) {
    const auto code = static_cast<unsigned char>(text[at]);
    return code >= 1 && code <= 32;
  };
  while (true) {
    while (true) {
      while (i < text.size() && separates(i)) ++i;
      if (i + 1 < text.size() && text[i] == '"' && text[i + 1] == '"') {
        i += 2;
      } else {
        break;
      }
    }
    if (i >= text.size()) break;
    std::string argument;
    while (i < text.size() && !separates(i)) {
      if (text[i] == '"') {
        ++i;
        while (i < text.size() && text[i] != '"') argument.push_back(text[i++]);
        if (i < text.size()) ++i;
      } else {
        argument.push_back(text[i++]);
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

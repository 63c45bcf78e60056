#include "control/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "control/launch.h"
#include "control/settings.h"
#include "platform/platform.h"
#include "scan/exclusions.h"

std::string defaultParameters;
std::vector<std::string> commandLine;
std::vector<std::string> folderWords;

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
                   {"WASTE", SortOrder::waste}, {"FILES", SortOrder::files},
                   {"GROWTH", SortOrder::growth}};
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
  WriteMessageLine("Invalid sorting method specified - " + std::string(keyword));
  WriteMessageLine("(Valid methods are: name,local,total,waste,files,none)");
}

void ApplySizeLimit(int64_t size) { options.minFolderBytes = size; }

void ApplyClusterSize(int64_t size) {
  if (size > kMaxClusterSize) {
    WriteMessageLine("Invalid cluster size > 64K ignored.");
    size = kMaxClusterSize;
  }
  options.requestedClusterSize = static_cast<int32_t>(size);
}

// The options whose value is a size. A value that does not convert (a
// word, "1,5M", nothing) still sets the option, to 0, and is named in a
// warning that says what 0 means for it.
struct SizeOption {
  std::string_view equalsForm;
  std::string_view colonForm;
  void (*apply)(int64_t size);
  std::string_view invalidValue;  // written before the word
  std::string_view takenAs;       // written after it
};

constexpr SizeOption kSizeOptions[] = {
    {"-SIZE=", "-SIZE:", ApplySizeLimit, "Invalid size specified - ", " (no size limit)"},
    {"-CL=", "-CL:", ApplyClusterSize, "Invalid cluster size specified - ",
     " (the drive's cluster size is used)"},
};

// True when `upper` was one of the size options; `word` is what the user typed.
bool ApplySizeOption(const std::string& word, std::string_view upper) {
  for (const SizeOption& option : kSizeOptions) {
    if (!StartsWith(upper, option.equalsForm) && !StartsWith(upper, option.colonForm)) continue;
    const std::optional<int64_t> size = ConvertSizeValue(upper.substr(option.equalsForm.size()));
    if (!size) WriteMessageLine(std::string(option.invalidValue) + word + std::string(option.takenAs));
    option.apply(size.value_or(0));
    return true;
  }
  return false;
}

void Launch(const char* message, const std::string& target) {
  WriteMessageLine(message);
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
  else if (upper == "-JSON") options.outputMode = OutputMode::json;
  else if (upper == "-LONGEST") options.longestPaths = true;
  else if (upper == "-NOWASTE") options.showWaste = false;
  else if (upper == "-NOFILES") options.showFileCounts = false;
  else if (upper == "-NOSUBS") options.showOwnSize = false;
  else if (upper == "-NOTOTALS") options.showTotals = false;
  else if (upper == "-NOOFFLINE") options.includeOffline = false;
  else if (upper == "-LINKS") options.countEveryLink = true;
  else if (upper == "-UTF8") options.utf8 = true;
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
    WriteMessageLine("Starting program to display Tallyfold help manual");
    OpenHelpFile();
  } else if (upper == "-TALLYFOLD") Launch("Starting Web browser for Tallyfold homepage", ProductPageAddress());
  else if (upper == "-VANTOR") Launch("Starting Web browser to show Quenlow home page.", MakerPageAddress());
  else return false;
  return true;
}

// --help and --version, which other command-line tools answer to: each
// ends the run; returns only when `upper` is neither.
void AnswerLongOption(std::string_view upper) {
  if (upper == "--HELP") {
    if (actionObserver != nullptr) actionObserver({"shows the usage screen", true});
    // The messages of the words before it come first, as they would after -?.
    ReleaseMessages();
    ShowUsage();
    EndProgram(0);
  }
  if (upper == "--VERSION") {
    if (actionObserver != nullptr) actionObserver({"shows the version", true});
    ReleaseMessages();
    WriteOutLine(std::string("tallyfold ") + kVersion);
    EndProgram(0);
  }
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
    WriteMessageLine("Invalid number of threads - " + std::string(value) + " (use 1 to 64, or 0 for one per processor)");
    return;
  }
  if (threads == 0) threads = std::clamp<int64_t>(platform::UsableProcessors(), 1, kMaxScanThreads);
  options.scanThreads = static_cast<uint8_t>(threads);
}

// `word` is what the user typed: the pattern keeps its letter case.
void ApplyExcludeOption(const std::string& word) {
  if (AddExclusion(std::string_view(word).substr(9))) return;
  WriteMessageLine("Invalid exclusion pattern specified - " + word + " (no folder is left out for it)");
}

}  // namespace

void ReadRegistryDefaults() { defaultParameters = platform::ReadStoredDefaults(); }

void ApplyParameterSources() {
  // A later word may still choose the output form, which decides where the
  // messages of the earlier ones go.
  HoldMessages();
  SplitParameterString(defaultParameters);
  std::string environment = platform::EnvironmentVariable("TALLYFOLD");
  if (!environment.empty()) SplitParameterString(environment);
  for (size_t i = 1; i < commandLine.size(); ++i) ParseOption(commandLine[i]);
  ReleaseMessages();
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
  if (ApplySizeOption(word, upper)) return;
  if (StartsWith(upper, "-COMPARE=") || StartsWith(upper, "-COMPARE:")) {
    options.compareFile = word.substr(9);  // a path, as the user typed it
    return;
  }
  if (ApplyWholeWordSwitch(upper)) return;
  if (ApplyLaterSwitch(upper)) return;
  if (StartsWith(upper, "-THREADS=")) return ApplyThreadsOption(std::string_view(upper).substr(9));
  if (StartsWith(upper, "-EXCLUDE=") || StartsWith(upper, "-EXCLUDE:")) return ApplyExcludeOption(word);
  AnswerLongOption(upper);
  if (ParseDepthOption(word)) return;
  options.startFolder = word;
  folderWords.push_back(word);
}

void WarnAboutUnknownOptions() {
  for (size_t i = 0; i < folderWords.size(); ++i) {
    if (!StartsWith(folderWords[i], "-")) continue;
    const bool replaced = i + 1 < folderWords.size();
    WriteErrorLine("Unknown option " + folderWords[i] + (replaced ? " - ignored" : " - taken as the start folder"));
  }
}

int64_t ParseSizeValue(std::string_view upperText) { return ConvertSizeValue(upperText).value_or(0); }

std::optional<int64_t> ConvertSizeValue(std::string_view upperText) {
  int64_t multiplier = 1;
  if (!upperText.empty()) {
    multiplier = Multiplier(upperText.back());
    if (multiplier != 1) upperText.remove_suffix(1);
  }
  double number = 0;
  // A number that does not convert, or whose result does not fit, has no
  // value; its multiplier is not applied.
  if (!ConvertReal(upperText, number)) return std::nullopt;
  const double rounded = std::nearbyint(number);  // halves to even
  constexpr double kLimit = 9223372036854775807.0;
  if (!(std::fabs(rounded) < kLimit)) return std::nullopt;
  const auto whole = static_cast<int64_t>(rounded);
  int64_t product = 0;
  // -2^63 fits as a product, but its absolute value does not.
  if (__builtin_mul_overflow(whole, multiplier, &product)) return std::nullopt;
  if (product == std::numeric_limits<int64_t>::min()) return std::nullopt;
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

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
#include "mft/table_scan.h"
#include "platform/platform.h"
#include "scan/exclusions.h"
#include "settings/settings.h"

std::string defaultParameters;
std::vector<std::string> folderWords;
std::vector<std::string> unknownLongOptions;
std::vector<std::string> commandLineFolders;

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
                   {"GROWTH", SortOrder::growth}, {"AGE", SortOrder::age}};
  for (const auto& entry : kKeywords) {
    if (entry.keyword == keyword) {
      options.sortOrder = entry.order;
      // Ordering by age needs the ages.
      if (entry.order == SortOrder::age) options.noteAges = true;
      return true;
    }
  }
  return false;
}

void ApplySortOption(std::string_view keyword) {
  if (ApplySortKeyword(keyword)) return;
  WriteMessageLine("Invalid sorting method specified - " + std::string(keyword));
  WriteMessageLine("(Valid methods are: name,local,total,waste,files,none,growth,age)");
}

void ApplySizeLimit(int64_t size) { options.minFolderBytes = size; }

void ApplyClusterSize(int64_t size) {
  if (size > kMaxClusterSize) {
    WriteMessageLine("Invalid cluster size > 64K ignored.");
    size = kMaxClusterSize;
  }
  options.requestedClusterSize = static_cast<int32_t>(size);
}

// A word the option table recognised: as typed, and the value after its
// "=" or ":" as typed and upper-cased.
struct OptionUse {
  const std::string& word;
  std::string_view typedValue;
  std::string_view upperValue;
};

// The options whose value is a size. A value that does not convert (a
// word, "1,5M", nothing) still sets the option, to 0, and is named in a
// warning that says what 0 means for it.
struct SizeOption {
  void (*apply)(int64_t size);
  std::string_view invalidValue;  // written before the word
  std::string_view takenAs;       // written after it
};

constexpr SizeOption kSizeLimit = {ApplySizeLimit, "Invalid size specified - ", " (no size limit)"};
constexpr SizeOption kClusterSize = {ApplyClusterSize, "Invalid cluster size specified - ",
                                     " (the drive's cluster size is used)"};

void ApplySizeOption(const OptionUse& use, const SizeOption& option) {
  const std::optional<int64_t> size = ConvertSizeValue(use.upperValue);
  if (!size) WriteMessageLine(std::string(option.invalidValue) + use.word + std::string(option.takenAs));
  option.apply(size.value_or(0));
}

void Launch(const char* message, const std::string& target) {
  WriteMessageLine(message);
  LaunchAndExit(target);
}

void OpenManual() {
  WriteMessageLine("Starting program to display Tallyfold help manual");
  OpenHelpFile();
}

// --help, -h, --version and -version, which other command-line tools answer
// to: each ends the run.
[[noreturn]] void AnswerHelpWord() {
  if (actionObserver != nullptr) actionObserver({"shows the option help", true});
  // The messages of the words before it come first, as they would after -?.
  ReleaseMessages();
  ShowHelp();
  EndProgram(0);
}

[[noreturn]] void AnswerVersionWord() {
  if (actionObserver != nullptr) actionObserver({"shows the version", true});
  ReleaseMessages();
  WriteOutLine(std::string("tallyfold ") + kVersion);
  EndProgram(0);
}

void ApplyThreadsOption(std::string_view value);
void ApplyTopOption(std::string_view value);

constexpr int32_t kDefaultTopFiles = 20;
constexpr int64_t kMaxTopFiles = 100000;
void ApplyExcludeOption(const std::string& word, std::string_view pattern);

// How a word of the option table is recognised.
enum class Form : uint8_t {
  whole,        // the whole word: -tab
  prefix,       // the word begins with it, whatever follows: -nostats
  equalsValue,  // a value follows its "=": -sort=name
  anyValue,     // a value follows its "=" or the same word with ":": -size=2M, -size:2M
};

// Every option but the depth word (-#): the help has a line for each.
struct OptionWord {
  std::string_view upper;  // up to the value, as the upper-cased word holds it
  Form form;
  void (*apply)(const OptionUse& use);
};

constexpr OptionWord kOptionTable[] = {
    {"-SIZE=", Form::anyValue, [](const OptionUse& use) { ApplySizeOption(use, kSizeLimit); }},
    {"-CL=", Form::anyValue, [](const OptionUse& use) { ApplySizeOption(use, kClusterSize); }},
    {"-DIR", Form::whole, [](const OptionUse&) {
       options.dirMode = true;
       options.showWaste = false;
     }},
    {"-ASPER", Form::whole, [](const OptionUse&) { options.wasteAsPercent = true; }},
    {"-ASVAL", Form::whole, [](const OptionUse&) { options.wasteAsPercent = false; }},
    {"-NOWASTE", Form::whole, [](const OptionUse&) { options.showWaste = false; }},
    {"-NOFILES", Form::whole, [](const OptionUse&) { options.showFileCounts = false; }},
    {"-NOOFFLINE", Form::whole, [](const OptionUse&) { options.includeOffline = false; }},
    {"-NOSUBS", Form::whole, [](const OptionUse&) { options.showOwnSize = false; }},
    {"-NOTOTALS", Form::whole, [](const OptionUse&) { options.showTotals = false; }},
    {"-NOSTATS", Form::prefix, [](const OptionUse&) { options.showDriveStats = false; }},
    {"-NOHEADER", Form::prefix, [](const OptionUse&) { options.showHeader = false; }},
    {"-TAB", Form::whole, [](const OptionUse&) { options.outputMode = OutputMode::tab; }},
    {"-COMMA", Form::whole, [](const OptionUse&) { options.outputMode = OutputMode::comma; }},
    {"-HTML", Form::whole, [](const OptionUse&) { options.outputMode = OutputMode::html; }},
    {"-JSON", Form::whole, [](const OptionUse&) { options.outputMode = OutputMode::json; }},
    {"-UTF8", Form::whole, [](const OptionUse&) { options.utf8 = true; }},
    {"-MAP", Form::whole, [](const OptionUse&) { options.outputMode = OutputMode::map; }},
    {"-BARS", Form::whole, [](const OptionUse&) { options.showBars = true; }},
    // A path, as the user typed it.
    {"-COMPARE=", Form::anyValue, [](const OptionUse& use) { options.compareFile = use.typedValue; }},
    {"-LOAD=", Form::anyValue, [](const OptionUse& use) { options.loadFiles.emplace_back(use.typedValue); }},
    {"-EXCLUDE=", Form::anyValue, [](const OptionUse& use) { ApplyExcludeOption(use.word, use.typedValue); }},
    {"-LINKS", Form::whole, [](const OptionUse&) { options.countEveryLink = true; }},
    {"-MOUNTS", Form::whole, [](const OptionUse&) { options.crossMounts = true; }},
    {"-MFT=", Form::anyValue, [](const OptionUse& use) { tableRequest = TableRequest{true, std::string(use.typedValue)}; }},
    {"-MFT", Form::whole, [](const OptionUse&) { tableRequest = TableRequest{true, ""}; }},
    {"-TOP=", Form::equalsValue, [](const OptionUse& use) { ApplyTopOption(use.upperValue); }},
    {"-TOP", Form::whole, [](const OptionUse&) { options.topFiles = kDefaultTopFiles; }},
    {"-TYPES", Form::whole, [](const OptionUse&) { options.fileTypes = true; }},
    {"-AGE", Form::whole, [](const OptionUse&) { options.noteAges = true; }},
    {"-NAV", Form::whole, [](const OptionUse&) { options.startInNavigation = true; }},
    {"-THREADS=", Form::equalsValue, [](const OptionUse& use) { ApplyThreadsOption(use.upperValue); }},
    {"-C+", Form::whole, [](const OptionUse&) { options.treeChars = kGraphicsChars; }},
    {"-C-", Form::whole, [](const OptionUse&) { options.treeChars = kPlainChars; }},
    {"-P", Form::whole, [](const OptionUse&) { options.pauseEachPage = false; }},
    {"-SORT=", Form::equalsValue, [](const OptionUse& use) { ApplySortOption(use.upperValue); }},
    {"-LONGEST", Form::whole, [](const OptionUse&) { options.longestPaths = true; }},
    {"-CONFIG", Form::whole,
     [](const OptionUse&) { Launch("Starting Tallyfold configuration program", SettingsProgramPath()); }},
    {"-SUPPORT", Form::whole,
     [](const OptionUse&) { Launch("Starting Web browser to show Quenlow support page.", SupportPageAddress()); }},
    {"-VANTOR", Form::whole,
     [](const OptionUse&) { Launch("Starting Web browser to show Quenlow home page.", MakerPageAddress()); }},
    {"-TALLYFOLD", Form::whole,
     [](const OptionUse&) { Launch("Starting Web browser for Tallyfold homepage", ProductPageAddress()); }},
    {"-MANUAL", Form::whole, [](const OptionUse&) { OpenManual(); }},
    {"-HELP", Form::whole, [](const OptionUse&) { OpenManual(); }},
    {"-W", Form::whole, [](const OptionUse&) {
       ShowWelcome();
       EndProgram(0);
     }},
    {"-H", Form::whole, [](const OptionUse&) { AnswerHelpWord(); }},
    {"--HELP", Form::whole, [](const OptionUse&) { AnswerHelpWord(); }},
    {"-VERSION", Form::whole, [](const OptionUse&) { AnswerVersionWord(); }},
    {"--VERSION", Form::whole, [](const OptionUse&) { AnswerVersionWord(); }},
};

// The length of `option`'s word in `upper`, or 0 when `upper` is no use of it.
size_t MatchedLength(const OptionWord& option, std::string_view upper) {
  const std::string_view word = option.upper;
  switch (option.form) {
    case Form::whole: return upper == word ? word.size() : 0;
    case Form::prefix:
    case Form::equalsValue: return StartsWith(upper, word) ? word.size() : 0;
    case Form::anyValue: {
      const std::string_view name = word.substr(0, word.size() - 1);
      const bool matches = upper.size() >= word.size() && StartsWith(upper, name) &&
                           (upper[name.size()] == '=' || upper[name.size()] == ':');
      return matches ? word.size() : 0;
    }
  }
  return 0;
}

// True when `word` was an option of the table, which it has applied.
bool ApplyTableOption(const std::string& word, std::string_view upper) {
  for (const OptionWord& option : kOptionTable) {
    const size_t length = MatchedLength(option, upper);
    if (length == 0) continue;
    // The option's word is ASCII, as long typed as upper-cased.
    option.apply({word, std::string_view(word).substr(std::min(length, word.size())), upper.substr(length)});
    return true;
  }
  return false;
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

// -top=#: the 1 to 100,000 largest files.
void ApplyTopOption(std::string_view value) {
  int64_t count = 0;
  if (!ConvertInteger(value, count) || count < 1 || count > kMaxTopFiles) {
    WriteMessageLine("Invalid number of files - " + std::string(value) + " (use 1 to 100000)");
    return;
  }
  options.topFiles = static_cast<int32_t>(count);
}

// `word` is what the user typed: the pattern keeps its letter case.
void ApplyExcludeOption(const std::string& word, std::string_view pattern) {
  if (AddExclusion(pattern, word)) return;
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
  const size_t firstOfCommandLine = folderWords.size();
  for (size_t i = 1; i < commandLine.size(); ++i) ParseOption(commandLine[i]);
  // A word with a dash in front is a mistyped option (warned about), not a
  // folder the user named.
  for (size_t i = firstOfCommandLine; i < folderWords.size(); ++i) {
    if (!StartsWith(folderWords[i], "-")) commandLineFolders.push_back(folderWords[i]);
  }
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

namespace {

// A word after two dashes, as other command-line tools take them: every
// option of the table (--sort=total, --json), and --max-depth=N for -N.
// Anything else is an error, never a folder.
void ApplyLongOption(const std::string& word, std::string_view upper) {
  constexpr std::string_view kMaxDepth = "--MAX-DEPTH=";
  if (StartsWith(upper, kMaxDepth)) {
    std::string depthWord = word.substr(kMaxDepth.size());
    depthWord.insert(depthWord.begin(), '-');
    if (ParseDepthOption(depthWord)) return;
  }
  if (ApplyTableOption(word.substr(1), upper.substr(1))) return;
  unknownLongOptions.push_back(word);
}

}  // namespace

void ParseOption(const std::string& word) {
  const std::string upper = UpperText(word);
  if (ApplyTableOption(word, upper)) return;
  if (ParseDepthOption(word)) return;
  if (StartsWith(word, "--")) {
    ApplyLongOption(word, upper);
    return;
  }
  options.startFolder = word;
  folderWords.push_back(word);
}

std::vector<std::string_view> OptionTableWords() {
  std::vector<std::string_view> words;
  for (const OptionWord& option : kOptionTable) words.push_back(option.upper);
  return words;
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
  // -0 is the 255 levels of the path limit the option was made for; a
  // number beyond what a byte holds, or below 0, asks for every level.
  if (value == 0) options.maxDepth = 255;
  else if (value > 0 && value <= 255) options.maxDepth = static_cast<int32_t>(value);
  else options.maxDepth = kAllLevels;
  return true;
}

// A parameter string, split and applied word by word as the stored defaults
// and the TALLYFOLD variable are. The words that would end the process or
// start a program stop at the action observer instead.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/output.h"
#include "control/launch.h"
#include "control/options.h"
#include "fuzz_check.h"
#include "scan/exclusions.h"
#include "settings/settings.h"

namespace {

struct ActionStopped {};

void StopAtAction(const ImmediateAction&) { throw ActionStopped{}; }

void CheckSettings() {
  FUZZ_CHECK(options.maxDepth >= 1);
  FUZZ_CHECK(options.minFolderBytes >= 0);
  FUZZ_CHECK(options.requestedClusterSize >= 0 && options.requestedClusterSize <= 65536);
  FUZZ_CHECK(options.scanThreads <= 64);  // 0: the scan chooses while it runs
  FUZZ_CHECK(!options.startFolder.empty());
  FUZZ_CHECK(!options.dirMode || !options.showWaste);
  for (const std::string& pattern : exclusions.namePatterns) FUZZ_CHECK(!pattern.empty());
  for (const std::vector<std::string>& names : exclusions.pathPatterns) {
    FUZZ_CHECK(!names.empty());
    for (const std::string& name : names) FUZZ_CHECK(!name.empty());
  }
}

bool IsSeparator(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code == 8 || code == 32 || code == 255;
}

// Without quotes and dashes every word is a folder word, so the start folder
// is the last run of characters between separators.
void CheckLastWordIsStartFolder(std::string_view text) {
  if (text.find_first_of("\"-") != std::string_view::npos) return;
  size_t end = text.size();
  while (end > 0 && IsSeparator(text[end - 1])) --end;
  size_t begin = end;
  while (begin > 0 && !IsSeparator(text[begin - 1])) --begin;
  const std::string expected = begin == end ? "." : std::string(text.substr(begin, end - begin));
  FUZZ_CHECK(options.startFolder == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string messages;
  messages.clear();
  CaptureOutput(&messages);
  actionObserver = StopAtAction;
  options = ReportOptions{};
  exclusions = Exclusions{};  // every input starts without patterns
  options.pauseEachPage = false;  // messages must never wait for a key
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    SplitParameterString(text);
  } catch (const ActionStopped&) {
    CheckSettings();
    return 0;
  }
  // No word switches pausing on.
  FUZZ_CHECK(!options.pauseEachPage);
  CheckSettings();
  CheckLastWordIsStartFolder(text);
  return 0;
}

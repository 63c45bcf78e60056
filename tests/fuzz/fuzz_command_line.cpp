// The Windows command-line rule: cutting a command line into arguments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "platform/platform.h"

namespace {

bool Separates(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

// Every argument back in quotes, blank-separated: the line a caller would
// build to pass the same arguments on.
std::string QuoteAll(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) line += " \"" + argument + "\"";
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> arguments = platform::SplitCommandLine(text);
  size_t kept = 0;
  bool anyEmpty = false;
  for (const std::string& argument : arguments) {
    FUZZ_CHECK(argument.find('"') == std::string::npos);  // quotes are dropped
    kept += argument.size();
    anyEmpty = anyEmpty || argument.empty();
  }
  FUZZ_CHECK(kept <= size);
  if (text.find('"') == std::string_view::npos) {
    // Without quotes an argument is a run of non-separators.
    for (const std::string& argument : arguments) {
      FUZZ_CHECK(!argument.empty());
      for (char c : argument) FUZZ_CHECK(!Separates(c));
    }
  }
  // An empty argument cannot be passed on in quotes: a pair of quotes where
  // an argument begins is skipped.
  if (!anyEmpty) FUZZ_CHECK(platform::SplitCommandLine(QuoteAll(arguments)) == arguments);
  return 0;
}

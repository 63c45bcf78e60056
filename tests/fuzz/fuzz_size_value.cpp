// The value of -size= and -cl=: a number, rounded, times K, M or G.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "control/options.h"
#include "fuzz_check.h"

namespace {

bool EndsWithMultiplier(std::string_view text) {
  return !text.empty() && (text.back() == 'K' || text.back() == 'M' || text.back() == 'G');
}

// The multiplier scales the rounded number exactly, or the value does not
// fit and counts as 0.
void CheckMultiplier(const std::string& text, char suffix, int64_t factor) {
  const int64_t plain = ParseSizeValue(text);
  const int64_t scaled = ParseSizeValue(text + suffix);
  if (plain > std::numeric_limits<int64_t>::max() / factor) {
    FUZZ_CHECK(scaled == 0);
  } else {
    FUZZ_CHECK(scaled == plain * factor);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(ParseSizeValue(text) >= 0);
  if (!EndsWithMultiplier(text)) {
    CheckMultiplier(text, 'K', 1024);
    CheckMultiplier(text, 'M', 1024 * 1024);
    CheckMultiplier(text, 'G', 1024 * 1024 * 1024);
  }
  return 0;
}

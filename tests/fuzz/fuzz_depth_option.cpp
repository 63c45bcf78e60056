// Depth words such as -3: recognised or not, and the depth they set.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "control/options.h"
#include "fuzz_check.h"
#include "settings/settings.h"

namespace {

constexpr uint8_t kUntouched = 77;

bool IsDecimalInt32(std::string_view digits, int64_t& value) {
  if (digits.empty() || digits.size() > 10) return false;
  value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value <= 0x7FFFFFFF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string word(reinterpret_cast<const char*>(data), size);
  options.maxDepth = kUntouched;
  const bool recognised = ParseDepthOption(word);
  if (!recognised) {
    FUZZ_CHECK(options.maxDepth == kUntouched);
  } else {
    FUZZ_CHECK(word.size() >= 2 && word[0] == '-');
    FUZZ_CHECK(options.maxDepth >= 1);
  }
  // A dash and a plain decimal number in 32 bits always sets the depth: 0
  // is 255 levels, 1 to 255 as many, any other number every level.
  int64_t value = 0;
  if (word.size() >= 2 && word[0] == '-' && IsDecimalInt32(std::string_view(word).substr(1), value)) {
    FUZZ_CHECK(recognised);
    FUZZ_CHECK(options.maxDepth == (value == 0 ? 255 : value <= 255 ? value : kAllLevels));
  }
  return 0;
}

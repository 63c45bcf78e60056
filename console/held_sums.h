// Sums of bytes and counts that hold at their limit instead of wrapping
// round: a sparse file may claim 2^63 - 1 bytes (tmpfs allows it), and a
// figure that wrapped round would turn negative, be folded away by the size
// threshold or show as a loss. Shared by the scan and the reports; inline,
// since the scan adds for every file.
#pragma once

#include <cstdint>
#include <limits>

// `sum` + `bytes`, held at the 64-bit limits.
inline int64_t AddBytes(int64_t sum, int64_t bytes) {
  int64_t result = 0;
  if (!__builtin_add_overflow(sum, bytes, &result)) return result;
  return bytes > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

// `sum` + `count`, held at the 32-bit limits like the byte figures.
inline int32_t AddCount(int32_t sum, int32_t count) {
  int32_t result = 0;
  if (!__builtin_add_overflow(sum, count, &result)) return result;
  return count > 0 ? std::numeric_limits<int32_t>::max() : std::numeric_limits<int32_t>::min();
}

// The drive root of an expanded path: "C:\" or "\\server\share\".
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "scan/drive_stats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);
  std::string failure;
  const std::optional<std::string> root = FindDriveRoot(path, failure);
  if (!root) {
    FUZZ_CHECK(!failure.empty());
    return 0;
  }
  FUZZ_CHECK(failure.empty());
  FUZZ_CHECK(!root->empty() && root->back() == '\\');
  if (path.size() >= 3 && path.compare(1, 2, ":\\") == 0) {
    FUZZ_CHECK(root->size() == 3 && root->compare(1, 2, ":\\") == 0);
    return 0;
  }
  // A share's root is the path's beginning, closed with a backslash.
  FUZZ_CHECK(root->compare(0, 2, "\\\\") == 0);
  FUZZ_CHECK((path + "\\").compare(0, root->size(), *root) == 0);
  return 0;
}

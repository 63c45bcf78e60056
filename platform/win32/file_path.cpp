#include "platform/platform.h"
#include "platform/win32/wide_text.h"

namespace platform {

// A narrow path would be read in the ANSI code page; the wide one opens any
// name. A path too long for the plain form takes the \\?\ form.
std::filesystem::path FilePath(const std::string& path) {
  if (PathLength(path) < MAX_PATH) return std::filesystem::path(win32::Widen(path));
  return std::filesystem::path(win32::LongPath(path));
}

}  // namespace platform

#include "platform/platform.h"
#include "platform/win32/wide_text.h"

namespace platform {

// A narrow path would be read in the ANSI code page; the wide one opens any
// name.
std::filesystem::path FilePath(const std::string& path) { return std::filesystem::path(win32::Widen(path)); }

}  // namespace platform

#include "platform/platform.h"

namespace platform {

// Linux names are bytes; the path keeps them as they are.
std::filesystem::path FilePath(const std::string& path) { return std::filesystem::path(path); }

}  // namespace platform

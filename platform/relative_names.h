// The names of a path below the start folder, for the backends that reach
// an item one name at a time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The names of `relativePath`, split at any of `separators`; empty names
// are skipped. False when there is none, or one ("." or "..") would lead
// out of the start folder.
bool SplitRelativeNames(const std::string& relativePath, std::string_view separators,
                        std::vector<std::string>& names);

}  // namespace platform

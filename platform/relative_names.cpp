#include "platform/relative_names.h"

#include <algorithm>

namespace platform {

bool SplitRelativeNames(const std::string& relativePath, std::string_view separators,
                        std::vector<std::string>& names) {
  size_t begin = 0;
  while (begin <= relativePath.size()) {
    const size_t end = std::min(relativePath.find_first_of(separators, begin), relativePath.size());
    const std::string name = relativePath.substr(begin, end - begin);
    if (name == "." || name == "..") return false;
    if (!name.empty()) names.push_back(name);
    begin = end + 1;
  }
  return !names.empty();
}

}  // namespace platform

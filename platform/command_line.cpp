// The Windows rule for cutting a command line into arguments. Pure text
// work that only the Windows backend needs, kept here, outside the backends,
// so that it is tested on every build.
#include "platform/platform.h"

namespace platform {

std::vector<std::string> SplitCommandLine(std::string_view text) {
  std::vector<std::string> arguments;
  size_t i = 0;
  auto separates = [&](size_t at) {
    const auto code = static_cast<unsigned char>(text[at]);
    return code >= 1 && code <= 32;
  };
  while (true) {
    while (true) {
      while (i < text.size() && separates(i)) ++i;
      if (i + 1 < text.size() && text[i] == '"' && text[i + 1] == '"') {
        i += 2;
      } else {
        break;
      }
    }
    if (i >= text.size()) break;
    std::string argument;
    while (i < text.size() && !separates(i)) {
      if (text[i] == '"') {
        ++i;
        while (i < text.size() && text[i] != '"') argument.push_back(text[i++]);
        if (i < text.size()) ++i;
      } else {
        argument.push_back(text[i++]);
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

}  // namespace platform

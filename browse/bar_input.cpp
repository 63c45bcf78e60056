#include "browse/bar_input.h"

#include <algorithm>

#include "console/output.h"

uint8_t UpperAscii(uint8_t character) {
  return character >= 'a' && character <= 'z' ? static_cast<uint8_t>(character - 'a' + 'A') : character;
}

bool IsScan(const KeyRead& key, uint8_t scanCode) { return key.character == 0 && key.scanCode == scanCode; }

std::optional<std::string> TypedWord(const std::string& question,
                                     KeyRead (*askKey)(const std::string& question)) {
  std::string word;
  while (true) {
    const KeyRead key = askKey(question + word);
    if (key.failed || key.character == kEsc) return std::nullopt;
    if (key.character == kEnter) return word;
    if (key.character == kBackspace) {
      if (!word.empty()) word.pop_back();
    } else if (key.character >= ' ' && key.character < 0x7F) {
      word += static_cast<char>(key.character);
    }
  }
}

void EraseBar() { EraseInPlace(static_cast<size_t>(std::max(screenWidth - 1, 0))); }

void EndFromBar() {
  EraseBar();
  EndProgram(0);
}

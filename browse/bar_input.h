// What the pages of the browser's navigation share: the keys they read by
// name, a word typed on the status bar, and the way out of the program that
// takes the bar back first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "console/writer.h"

inline constexpr uint8_t kCtrlC = 3, kBackspace = 8, kCtrlL = 12, kEnter = 13, kEsc = 27;

uint8_t UpperAscii(uint8_t character);
bool IsScan(const KeyRead& key, uint8_t scanCode);

// The word typed after `question`, which `askKey` shows before each key:
// Backspace takes a character back, Enter ends the word; none when Esc
// takes the question back or no key can be read.
std::optional<std::string> TypedWord(const std::string& question,
                                     KeyRead (*askKey)(const std::string& question));

// Takes back the bar, as the browser does after each key, so that what
// comes next (the reading prompt, the shell's prompt) starts on a clean line.
void EraseBar();
// Q and Ctrl+C: the bar is taken back, then the run ends.
[[noreturn]] void EndFromBar();

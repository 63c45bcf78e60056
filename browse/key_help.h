// The page of the keys (? and F1): one line per key and what it does, for
// the browser or for its navigation.
#pragma once

enum class KeysOf { browser, navigation };

// Shows the page until Esc or ? closes it (or no key can be read); Up,
// Down, Page Up and Page Down scroll a page taller than the screen; Q and
// Ctrl+C end the program.
void ShowKeyHelp(KeysOf which);

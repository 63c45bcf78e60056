// Key input on Windows: one console input record at a time, as the console
// reports it; the scan codes are already those of the PC keyboard.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {

constexpr WORD kNumLock = 0x90;
constexpr WORD kScrollLock = 0x91;
// Right Alt, left Alt, right Ctrl, left Ctrl, Shift.
constexpr DWORD kModifierKeys = 0x1F;

// The program compares only ASCII characters; any other character is taken
// in the ANSI code page, and as "?" where it takes more than one byte there
// (UTF-8): never as 0, which would make it a key without a character.
uint8_t EightBitCharacter(wchar_t c) {
  if (c < 0x80) return static_cast<uint8_t>(c);
  char byte = '\0';
  if (WideCharToMultiByte(CP_ACP, 0, &c, 1, &byte, 1, nullptr, nullptr) != 1) return '?';
  return static_cast<uint8_t>(byte);
}

// Wine's console reports Esc by its virtual key alone, without the character
// 27 that Windows gives it and that the program knows it by.
wchar_t CharacterOf(const KEY_EVENT_RECORD& key) {
  if (key.uChar.UnicodeChar == 0 && key.wVirtualKeyCode == VK_ESCAPE) return 27;
  return key.uChar.UnicodeChar;
}

// A Shift, Ctrl or Alt key alone, or a key without a character pressed with
// one of them (Shift+Up, Ctrl+End), is not a key press the program wants.
bool IsAccepted(const KEY_EVENT_RECORD& key) {
  return CharacterOf(key) != 0 || key.wVirtualKeyCode == kNumLock ||
         key.wVirtualKeyCode == kScrollLock || (key.dwControlKeyState & kModifierKeys) == 0;
}

}  // namespace

KeyPress ReadKey() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  while (true) {
    INPUT_RECORD record;
    DWORD count = 0;
    if (!ReadConsoleInputW(input, &record, 1, &count) || count == 0) return {0, 0, false};
    if (record.EventType != KEY_EVENT) continue;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    if (!key.bKeyDown || !IsAccepted(key)) continue;
    const uint8_t character = EightBitCharacter(CharacterOf(key));
    const uint8_t scanCode = character == 0 ? static_cast<uint8_t>(key.wVirtualScanCode & 0xFF) : 0;
    return {character, scanCode, true};
  }
}

}  // namespace platform

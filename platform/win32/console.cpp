// The console on Windows. A console gets wide text, so every name and box
// character shows as it is; a file or pipe gets bytes in the ANSI code page,
// with the tree's box characters as their code page 437 bytes.
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/platform.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

HANDLE outputHandle = INVALID_HANDLE_VALUE;
HANDLE errorHandle = INVALID_HANDLE_VALUE;
HANDLE inputHandle = INVALID_HANDLE_VALUE;
bool outputIsConsole = false;
DWORD lastWriteError = 0;

// Large console writes are split; a surrogate pair is never cut in two.
constexpr size_t kConsoleChunk = 8192;

bool IsConsole(HANDLE handle) {
  DWORD mode;
  return GetConsoleMode(handle, &mode) != 0;
}

bool WriteToConsole(HANDLE handle, std::string_view text) {
  const std::wstring wide = win32::Widen(text);
  size_t done = 0;
  while (done < wide.size()) {
    size_t count = std::min(kConsoleChunk, wide.size() - done);
    if (done + count < wide.size() && IS_HIGH_SURROGATE(wide[done + count - 1])) count -= 1;
    DWORD written = 0;
    if (!WriteConsoleW(handle, wide.data() + done, static_cast<DWORD>(count), &written, nullptr) ||
        written == 0) {
      lastWriteError = GetLastError();
      return false;
    }
    done += written;
  }
  return true;
}

// The box characters of the tree keep the bytes a redirected report has
// always had, whatever the ANSI code page.
char Cp437BoxByte(wchar_t c) {
  switch (c) {
    case 0x2514:
      return '\xC0';  // corner
    case 0x251C:
      return '\xC3';  // tee
    case 0x2500:
      return '\xC4';  // horizontal
    case 0x2502:
      return '\xB3';  // vertical
    default:
      return '\0';
  }
}

// A character the code page lacks becomes "?", not a look-alike letter that
// would name another folder.
constexpr DWORD kNoLookAlikes = WC_NO_BEST_FIT_CHARS;

void AppendAnsi(std::wstring_view run, std::string& bytes) {
  if (run.empty()) return;
  const int runLength = static_cast<int>(run.size());
  const int length =
      WideCharToMultiByte(CP_ACP, kNoLookAlikes, run.data(), runLength, nullptr, 0, nullptr, nullptr);
  const size_t start = bytes.size();
  bytes.resize(start + static_cast<size_t>(length));
  WideCharToMultiByte(CP_ACP, kNoLookAlikes, run.data(), runLength, bytes.data() + start, length, nullptr,
                      nullptr);
}

std::string EncodeForFile(std::string_view text) {
  const std::wstring wide = win32::Widen(text);
  const std::wstring_view all(wide);
  std::string bytes;
  bytes.reserve(wide.size());
  size_t runStart = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    if (char box = Cp437BoxByte(all[i])) {
      AppendAnsi(all.substr(runStart, i - runStart), bytes);
      bytes.push_back(box);
      runStart = i + 1;
    }
  }
  AppendAnsi(all.substr(runStart), bytes);
  return bytes;
}

bool WriteToFile(HANDLE handle, std::string_view text) {
  const std::string bytes = EncodeForFile(text);
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr)) {
      lastWriteError = GetLastError();
      return false;
    }
    done += written;
  }
  return true;
}

bool TakeHandle(DWORD which, HANDLE& handle, const char* name, std::string& failure) {
  handle = GetStdHandle(which);
  if (handle != INVALID_HANDLE_VALUE) return true;
  failure = std::string("Cannot get console ") + name + " handle.";
  return false;
}

}  // namespace

bool OpenConsole(ConsoleFacts& facts, std::string& failure) {
  facts = {true, 24, 80};
  if (!TakeHandle(STD_OUTPUT_HANDLE, outputHandle, "output", failure) ||
      !TakeHandle(STD_ERROR_HANDLE, errorHandle, "error", failure) ||
      !TakeHandle(STD_INPUT_HANDLE, inputHandle, "input", failure)) {
    return false;
  }
  // Keys one at a time without echo; Ctrl+C still ends the process. Fails
  // harmlessly when input is not a console.
  SetConsoleMode(inputHandle, ENABLE_PROCESSED_INPUT);
  CONSOLE_SCREEN_BUFFER_INFO screen;
  if (GetConsoleScreenBufferInfo(outputHandle, &screen)) {
    outputIsConsole = true;
    facts = {false, screen.dwSize.Y - 1, screen.dwSize.X};
  }
  return true;
}

bool WriteStandardOutput(std::string_view text) {
  return outputIsConsole ? WriteToConsole(outputHandle, text) : WriteToFile(outputHandle, text);
}

void WriteConsoleError(std::string_view text) {
  // Progress text stays out of redirected files. Asked once: the spinner
  // writes for every folder, and a failing console call is not free.
  static const bool errorIsConsole = IsConsole(errorHandle);
  if (errorIsConsole) WriteToConsole(errorHandle, text);
}

void WriteStandardError(std::string_view text) {
  if (IsConsole(errorHandle)) {
    WriteToConsole(errorHandle, text);
  } else {
    WriteToFile(errorHandle, text);
  }
}

std::string LastWriteFailure() { return win32::SystemMessage(lastWriteError); }

void ClearConsoleScreen() {
  CONSOLE_SCREEN_BUFFER_INFO screen;
  if (!GetConsoleScreenBufferInfo(outputHandle, &screen)) return;
  const DWORD cells = static_cast<DWORD>(screen.dwSize.X) * static_cast<DWORD>(screen.dwSize.Y);
  const COORD home = {0, 0};
  DWORD done;
  FillConsoleOutputAttribute(outputHandle, FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE, cells, home,
                             &done);
  FillConsoleOutputCharacterW(outputHandle, L' ', cells, home, &done);
  SetConsoleCursorPosition(outputHandle, home);
}

// The console has no reverse video of its own: the foreground and background
// colours of the current attribute trade places, and the attribute from
// before comes back after the reversed text.
void SetReverseVideo(bool on) {
  static WORD plainAttribute = 0;
  static bool reversed = false;
  if (!on) {
    if (reversed) SetConsoleTextAttribute(outputHandle, plainAttribute);
    reversed = false;
    return;
  }
  CONSOLE_SCREEN_BUFFER_INFO screen;
  if (reversed || !GetConsoleScreenBufferInfo(outputHandle, &screen)) return;
  plainAttribute = screen.wAttributes;
  const WORD colours = plainAttribute & 0xFF;
  const WORD swapped = static_cast<WORD>(((colours & 0x0F) << 4) | (colours >> 4));
  const WORD attribute = static_cast<WORD>((plainAttribute & ~0xFF) | swapped);
  reversed = SetConsoleTextAttribute(outputHandle, attribute) != 0;
}

}  // namespace platform

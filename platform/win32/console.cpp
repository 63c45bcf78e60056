// The console on Windows. A console gets wide text, so every name and box
// character shows as it is; a file or pipe gets bytes in the ANSI code page
// (UTF-8 where that is the code page, and for a document that declares it),
// with the tree's box characters as their code page 437 bytes.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/win32/console.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

HANDLE outputHandle = INVALID_HANDLE_VALUE;
HANDLE errorHandle = INVALID_HANDLE_VALUE;
HANDLE inputHandle = INVALID_HANDLE_VALUE;
bool outputIsConsole = false;
DWORD lastWriteError = 0;
// What a file or pipe on standard output and standard error gets; standard
// output turns to UTF-8 for a document that declares it.
UINT outputCodePage = CP_ACP;
UINT errorCodePage = CP_ACP;
// Set once a character written to a file or pipe on standard output was
// missing from its code page.
bool outputLostCharacters = false;
// The input mode the console had before the program set its own; the
// console keeps a mode after the process ends, and the shell would inherit ours.
DWORD savedInputMode = 0;
bool inputModeChanged = false;

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
// always had, whatever the ANSI code page; the full block of the share bars
// (-bars) joins them as code page 437 has it.
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
    case 0x2588:
      return '\xDB';  // full block
    default:
      return '\0';
  }
}

void AppendInCodePage(std::wstring_view run, UINT codePage, std::string& bytes, bool* lostCharacters) {
  if (run.empty()) return;
  const DWORD flags = win32::NoLookAlikeFlags(codePage);
  // The code pages that take no flags cannot say whether a character was
  // missing; those of them in use (UTF-8, GB18030) have every character.
  BOOL usedDefault = FALSE;
  BOOL* missing = flags != 0 && lostCharacters != nullptr ? &usedDefault : nullptr;
  const int runLength = static_cast<int>(run.size());
  const int length = WideCharToMultiByte(codePage, flags, run.data(), runLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) {
    // A code page the system cannot convert into: the names still reach
    // the file, as UTF-8, instead of vanishing.
    bytes += win32::Narrow(run);
    return;
  }
  const size_t start = bytes.size();
  bytes.resize(start + static_cast<size_t>(length));
  WideCharToMultiByte(codePage, flags, run.data(), runLength, bytes.data() + start, length, nullptr, missing);
  if (usedDefault) *lostCharacters = true;
}

bool WriteToFile(HANDLE handle, std::string_view text, UINT codePage, bool* lostCharacters = nullptr) {
  const std::string bytes = win32::EncodeForFile(text, codePage, lostCharacters);
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
  // NULL: the process was started without this handle at all.
  if (handle != INVALID_HANDLE_VALUE && handle != nullptr) return true;
  failure = std::string("Cannot get console ") + name + " handle.";
  return false;
}

void RestoreInputMode() {
  if (inputModeChanged) SetConsoleMode(inputHandle, savedInputMode);
}

// Ctrl+C and closing the console end the process through the system's own
// handler, which runs no exit handlers: the mode is put back first, and the
// system's handler still ends the process.
BOOL WINAPI RestoreInputModeOnBreak(DWORD) {
  RestoreInputMode();
  return FALSE;
}

// Keys one at a time without echo; Ctrl+C still ends the process.
constexpr DWORD kKeyMode = ENABLE_PROCESSED_INPUT;

// Nothing to do when input is not a console.
void EnterKeyMode() {
  if (!GetConsoleMode(inputHandle, &savedInputMode) || !SetConsoleMode(inputHandle, kKeyMode)) {
    return;
  }
  inputModeChanged = true;
  std::atexit(RestoreInputMode);
  SetConsoleCtrlHandler(RestoreInputModeOnBreak, TRUE);
}

}  // namespace

namespace win32 {

ConsoleFacts FactsOfScreen(const CONSOLE_SCREEN_BUFFER_INFO& screen) {
  // A page is what the window shows: the classic console of Windows 10 and
  // 11 keeps 9,001 rows of buffer behind a window of 30. Lines are as wide as
  // the buffer, which wraps them.
  const int windowRows = screen.srWindow.Bottom - screen.srWindow.Top + 1;
  return {false, windowRows - 1, screen.dwSize.X};
}

DWORD NoLookAlikeFlags(UINT codePage) {
  // WideCharToMultiByte fails with ERROR_INVALID_FLAGS when these code pages
  // get any flag: UTF-7, UTF-8, GB18030, HZ, Symbol, ISO-2022 and ISCII.
  switch (codePage) {
    case CP_UTF7:
    case CP_UTF8:
    case 54936:
    case 52936:
    case 42:
    case 50220:
    case 50221:
    case 50222:
    case 50225:
    case 50227:
    case 50229:
      return 0;
    default:
      return codePage >= 57002 && codePage <= 57011 ? 0 : WC_NO_BEST_FIT_CHARS;
  }
}

std::string EncodeForFile(std::string_view text, UINT codePage, bool* lostCharacters) {
  const std::wstring wide = Widen(text);
  const std::wstring_view all(wide);
  std::string bytes;
  bytes.reserve(wide.size());
  size_t runStart = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    if (char box = Cp437BoxByte(all[i])) {
      AppendInCodePage(all.substr(runStart, i - runStart), codePage, bytes, lostCharacters);
      bytes.push_back(box);
      runStart = i + 1;
    }
  }
  AppendInCodePage(all.substr(runStart), codePage, bytes, lostCharacters);
  return bytes;
}

void LeaveKeyMode() { RestoreInputMode(); }

void ReturnToKeyMode() {
  if (inputModeChanged) SetConsoleMode(inputHandle, kKeyMode);
}

}  // namespace win32

void TakeKeysFromTerminal() {
  HANDLE console = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return;
  SetStdHandle(STD_INPUT_HANDLE, console);
  inputHandle = console;
  EnterKeyMode();
}

bool OpenConsole(ConsoleFacts& facts, std::string& failure) {
  facts = {true, 24, 80};
  if (!TakeHandle(STD_OUTPUT_HANDLE, outputHandle, "output", failure) ||
      !TakeHandle(STD_ERROR_HANDLE, errorHandle, "error", failure) ||
      !TakeHandle(STD_INPUT_HANDLE, inputHandle, "input", failure)) {
    return false;
  }
  EnterKeyMode();
  // The ANSI code page itself, not CP_ACP: which flags a conversion may get
  // depends on the code page it stands for.
  outputCodePage = errorCodePage = GetACP();
  CONSOLE_SCREEN_BUFFER_INFO screen;
  if (GetConsoleScreenBufferInfo(outputHandle, &screen)) {
    outputIsConsole = true;
    facts = win32::FactsOfScreen(screen);
  }
  return true;
}

void WriteStandardOutputInUtf8() { outputCodePage = CP_UTF8; }

bool WriteStandardOutput(std::string_view text) {
  if (outputIsConsole) return WriteToConsole(outputHandle, text);
  return WriteToFile(outputHandle, text, outputCodePage, &outputLostCharacters);
}

bool StandardOutputLostCharacters() { return outputLostCharacters; }

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
    WriteToFile(errorHandle, text, errorCodePage);
  }
}

std::string LastWriteFailure() { return win32::SystemMessage(lastWriteError); }

// A pipe whose reader has gone reports "the pipe is being closed" (no data)
// or "the pipe has been ended"; under Wine "no process is on the other end".
bool LastWriteFoundReaderGone() {
  return lastWriteError == ERROR_NO_DATA || lastWriteError == ERROR_BROKEN_PIPE ||
         lastWriteError == ERROR_PIPE_NOT_CONNECTED;
}

bool StandardErrorIsConsole() { return IsConsole(errorHandle); }

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

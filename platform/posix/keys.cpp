// Key input on Linux. While a key is awaited the terminal is in non-canonical
// mode without echo, with signals kept so that Ctrl+C still ends the process;
// the mode is restored after every key and on every way out. Escape sequences
// of the common terminals become the PC scan codes the pager and browser use.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace platform {

namespace {

constexpr uint8_t kF1 = 0x3B, kHome = 0x47, kUp = 0x48, kPageUp = 0x49, kEnd = 0x4F, kDown = 0x50,
                  kPageDown = 0x51;
// How long to wait for the rest of an escape sequence before taking a lone
// Esc; terminals send a sequence in one write, so this is ample.
constexpr int kSequenceWaitMs = 50;

struct termios savedMode;
volatile sig_atomic_t terminalChanged = 0;

void RestoreTerminal() {
  if (terminalChanged) {
    tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
    terminalChanged = 0;
  }
}

void RestoreAndRaise(int signalNumber) {
  RestoreTerminal();
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

void InstallRestoreHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::atexit(RestoreTerminal);
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(signalNumber, RestoreAndRaise);
}

bool EnterKeyMode() {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedMode) != 0) return false;
  InstallRestoreHandlers();
  struct termios raw = savedMode;
  raw.c_lflag &= ~(ICANON | ECHO);
  raw.c_lflag |= ISIG;
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  terminalChanged = 1;
  return tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

// One byte; -1 on end of input or error, -2 when none came within `waitMs`
// (a negative wait blocks).
int ReadByte(int waitMs) {
  if (waitMs >= 0) {
    struct pollfd ready = {STDIN_FILENO, POLLIN, 0};
    if (poll(&ready, 1, waitMs) <= 0) return -2;
  }
  unsigned char byte;
  while (true) {
    ssize_t got = read(STDIN_FILENO, &byte, 1);
    if (got == 1) return byte;
    if (got < 0 && errno == EINTR) continue;
    return -1;
  }
}

uint8_t ScanCodeOfTilde(int number) {
  switch (number) {
    case 1: case 7: return kHome;
    case 4: case 8: return kEnd;
    case 5: return kPageUp;
    case 6: return kPageDown;
    case 11: return kF1;
    default: return 0;
  }
}

uint8_t ScanCodeOfFinal(int final) {
  switch (final) {
    case 'A': return kUp;
    case 'B': return kDown;
    case 'H': return kHome;
    case 'F': return kEnd;
    case 'P': return kF1;
    default: return 0;
  }
}

// After ESC and '[' or 'O': reads parameters up to the final byte. A
// sequence with a modifier parameter (Shift+Up is ESC [ 1 ; 2 A) is a key
// pressed with Shift, Ctrl or Alt and is ignored, as is one not known here.
uint8_t ReadSequence(int introducer) {
  int number = 0;
  bool modified = false;
  int byte = ReadByte(kSequenceWaitMs);
  if (introducer == '[' && byte == '[') {  // Linux console: ESC [ [ A is F1
    byte = ReadByte(kSequenceWaitMs);
    return byte == 'A' ? kF1 : 0;
  }
  while (byte >= 0 && ((byte >= '0' && byte <= '9') || byte == ';')) {
    if (byte == ';') modified = true;
    else if (!modified) number = number * 10 + (byte - '0');
    byte = ReadByte(kSequenceWaitMs);
  }
  if (byte < 0 || modified) return 0;
  return byte == '~' ? ScanCodeOfTilde(number) : ScanCodeOfFinal(byte);
}

KeyPress ReadOneKey() {
  while (true) {
    int byte = ReadByte(-1);
    if (byte < 0) return {0, 0, false};
    if (byte == 27) {
      int next = ReadByte(kSequenceWaitMs);
      if (next == -2 || next == -1) return {27, 0, true};
      if (next == '[' || next == 'O') {
        uint8_t scan = ReadSequence(next);
        if (scan != 0) return {0, scan, true};
        continue;
      }
      if (next == 27) return {27, 0, true};
      byte = next;  // Alt with a character key gives the character
    }
    if (byte == '\n') byte = '\r';   // Enter, as the console reports it
    if (byte == 127) byte = '\b';    // Backspace
    return {static_cast<uint8_t>(byte), 0, true};
  }
}

}  // namespace

KeyPress ReadKey() {
  if (!EnterKeyMode()) {
    RestoreTerminal();
    return {0, 0, false};
  }
  KeyPress key = ReadOneKey();
  RestoreTerminal();
  return key;
}

}  // namespace platform

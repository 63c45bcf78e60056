// Key input on Linux. While a key is awaited the terminal is in non-canonical
// mode without echo, with signals kept so that Ctrl+C still ends the process;
// the mode is restored after every key and on every way out. Escape sequences
// of the common terminals become the PC scan codes the pager and browser use.
#include <fcntl.h>
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

constexpr uint8_t kF1 = 0x3B, kHome = 0x47, kUp = 0x48, kPageUp = 0x49, kLeft = 0x4B, kRight = 0x4D,
                  kEnd = 0x4F, kDown = 0x50, kPageDown = 0x51, kDelete = 0x53;
// How long to wait for the rest of an escape sequence before taking a lone
// Esc; terminals send a sequence in one write, so this is ample, and a lone
// Esc is taken without waiting for another key.
constexpr int kSequenceWaitMs = 50;

struct termios savedMode;
struct termios keyMode;
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

// Ctrl+Z: the shell gets its terminal mode back while the run is stopped,
// and a key read still waiting gets the key mode back when it goes on.
void SuspendAndResume(int) {
  const bool wasInKeyMode = terminalChanged;
  RestoreTerminal();
  std::signal(SIGTSTP, SIG_DFL);
  sigset_t suspend;
  sigemptyset(&suspend);
  sigaddset(&suspend, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &suspend, nullptr);
  std::raise(SIGTSTP);
  std::signal(SIGTSTP, SuspendAndResume);
  if (wasInKeyMode) {
    terminalChanged = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &keyMode);
  }
}

// A run started with a signal ignored (nohup, a shell's background job)
// keeps it ignored; only default handling is wrapped.
void WrapDefaultHandling(int signalNumber, void (*handler)(int)) {
  struct sigaction current {};
  if (sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
  std::signal(signalNumber, handler);
}

void InstallRestoreHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::atexit(RestoreTerminal);
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) WrapDefaultHandling(signalNumber, RestoreAndRaise);
  WrapDefaultHandling(SIGTSTP, SuspendAndResume);
}

bool EnterKeyMode() {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedMode) != 0) return false;
  InstallRestoreHandlers();
  keyMode = savedMode;
  // Ctrl+S, Ctrl+Q and Ctrl+V are keys here, not flow control or a quote.
  keyMode.c_lflag &= ~(ICANON | ECHO | IEXTEN);
  keyMode.c_lflag |= ISIG;
  keyMode.c_iflag &= ~IXON;
  keyMode.c_cc[VMIN] = 1;
  keyMode.c_cc[VTIME] = 0;
  terminalChanged = 1;
  return tcsetattr(STDIN_FILENO, TCSANOW, &keyMode) == 0;
}

// One byte; -1 on end of input or error, -2 when none came within `waitMs`
// (a negative wait blocks).
int ReadByte(int waitMs) {
  if (waitMs >= 0) {
    struct pollfd ready = {STDIN_FILENO, POLLIN, 0};
    int result;
    do result = poll(&ready, 1, waitMs);
    while (result < 0 && errno == EINTR);
    if (result <= 0) return -2;
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
    case 1: case 7: return kHome;   // VT220 and tmux; rxvt
    case 4: case 8: return kEnd;
    case 3: return kDelete;
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
    case 'C': return kRight;
    case 'D': return kLeft;
    case 'H': return kHome;
    case 'F': return kEnd;
    case 'P': return kF1;
    default: return 0;
  }
}

// After ESC and '[' or 'O': reads parameters up to the final byte. A key
// pressed with Shift, Ctrl or Alt carries a modifier (ESC [ 1 ; 2 A, or
// ESC O 2 P) and is ignored, as the console ignores such extended keys; so
// is a sequence not known here.
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
  if (byte == '~') return introducer == '[' ? ScanCodeOfTilde(number) : 0;
  if (number != 0 && (introducer == 'O' || number != 1)) return 0;
  return ScanCodeOfFinal(byte);
}

// A character typed as several UTF-8 bytes is one key press: its lead byte
// stands for it and the continuation bytes are dropped.
void SkipContinuationBytes(int leadByte) {
  int extra = leadByte >= 0xF0 ? 3 : leadByte >= 0xE0 ? 2 : leadByte >= 0xC0 ? 1 : 0;
  for (; extra > 0; --extra) {
    if (ReadByte(kSequenceWaitMs) < 0) return;
  }
}

KeyPress ReadOneKey() {
  while (true) {
    int byte = ReadByte(-1);
    if (byte < 0) return {0, 0, false};
    if (byte == 27) {
      int next = ReadByte(kSequenceWaitMs);
      if (next < 0 || next == 27) return {27, 0, true};
      if (next == '[' || next == 'O') {
        uint8_t scan = ReadSequence(next);
        if (scan != 0) return {0, scan, true};
        continue;
      }
      byte = next;  // Alt with a character key gives the character
    }
    if (byte >= 0xC0) SkipContinuationBytes(byte);
    if (byte == '\n') byte = '\r';   // Enter, as the console reports it
    if (byte == 127) byte = '\b';    // Backspace
    return {static_cast<uint8_t>(byte), 0, true};
  }
}

}  // namespace

void TakeKeysFromTerminal() {
  const int terminal = open("/dev/tty", O_RDONLY | O_CLOEXEC);
  if (terminal < 0) return;
  dup2(terminal, STDIN_FILENO);
  close(terminal);
}

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

// The console on Linux: a terminal on standard output, or a redirected
// stream; keys from a terminal on standard input in non-canonical mode.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace platform {

namespace {

int lastWriteError = 0;

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      lastWriteError = errno;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

bool OpenConsole(ConsoleFacts& facts, std::string&) {
  // A closed pipe must show up as a failed write, not end the process
  // silently, so that the run can say the report was not written.
  std::signal(SIGPIPE, SIG_IGN);
  facts = {true, 24, 80};
  if (!isatty(STDOUT_FILENO)) return true;
  facts.outputRedirected = false;
  struct winsize size {};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 1 && size.ws_col > 0) {
    facts.pageLength = size.ws_row - 1;
    facts.screenWidth = size.ws_col;
  }
  return true;
}

bool WriteStandardOutput(std::string_view text) { return WriteAll(STDOUT_FILENO, text); }

void WriteStandardOutputInUtf8() {}

bool StandardOutputLostCharacters() { return false; }

void WriteConsoleError(std::string_view text) {
  static const bool errorIsTerminal = isatty(STDERR_FILENO);
  if (errorIsTerminal) WriteAll(STDERR_FILENO, text);
}

void WriteStandardError(std::string_view text) { WriteAll(STDERR_FILENO, text); }

std::string LastWriteFailure() { return std::strerror(lastWriteError); }

bool LastWriteFoundReaderGone() { return lastWriteError == EPIPE; }

bool StandardErrorIsConsole() { return isatty(STDERR_FILENO); }

void ClearConsoleScreen() { WriteAll(STDOUT_FILENO, "\x1b[H\x1b[2J"); }

void SetReverseVideo(bool on) { WriteAll(STDOUT_FILENO, on ? "\x1b[7m" : "\x1b[27m"); }

}  // namespace platform

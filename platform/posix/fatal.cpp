// Fatal faults on Linux: the signals of a crash, handled on a stack of their
// own so that a stack overflow, which leaves no room on the program's stack,
// can still be reported.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace platform {

namespace {

void (*fatalReport)(int errorNumber) = nullptr;

// Room for the report and the output calls it makes.
constexpr size_t kAlternateStackBytes = 256 * 1024;
alignas(16) char alternateStack[kAlternateStackBytes];

// The lowest address the main thread's stack may grow to. A fault just below
// it is the stack running into its guard gap, which the kernel keeps at
// 256 pages (1 MB) by default; a large frame can jump that far at once.
uintptr_t stackLimit = 0;
uintptr_t stackTop = 0;
constexpr uintptr_t kGuardGapBytes = 1024 * 1024;

void RememberStackLimit() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
  void* lowest = nullptr;
  size_t size = 0;
  if (pthread_attr_getstack(&attributes, &lowest, &size) == 0) {
    stackLimit = reinterpret_cast<uintptr_t>(lowest);
    stackTop = stackLimit + size;
  }
  pthread_attr_destroy(&attributes);
}

bool IsStackOverflow(const void* faultAddress) {
  const auto address = reinterpret_cast<uintptr_t>(faultAddress);
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  return stackLimit != 0 && address < stackLimit + page && address + kGuardGapBytes >= stackLimit;
}

// A fault inside the stack's own range, above its guard: the kernel could
// not give the stack the page it grew into, for want of memory (or of
// address space under a limit of it).
bool IsStackShortOfMemory(const void* faultAddress) {
  const auto address = reinterpret_cast<uintptr_t>(faultAddress);
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  return stackLimit != 0 && address >= stackLimit + page && address < stackTop;
}

int ErrorNumberOfMemoryFault(const void* faultAddress) {
  if (IsStackOverflow(faultAddress)) return kFatalStackOverflow;
  return IsStackShortOfMemory(faultAddress) ? kFatalOutOfMemory : kFatalAccessViolation;
}

int ErrorNumberOf(int signal, const siginfo_t* info) {
  switch (signal) {
    case SIGSEGV:
    case SIGBUS:
      return ErrorNumberOfMemoryFault(info->si_addr);
    case SIGFPE:
      return kFatalArithmetic;
    default:
      return kFatalUncaughtException;
  }
}

void HandleFatalSignal(int signal, siginfo_t* info, void*) {
  const int errorNumber = ErrorNumberOf(signal, info);
  fatalReport(errorNumber);
  EndProcessNow(errorNumber);
}

}  // namespace

void InstallFatalFaultHandlers(void (*report)(int errorNumber)) {
  fatalReport = report;
  RememberStackLimit();
  stack_t stack{};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  sigaltstack(&stack, nullptr);
  struct sigaction action{};
  action.sa_sigaction = HandleFatalSignal;
  // SA_RESETHAND: a fault inside the report itself ends the process by the
  // signal instead of entering the handler again.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  // SIGABRT: the C library aborts the process where it cannot go on, some
  // of its own allocations failing among those places; that end too gets
  // the report instead of none.
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaction(signal, &action, nullptr);
}

void EndProcessNow(int exitCode) { _exit(exitCode); }

void WriteFatalReportText(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(STDOUT_FILENO, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<size_t>(written));
  }
}

}  // namespace platform

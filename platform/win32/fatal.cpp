// Fatal faults on Windows: the unhandled-exception filter, the last stop of
// an exception that no handler took.
#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

void (*fatalReport)(int errorNumber) = nullptr;

// The report thread may wait on a lock the faulting thread holds (a fault
// inside the heap); the process then ends without the report rather than
// hang.
constexpr DWORD kReportWaitMilliseconds = 10000;
constexpr SIZE_T kReportThreadStackBytes = 256 * 1024;

int ErrorNumberOf(DWORD exceptionCode) {
  switch (exceptionCode) {
    case EXCEPTION_STACK_OVERFLOW:
      return kFatalStackOverflow;
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
      return kFatalAccessViolation;
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      return kFatalArithmetic;
    default:
      return kFatalUncaughtException;
  }
}

DWORD WINAPI ReportOnFreshStack(void* errorNumber) {
  fatalReport(*static_cast<int*>(errorNumber));
  return 0;
}

[[noreturn]] void ReportAndEnd(int errorNumber) {
  // After a stack overflow the faulting thread has only a few pages of stack
  // left, too few for the report; a thread of its own has plenty.
  HANDLE thread = CreateThread(nullptr, kReportThreadStackBytes, ReportOnFreshStack, &errorNumber, 0, nullptr);
  if (thread != nullptr) {
    WaitForSingleObject(thread, kReportWaitMilliseconds);
    CloseHandle(thread);
  }
  EndProcessNow(errorNumber);
}

LONG WINAPI ReportUnhandledException(EXCEPTION_POINTERS* exception) {
  ReportAndEnd(ErrorNumberOf(exception->ExceptionRecord->ExceptionCode));
}

// A stack overflow is reported as soon as it is raised: searching the
// frames for a handler needs more stack than is left, and the system may end
// the process before the unhandled-exception filter runs.
LONG WINAPI ReportStackOverflow(EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) return EXCEPTION_CONTINUE_SEARCH;
  ReportAndEnd(kFatalStackOverflow);
}

}  // namespace

void InstallFatalFaultHandlers(void (*report)(int errorNumber)) {
  fatalReport = report;
  // No dialog box for a crash: the report on standard output is the message.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(ReportUnhandledException);
  AddVectoredExceptionHandler(1, ReportStackOverflow);
}

void WriteFatalReportText(std::string_view text) {
  // Static, not on the heap or the stack: the heap may be exhausted, and a
  // stack overflow's report runs on a small stack of its own. Room for the
  // longest command line Windows passes (32,767 UTF-16 units).
  constexpr int kWideUnits = 40000;
  static wchar_t wide[kWideUnits];
  static char bytes[kWideUnits * 4];
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide, kWideUnits);
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(output, &mode)) {
    WriteConsoleW(output, wide, static_cast<DWORD>(units), &written, nullptr);
    return;
  }
  const int length = WideCharToMultiByte(GetACP(), 0, wide, units, bytes, sizeof bytes, nullptr, nullptr);
  WriteFile(output, bytes, static_cast<DWORD>(length), &written, nullptr);
}

void EndProcessNow(int exitCode) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace platform

#include "control/fatal_report.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "build_settings.h"
#include "console/output.h"
#include "console/text.h"
#include "control/options.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace {

constexpr size_t kNameCharacters = 30;
constexpr size_t kVersionCharacters = 10;
constexpr size_t kMaxUtf8Bytes = 4;

// Fixed buffers in static storage: the report must not depend on the heap,
// which a fatal error may have left unusable.
char programName[kNameCharacters * kMaxUtf8Bytes + 1];
char programVersion[kVersionCharacters * kMaxUtf8Bytes + 1];

// The report's text is built in room set aside before it is needed: in
// static storage until the command line is known (which is then cut to
// what fits), and from set-up on in a block reserved for the whole report.
// Once reserved, the block stays for the life of the process.
constexpr size_t kReportBytesBesideCommandLine = 1024;
char fixedRoom[2 * kReportBytesBesideCommandLine];
char* reportRoom = fixedRoom;
size_t reportRoomBytes = sizeof fixedRoom;

// The thread writing the report; the id of no thread while none does. A
// second thread that fails meanwhile waits for the process to end.
std::atomic<std::thread::id> reportingThread;

// Appends to the reserved room what fits of it; never allocates.
struct ReportText {
  size_t size = 0;

  void Append(std::string_view text) {
    const size_t fits = std::min(text.size(), reportRoomBytes - size);
    std::memcpy(reportRoom + size, text.data(), fits);
    size += fits;
  }

  void AppendLine(std::string_view text) {
    Append(text);
    Append(platform::kLineEnd);
  }

  // The number's decimal digits, written by hand: std::to_string allocates.
  void AppendNumber(int number) {
    char digits[16];
    char* first = digits + sizeof digits;
    unsigned magnitude = number < 0 ? 0u - static_cast<unsigned>(number) : static_cast<unsigned>(number);
    do {
      *--first = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0) *--first = '-';
    Append(std::string_view(first, static_cast<size_t>(digits + sizeof digits - first)));
  }
};

void CopyCut(char* buffer, std::string_view text, size_t characters) {
  const std::string_view cut = FirstChars(text, characters);
  std::memcpy(buffer, cut.data(), cut.size());
  buffer[cut.size()] = '\0';
}

void ReserveReportRoom() {
  size_t bytes = kReportBytesBesideCommandLine;
  for (const std::string& argument : commandLine) bytes += argument.size() + 1;
  if (bytes <= sizeof fixedRoom) return;
  char* reserved = new char[bytes];
  if (reportRoom != fixedRoom) delete[] reportRoom;
  reportRoom = reserved;
  reportRoomBytes = bytes;
}

// A thread that could not be started for want of memory (std::thread
// reports the system's EAGAIN) is out of memory as much as a failed new.
bool IsShortageOfMemory(const std::system_error& error) {
  return error.code() == std::errc::not_enough_memory || error.code() == std::errc::resource_unavailable_try_again;
}

int ErrorNumberOfCurrentException() {
  try {
    std::rethrow_exception(std::current_exception());
  } catch (const std::bad_alloc&) {
    return platform::kFatalOutOfMemory;
  } catch (const std::system_error& error) {
    return IsShortageOfMemory(error) ? platform::kFatalOutOfMemory : platform::kFatalUncaughtException;
  } catch (...) {
    return platform::kFatalUncaughtException;
  }
}

[[noreturn]] void ReportAndEnd(int errorNumber) {
  WriteFatalErrorReport(errorNumber);
  platform::EndProcessNow(errorNumber);
}

[[noreturn]] void ReportUncaughtException() {
  // std::terminate is also reached without an exception (a throw inside a
  // noexcept function rethrows nothing); that too is a fatal error.
  ReportAndEnd(std::current_exception() ? ErrorNumberOfCurrentException() : platform::kFatalUncaughtException);
}

// Called by every allocation that finds no memory, in whatever thread, also
// where no exception may pass (a destructor, a noexcept function, a thread's
// first frame): the report is written there and then. An allocation made by
// the report's own output (the pending text, converted on Windows) fails as
// usual instead, and the report goes on without it.
void ReportOutOfMemory() {
  if (reportingThread.load() == std::this_thread::get_id()) throw std::bad_alloc();
  ReportAndEnd(platform::kFatalOutOfMemory);
}

}  // namespace

void InstallFatalErrorReport() {
  platform::InstallFatalFaultHandlers(WriteFatalErrorReport);
  std::set_terminate(ReportUncaughtException);
  std::set_new_handler(ReportOutOfMemory);
}

void SetFatalReportIdentity(std::string_view name, std::string_view version) {
  CopyCut(programName, name, kNameCharacters);
  CopyCut(programVersion, version, kVersionCharacters);
  ReserveReportRoom();
}

std::string_view FatalErrorReportText(int errorNumber) {
  ReportText text;
  text.AppendLine("*** An error occurred ***");
  if (errorNumber == platform::kFatalStackOverflow) text.AppendLine("Stack overflow error");
  text.AppendLine("");
  text.AppendLine("Please email the following information and a description of what you");
  text.Append("were doing to ");
  text.AppendLine(TALLYFOLD_SUPPORT_EMAIL);
  text.AppendLine("");
  text.Append("Program: ");
  text.Append(programName);
  text.Append("  Version: ");
  text.AppendLine(programVersion);
  text.Append("Command line:");
  for (const std::string& argument : commandLine) {
    text.Append(" ");
    text.Append(argument);
  }
  text.AppendLine("");
  text.Append("Error number ");
  text.AppendNumber(errorNumber);
  text.Append(platform::kLineEnd);
  return std::string_view(reportRoom, text.size);
}

void WriteFatalErrorReport(int errorNumber) {
  std::thread::id none;
  if (!reportingThread.compare_exchange_strong(none, std::this_thread::get_id())) {
    // This thread's report failed on its way; else another thread writes
    // the report and ends the process.
    if (none == std::this_thread::get_id()) return;
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  // Whatever the run had written comes first, so a redirected report ends
  // with the error report; when that needs memory there is none, it is
  // left out.
  try {
    FlushOut();
  } catch (...) {
  }
  platform::WriteFatalReportText(FatalErrorReportText(errorNumber));
}

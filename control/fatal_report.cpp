#include "control/fatal_report.h"

#include <cstring>
#include <exception>
#include <new>
#include <string>

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

void CopyCut(char* buffer, std::string_view text, size_t characters) {
  const std::string_view cut = FirstChars(text, characters);
  std::memcpy(buffer, cut.data(), cut.size());
  buffer[cut.size()] = '\0';
}

int ErrorNumberOfCurrentException() {
  try {
    std::rethrow_exception(std::current_exception());
  } catch (const std::bad_alloc&) {
    return platform::kFatalOutOfMemory;
  } catch (...) {
    return platform::kFatalUncaughtException;
  }
}

[[noreturn]] void ReportUncaughtException() {
  // std::terminate is also reached without an exception (a throw inside a
  // noexcept function rethrows nothing); that too is a fatal error.
  const int errorNumber =
      std::current_exception() ? ErrorNumberOfCurrentException() : platform::kFatalUncaughtException;
  WriteFatalErrorReport(errorNumber);
  platform::EndProcessNow(errorNumber);
}

}  // namespace

void InstallFatalErrorReport() {
  platform::InstallFatalFaultHandlers(WriteFatalErrorReport);
  std::set_terminate(ReportUncaughtException);
}

void SetFatalReportIdentity(std::string_view name, std::string_view version) {
  CopyCut(programName, name, kNameCharacters);
  CopyCut(programVersion, version, kVersionCharacters);
}

void WriteFatalErrorReport(int errorNumber) {
  // Whatever the run had written comes first, so a redirected report ends
  // with the error report.
  FlushOut();
  WriteOutLine("*** An error occurred ***");
  if (errorNumber == platform::kFatalStackOverflow) WriteOutLine("Stack overflow error");
  WriteOutLine("");
  WriteOutLine("Please email the following information and a description of what you");
  WriteOut("were doing to ");
  WriteOutLine(TALLYFOLD_SUPPORT_EMAIL);
  WriteOutLine("");
  WriteOut("Program: ");
  WriteOut(programName);
  WriteOut("  Version: ");
  WriteOutLine(programVersion);
  WriteOut("Command line:");
  for (const std::string& argument : commandLine) {
    WriteOut(" ");
    WriteOut(argument);
  }
  WriteOutLine("");
  WriteOut("Error number ");
  WriteOutLine(std::to_string(errorNumber));
  FlushOut();
}

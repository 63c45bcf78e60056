// The report written when the run ends in a fatal run-time error: who the
// program is, its command line and the error number, for the user to send to
// the maker. The process then ends with the error number as its exit code.
//
// Error numbers (platform/platform.h):
//   200  integer division by zero
//   202  stack overflow ("Stack overflow error" is added)
//   203  out of memory: an allocation failed and nothing caught it
//   216  access violation: a read or write of memory the process may not use
//   217  an exception nothing caught, and any other fatal system exception
// An ordinary end, also one with an exit code of its own (a failed launch
// ends with 1), writes no report.
#pragma once

#include <string_view>

// Hooks the report into the process's fatal paths; once, before anything else.
void InstallFatalErrorReport();
// The name and version shown in the report, cut to 30 and 10 characters.
void SetFatalReportIdentity(std::string_view name, std::string_view version);
// Writes the report of fatal error `errorNumber` to standard output.
void WriteFatalErrorReport(int errorNumber);

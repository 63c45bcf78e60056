// The report written when the run ends in a fatal run-time error: who the
// program is, its command line and the error number, for the user to send to
// the maker. The process then ends with the error number as its exit code.
//
// Error numbers (platform/platform.h):
//   200  integer division by zero
//   202  stack overflow ("Stack overflow error" is added)
//   203  out of memory: an allocation failed (or a thread could not start for
//        want of memory), wherever it happened
//   216  access violation: a read or write of memory the process may not use
//   217  an exception nothing caught, the C library aborting the process, and
//        any other fatal system exception
// An ordinary end, also one with an exit code of its own (a failed launch
// ends with 1), writes no report.
#pragma once

#include <string_view>

// Hooks the report into the process's fatal paths (the system's faults, an
// exception nothing caught, an allocation that finds no memory); once,
// before anything else.
void InstallFatalErrorReport();
// The name and version shown in the report, cut to 30 and 10 characters.
// Also sets aside the room the report's text is built in, for the command
// line of the run (commandLine is set by then), so that writing the report
// takes nothing from the heap.
void SetFatalReportIdentity(std::string_view name, std::string_view version);
// The report of fatal error `errorNumber`, built in that room.
std::string_view FatalErrorReportText(int errorNumber);
// Writes whatever the run had written and then the report to standard
// output; once per process: a thread that fails while another writes the
// report waits for the process to end.
void WriteFatalErrorReport(int errorNumber);

// A stand-in for the program that ends in a chosen fatal error after setting
// up the fatal-error report as the program does, so that the report's real
// path (signal or exception filter, alternate stack, exit code) is tested
// without a way to crash the program itself.
//
//   fatal_probe <name> <version> overflow|throw|nomem|null|divide|normal
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "console/output.h"
#include "console/writer.h"
#include "control/fatal_report.h"
#include "control/options.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace {

// Each level keeps a buffer alive across the call, so the recursion can be
// neither turned into a loop nor have its frames merged. It never ends: that
// is the stack overflow this probe is for.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
int Recurse(int depth) {
  volatile char frame[512];
  frame[depth % sizeof frame] = static_cast<char>(depth);
  return Recurse(depth + 1) + frame[(depth + 1) % sizeof frame];
}
#pragma GCC diagnostic pop

int* volatile nowhere = nullptr;
volatile int zero = 0;
volatile size_t tooMuch = SIZE_MAX / 4;

// An allocation no system grants, in a thread of its own and where no
// exception may pass, as in a worker of the scan.
void AllocateTooMuch() noexcept {
  char* volatile block = new char[tooMuch];
  block[0] = 1;
}

}  // namespace

int main(int argc, char** argv) {
  InstallFatalErrorReport();
  ConsoleInit();
  commandLine = platform::CommandLineArguments(argc, argv);
  if (commandLine.size() != 4) {
    std::fputs("usage: fatal_probe <name> <version> overflow|throw|nomem|null|divide|normal\n", stderr);
    return 2;
  }
  SetFatalReportIdentity(commandLine[1], commandLine[2]);
  const std::string& fault = commandLine[3];
  WriteOutLine("before the fault");
  if (fault == "overflow") return Recurse(0);
  if (fault == "throw") throw std::runtime_error("nobody catches this");
  if (fault == "nomem") std::thread(AllocateTooMuch).join();
  if (fault == "null") return *nowhere;
  if (fault == "divide") return 10 / zero;
  EndProgram(0);
}

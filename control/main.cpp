#include "console/output.h"
#include "console/writer.h"
#include "control/fatal_report.h"
#include "control/options.h"
#include "control/run.h"
#include "platform/platform.h"
#include "settings/settings.h"

int main(int argc, char** argv) {
  InstallFatalErrorReport();
  ConsoleInit();
  commandLine = platform::CommandLineArguments(argc, argv);
  EndProgram(RunProgram());
}

#include "control/launch.h"

#include <cinttypes>
#include <cstdio>

#include "build_settings.h"
#include "console/output.h"
#include "console/writer.h"
#include "platform/platform.h"

namespace {

const char* const kUsageLines[] = {
    "",
    "Usage: tallyfold [options] [folder] [options]",
    "",
    "Where [options] is zero or more of",
    "  -#        Only show folders up to # levels deep (1..)",
    "  -size=#   Only show folder if # bytes or larger (use K,M,G suffix",
    "            K=1024  M=1024K  G=1024M e.g. 2M=2 megabytes)",
    "  -cl=#     Show wastage for cluster size of #",
    "  -dir      Give same results as DIR - exclude wastage",
    "  -asper    Show per-folder wastage as a percentage (default)",
    "  -asval    Show per-folder wastage as a number",
    "  -nowaste  Do not show per-folder wasted space information",
    "  -nofiles  Do not show file count",
    "  -nooffline  Ignore sizes of offline files in calculations",
    "  -nosubs   Do not show sub folder counts in square brackets",
    "  -nototals Do not show folder totals on the left hand side",
    "  -nostats  Do not include drive statistics at end of report",
    "  -noheader Do not include report header for CSV or Tab reports",
    "  -tab      Database output, fixed columns",
    "  -comma    Database output, comma delimited",
    "  -html     HTML Output",
    "  -c+       Use graphics chars, even if redirected",
    "  -c-       Use standard chars, even if not redirected",
    "  -p        Do NOT pause between pages if not redirected",
    "  -sort=[name | local | total | waste | files | none]",
    "            Choose sort order",
    "  -longest  Show paths exceeding 255 characters",
    "  -?        Display this help screen",
    "  -config   To set Tallyfold's default parameters",
    "  -support  Technical support",
    "  -vantor  To go to the Quenlow web site",
    "  -tallyfold  To go to the Tallyfold home page",
    "  -manual   To display the Tallyfold user manual",
    "  -help     To display the Tallyfold user manual",
    "  -w        Display welcome/help screen",
    "",
    "Use the configuration program CONFIG.EXE to set your most often used or",
    "standard parameters. These can be overridden by the environment variable",
    "TALLYFOLD, for which you should use a colon instead of an equals sign i.e.",
    "-cl:# and -size:#",
};

// The shell's refusal ends the run as an unhandled error does: the kind of
// error, the module and the code address, then the message with a full stop.
[[noreturn]] void FailLaunch(const std::string& target, const void* address) {
  platform::PutOnClipboard(target);
  char where[32];
  std::snprintf(where, sizeof where, "%016" PRIXPTR, reinterpret_cast<uintptr_t>(address));
  std::string message =
      std::string("Shell command failed. It has been copied to the clipboard.") + platform::kLineEnd + target;
  if (message.back() != '.') message += '.';
  ReleaseMessages();
  WriteMessageLine("Exception EShellError in module " + platform::ProgramFileName() + " at " + where + ".",
                   Paging::straight);
  WriteMessageLine(message, Paging::straight);
  EndProgram(1);
}

}  // namespace

void (*actionObserver)(const ImmediateAction& action) = nullptr;

void ShowUsage() {
  for (const char* line : kUsageLines) WriteLinePaged(line);
}

void ShowWelcome() {
  if (actionObserver != nullptr) actionObserver({"shows the welcome screen", true});
  ReleaseMessages();
  const std::string lines[] = {
      "Tallyfold is a great utility for finding disk-space hungry applications or",
      "network space hogs. It can show you how much of your precious hard disk",
      "space is being wasted, and can easily show you how much disk space a set",
      "of folders will use when copied elsewhere.",
      "",
      "Don't forget to visit Quenlow's homepage on the InterNet:",
      "",
      "  " + MakerPageAddress(),
      "",
      "Here you can download updates, join mailing lists, leave comments,",
      "suggestions or bug reports, as well as try out our other products.",
      "Technical support is available at",
      "",
      "  " + SupportPageAddress(),
      "",
      "Type tallyfold -? for help",
  };
  for (const std::string& line : lines) WriteLinePaged(line);
}

std::string MakerPageAddress() { return TALLYFOLD_MAKER_URL; }
std::string SupportPageAddress() { return TALLYFOLD_SUPPORT_URL; }
std::string ProductPageAddress() { return TALLYFOLD_PRODUCT_URL; }
std::string SettingsProgramPath() { return platform::CompanionPath(platform::kSettingsProgramName); }
std::string HelpFilePath() { return platform::CompanionPath(platform::kHelpFileName); }

void ShellOpen(const std::string& target) {
  FlushOut();
  if (!platform::ShellOpen(target)) FailLaunch(target, __builtin_return_address(0));
}

void LaunchAndExit(const std::string& target) {
  if (actionObserver != nullptr) actionObserver({"opens " + target, true});
  // The settings program runs in this terminal: its message comes first.
  ReleaseMessages();
  ShellOpen(target);
  EndProgram(0);
}

void OpenHelpFile() {
  if (actionObserver != nullptr) actionObserver({"opens " + HelpFilePath(), false});
  FlushOut();
  // Without a desktop to open it, the manual can still be read in the
  // terminal as the man page.
  if (platform::ShellOpen(HelpFilePath()) || platform::ShowManualPageInTerminal()) return;
  FailLaunch(HelpFilePath(), __builtin_return_address(0));
}

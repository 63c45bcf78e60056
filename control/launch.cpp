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

std::vector<std::string> HelpLines() {
  const std::string settingsProgram = platform::kSettingsProgramName;
  return {
      "Usage: tallyfold [OPTION]... [FOLDER]... [OPTION]...",
      "Reports how much disk space the folder tree of FOLDER (the current folder by",
      "default) takes: each folder's total, wastage, file count and own size. Several",
      "folders are reported under one top line (N folders), their figures summed.",
      "",
      "  -#               show folders up to # levels deep (-0: 255; above 255: all)",
      "  -size=#          show a folder only if it holds # bytes or more",
      "                     (K, M and G multiply by 1024, 1024K and 1024M)",
      "  -cl=#            count wastage for a cluster size of # bytes (0: the drive's)",
      "  -dir             count plain file sizes, as a listing shows them: no wastage",
      "  -asper           show each folder's wastage as a percentage (the default)",
      "  -asval           show each folder's wastage as a size",
      "  -nowaste         hide the wastage column",
      "  -nofiles         hide the file counts",
      "  -nooffline       ignore the sizes of offline files",
      "  -nosubs          hide each folder's own size in square brackets",
      "  -nototals        hide the folder totals on the left",
      "  -nostats         leave out the drive statistics at the end",
      "  -noheader        leave out the header of the tab and comma reports",
      "  -tab             write a tab-separated report in fixed columns",
      "  -comma           write a comma-separated report",
      "  -html            write an HTML report",
      "  -json            write a JSON report, with the lists of -top, -types, -age",
      "  -map             write one HTML page that draws the tree as a treemap",
      "  -bars            add a bar of each folder's share of its parent's total",
      "  -utf8            write the tab and comma reports in UTF-8, the comma report",
      "                     with a byte-order mark",
      "  -compare=FILE    show each folder's growth since the JSON report FILE",
      "  -load=FILE       report on the JSON report FILE (- for standard input), not",
      "                     on a scan; give it again to merge several",
      "  -exclude=PATTERN leave out the folders that match PATTERN: a name at any",
      "                     depth, a path below the start folder (a/b, /a), a",
      "                     folder (a/), any folders (**/a), * and ?; give it as",
      "                     often as needed",
      "  -links           count a file with several hard links under every name",
      "  -mounts          enter other mounted file systems (kernel file systems never)",
      "  -mft             read the NTFS master file table instead of each folder",
      "                     (administrator on Windows, root on Linux)",
      "  -mft=FILE        report on the NTFS volume in FILE (an image or device); the",
      "                     start folder is a path inside it, / for its root",
      "  -top=#           list the # largest files instead of the folders (1 to 100000)",
      "  -top             list the 20 largest files instead of the folders",
      "  -types           list the file types by bytes instead of the folders",
      "  -age             add the Modified column: the newest file below each folder",
      "  -threads=#       read # folders at once (0: one per processor)",
      "  -nav             start the browser in navigation: one folder level at a",
      "                     time, every key on the bar and on the ? page",
      "  -c+              draw the tree with box-drawing characters, even redirected",
      "  -c-              draw the tree with plain characters, even on a console",
      "  -p               do not pause after each page",
      "  -sort=ORDER      order subfolders by name, local, total, waste, files, none,",
      "                     growth or age (newest first, with -age)",
      "  -longest         list the folder paths of 255 characters or more instead",
      "  -config          start " + settingsProgram + " to set the default parameters",
      "  -manual          open the user manual",
      "  -help            open the user manual",
      "  -support         open the technical support page",
      "  -tallyfold       open the Tallyfold home page",
      "  -vantor          open the Quenlow web site",
      "  -w               show the welcome screen",
      "  -?               show the usage screen (as the first word)",
      "  -h               show this help and end",
      "  --help           show this help and end",
      "  -version         show the version and end",
      "  --version        show the version and end",
      "",
      "Options are not case-sensitive; -size, -cl, -compare, -load and -exclude",
      "also take a colon for the equals sign (-size:#), as the TALLYFOLD variable",
      "needs. The default parameters that " + settingsProgram + " stores come first, then",
      "TALLYFOLD, then the command line. Every option also takes two dashes",
      "(--sort=total, --json), and --max-depth=# is -#; an unknown word after two",
      "dashes is an error. Give a folder whose name starts with a dash with a path:",
      std::string(".") + platform::kPathSeparator + "-2024.",
      "",
      "Exit status: 0 if the report was made, 1 if it could not be (or an option",
      "after two dashes is unknown), 2 if some folders could not be read: the",
      "report marks them (unreadable).",
  };
}

void ShowHelp() {
  for (const std::string& line : HelpLines()) WriteOutLine(line);
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

bool TryOpenHelpFile() {
  FlushOut();
  // Without a desktop to open it, the manual can still be read in the
  // terminal as the man page.
  return platform::ShellOpen(HelpFilePath()) || platform::ShowManualPageInTerminal();
}

void OpenHelpFile() {
  if (actionObserver != nullptr) actionObserver({"opens " + HelpFilePath(), false});
  if (TryOpenHelpFile()) return;
  FailLaunch(HelpFilePath(), __builtin_return_address(0));
}

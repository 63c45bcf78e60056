// The help screens and the launchers that hand a file, program or web
// address to the desktop.
#pragma once

#include <string>
#include <vector>

// The described usage screen of -?, kept as it was.
void ShowUsage();
void ShowWelcome();
// The help of --help and -h in the usual form: a usage line, then every
// option on a line of its own.
std::vector<std::string> HelpLines();
void ShowHelp();

std::string MakerPageAddress();
std::string SupportPageAddress();
std::string ProductPageAddress();
std::string SettingsProgramPath();
std::string HelpFilePath();

// Opens `target`; a refusal puts it on the clipboard and ends the run with
// the error lines and exit code 1.
void ShellOpen(const std::string& target);
// ShellOpen, then the end of the run with exit code 0.
[[noreturn]] void LaunchAndExit(const std::string& target);
void OpenHelpFile();
// Opens the help file, or the manual page in the terminal; false, and
// nothing on the clipboard, where neither opens.
bool TryOpenHelpFile();

// What a word of the parameters would start or show. The settings program
// explains words without acting on them: it sets `actionObserver`, which the
// screens and launchers then call first and which leaves the option parser
// by throwing. An observer that returns lets the action go ahead.
struct ImmediateAction {
  std::string description;  // "shows the welcome screen", "opens <target>"
  bool endsRun;             // false only for the help file
};
extern void (*actionObserver)(const ImmediateAction& action);

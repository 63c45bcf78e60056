// Paths, settings sources, locale and shell on Linux.
#include <algorithm>
#include <clocale>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <pwd.h>
#include <sched.h>
#include <sys/resource.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

#include "platform/platform.h"

extern char** environ;

namespace platform {

const PathStyle kPathStyle = PathStyle::Posix;
const char kPathSeparator = '/';
const char* const kLineEnd = "\n";
// No limit: each folder is opened relative to its parent, by its name alone.
const int kMaxScanPathLength = std::numeric_limits<int>::max();
const char* const kSettingsProgramName = "tallyfold-config";
const char* const kHelpFileName = "tallyfold.html";

namespace {

constexpr std::string_view kDefaultsKey = "DefaultParams=";

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* user = getpwuid(getuid()); user != nullptr) return user->pw_dir;
  return "";
}

std::string ConfigFolder() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0') {
    return std::string(config) + "/tallyfold";
  }
  return HomeFolder() + "/.config/tallyfold";
}

std::string Base64(const std::string& text) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  for (size_t i = 0; i < text.size(); i += 3) {
    uint32_t group = static_cast<uint8_t>(text[i]) << 16;
    if (i + 1 < text.size()) group |= static_cast<uint8_t>(text[i + 1]) << 8;
    if (i + 2 < text.size()) group |= static_cast<uint8_t>(text[i + 2]);
    encoded += kDigits[(group >> 18) & 63];
    encoded += kDigits[(group >> 12) & 63];
    encoded += i + 1 < text.size() ? kDigits[(group >> 6) & 63] : '=';
    encoded += i + 2 < text.size() ? kDigits[group & 63] : '=';
  }
  return encoded;
}

}  // namespace

size_t PathLength(std::string_view path) { return path.size(); }

std::string CurrentDirectory(std::string* failure) {
  std::string buffer(4096, '\0');
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) {
      if (failure != nullptr) *failure = std::strerror(errno);
      return {};
    }
    buffer.resize(buffer.size() * 2);
  }
  return buffer.c_str();
}

std::string CurrentDirectoryOfDrive(char) { return CurrentDirectory(); }

namespace {

// The running program's own file; empty when the system will not say.
std::string ProgramPath() {
  std::string buffer(4096, '\0');
  ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  buffer.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return buffer;
}

}  // namespace

std::string ProgramFolder() {
  const std::string path = ProgramPath();
  return path.empty() ? "./" : path.substr(0, path.find_last_of('/') + 1);
}

std::string CompanionPath(const char* name) {
  const std::string folder = ProgramFolder();
  const std::string beside = folder + name;
  if (access(beside.c_str(), F_OK) == 0) return beside;
  // An installed program lives in <prefix>/bin, its companions in
  // <prefix>/share/tallyfold.
  const std::string prefix = folder.substr(0, folder.find_last_of('/', folder.size() - 2) + 1);
  const std::string shared = prefix + "share/tallyfold/" + name;
  return access(shared.c_str(), F_OK) == 0 ? shared : beside;
}

std::string ProgramFileName() {
  const std::string path = ProgramPath();
  return path.empty() ? "tallyfold" : path.substr(path.find_last_of('/') + 1);
}

std::string StoredDefaultsLocation() { return ConfigFolder() + "/config"; }

std::string ReadStoredDefaults() {
  std::ifstream file(StoredDefaultsLocation());
  std::string line;
  std::string value;
  while (std::getline(file, line)) {
    if (line.compare(0, kDefaultsKey.size(), kDefaultsKey) == 0) value = line.substr(kDefaultsKey.size());
  }
  return value;
}

bool WriteStoredDefaults(const std::string& value, std::string& failure) {
  const std::string folder = ConfigFolder();
  const std::string parent = folder.substr(0, folder.find_last_of('/'));
  mkdir(parent.c_str(), 0700);
  mkdir(folder.c_str(), 0700);
  const std::string path = StoredDefaultsLocation();
  const std::string temporary = path + ".new";
  {
    std::ofstream file(temporary, std::ios::trunc);
    file << kDefaultsKey << value << '\n';
    if (!file.flush()) {
      failure = "Cannot write " + temporary + ": " + std::strerror(errno);
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    failure = "Cannot replace " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string EnvironmentVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

int UsableProcessors() {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return 1;
  return std::max(1, CPU_COUNT(&allowed));
}

int64_t ThreadWaitCount() {
  struct rusage usage;
  if (getrusage(RUSAGE_THREAD, &usage) != 0) return -1;
  return usage.ru_nvcsw;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

namespace {

// The locale's upper case of every byte, looked up once per locale: every
// folder name is upper-cased for the name order.
unsigned char upperOf[256];
bool upperOfRead = false;

void ReadUpperCase() {
  for (int byte = 0; byte < 256; ++byte) upperOf[byte] = static_cast<unsigned char>(std::toupper(byte));
  upperOfRead = true;
}

}  // namespace

void InitLocale() {
  std::setlocale(LC_ALL, "");
  ReadUpperCase();
}

char ThousandsSeparator() {
  const lconv* conventions = std::localeconv();
  const char* separator = conventions != nullptr ? conventions->thousands_sep : nullptr;
  return (separator != nullptr && *separator != '\0') ? *separator : ',';
}

std::string UpperCase(std::string_view text) {
  if (!upperOfRead) ReadUpperCase();
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(upperOf[static_cast<unsigned char>(c)]);
  return upper;
}

std::string LocalDateTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[128];
  size_t length = std::strftime(text, sizeof text, "%x %X", &local);
  return std::string(text, length);
}

LocalTime LocalTimeOf(int64_t seconds) {
  const std::time_t moment = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (localtime_r(&moment, &local) == nullptr) return {1970, 1, 1, 0, 0, 0, 0};
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
          static_cast<int>(local.tm_gmtoff / 60)};
}

std::string FormatLocalDateTime(const LocalTime& time) {
  std::tm local{};
  local.tm_year = time.year - 1900;
  local.tm_mon = time.month - 1;
  local.tm_mday = time.day;
  local.tm_hour = time.hour;
  local.tm_min = time.minute;
  local.tm_sec = time.second;
  char text[128];
  const size_t length = std::strftime(text, sizeof text, "%x %X", &local);
  return std::string(text, length);
}

std::string HostName() {
  char name[256];
  if (gethostname(name, sizeof name) != 0) return "";
  name[sizeof name - 1] = '\0';
  return name;
}

namespace {

bool IsProgram(const std::string& target) {
  struct stat info;
  return stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(target.c_str(), X_OK) == 0;
}

bool WaitForExit(pid_t child, int& status) {
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Where a helper program's output goes: where ours goes, to our standard
// error (the terminal when standard output is redirected), or nowhere.
enum class HelperOutput { ours, toStandardError, discarded };

// Runs a program found through PATH and waits; true when it exited with 0.
bool RunHelper(std::initializer_list<const char*> arguments, HelperOutput output) {
  std::vector<char*> argv;
  for (const char* argument : arguments) argv.push_back(const_cast<char*>(argument));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output == HelperOutput::toStandardError) {
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  }
  if (output == HelperOutput::discarded) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  pid_t child;
  const int started = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return started == 0 && WaitForExit(child, status) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Starts `program` (found through PATH) with `argument`, if any, and waits
// for it; false when it could not be started.
bool StartAndWait(const char* program, const char* argument, int& status) {
  const char* arguments[] = {program, argument, nullptr};
  pid_t child;
  if (posix_spawnp(&child, program, nullptr, nullptr, const_cast<char**>(arguments), environ) != 0) return false;
  return WaitForExit(child, status);
}

// The desktop's opener; its exit status tells whether the target could be
// opened.
bool OpenOnDesktop(const std::string& target) {
  int status = 0;
  return StartAndWait("xdg-open", target.c_str(), status) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The terminal on standard input as the user's shell should find it, and
// as the program finds it again afterwards.
struct TerminalHold {
  bool held = false;
  struct termios mode;
};

TerminalHold HoldTerminal() {
  TerminalHold hold;
  hold.held = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &hold.mode) == 0;
  return hold;
}

// A shell with job control gives the terminal to a process group of its
// own and back when it ends; one that ended without giving it back (killed)
// would leave the program reading from the background. The modes a program
// left behind in the shell are undone too.
void TakeTerminalBack(const TerminalHold& hold) {
  if (!hold.held) return;
  if (tcgetpgrp(STDIN_FILENO) != getpgrp()) {
    // Taking the terminal from the background stops the process unless
    // SIGTTOU is blocked meanwhile.
    sigset_t blocked;
    sigset_t previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTTOU);
    sigprocmask(SIG_BLOCK, &blocked, &previous);
    tcsetpgrp(STDIN_FILENO, getpgrp());
    sigprocmask(SIG_SETMASK, &previous, nullptr);
  }
  tcsetattr(STDIN_FILENO, TCSANOW, &hold.mode);
}

// Starts `shell` in `folder`; Ctrl+C and Ctrl+\ are the shell's, as they
// would be in a shell started from a terminal, and a broken pipe ends a
// command in it as usual (the program itself ignores SIGPIPE).
bool SpawnShell(const std::string& shell, const std::string& folder, bool interruptIgnored, bool quitIgnored,
                pid_t& child) {
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  if (!interruptIgnored) sigaddset(&defaults, SIGINT);
  if (!quitIgnored) sigaddset(&defaults, SIGQUIT);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  const char* arguments[] = {shell.c_str(), nullptr};
  const bool started =
      posix_spawnp(&child, shell.c_str(), &actions, &attributes, const_cast<char**>(arguments), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return started;
}

}  // namespace

bool ShellOpen(const std::string& target) {
  // A program (the settings program) runs in this terminal and is waited
  // for, whatever its exit status; anything else goes to the desktop's opener.
  int status = 0;
  return IsProgram(target) ? StartAndWait(target.c_str(), nullptr, status) : OpenOnDesktop(target);
}

bool OpenFolderOnDesktop(const std::string& folder) {
  // Without a display the opener would fall back to a program in this
  // terminal, or fail after a while.
  if (EnvironmentVariable("DISPLAY").empty() && EnvironmentVariable("WAYLAND_DISPLAY").empty()) return false;
  return OpenOnDesktop(folder);
}

bool RunShellIn(const std::string& folder) {
  std::string shell = EnvironmentVariable("SHELL");
  if (shell.empty()) shell = "/bin/sh";
  // ReadKey leaves the terminal in its own modes after every key: the shell
  // finds them as they were, and the next key read sets its own again.
  const TerminalHold terminal = HoldTerminal();
  // While the shell runs, its Ctrl+C is not the program's end.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  struct sigaction interrupt {};
  struct sigaction quit {};
  sigaction(SIGINT, &ignore, &interrupt);
  sigaction(SIGQUIT, &ignore, &quit);
  pid_t child;
  const bool started =
      SpawnShell(shell, folder, interrupt.sa_handler == SIG_IGN, quit.sa_handler == SIG_IGN, child);
  int status = 0;
  if (started) WaitForExit(child, status);
  sigaction(SIGINT, &interrupt, nullptr);
  sigaction(SIGQUIT, &quit, nullptr);
  TakeTerminalBack(terminal);
  return started;
}

bool ShowManualPageInTerminal() {
  HelperOutput output;
  if (isatty(STDOUT_FILENO)) {
    output = HelperOutput::ours;
  } else if (isatty(STDERR_FILENO)) {
    output = HelperOutput::toStandardError;  // never into a redirected report
  } else {
    return false;
  }
  if (RunHelper({"man", "-w", "tallyfold"}, HelperOutput::discarded)) {
    return RunHelper({"man", "tallyfold"}, output);
  }
  const std::string besideProgram = ProgramFolder() + "tallyfold.1";
  return access(besideProgram.c_str(), R_OK) == 0 && RunHelper({"man", "-l", besideProgram.c_str()}, output);
}

void PutOnClipboard(const std::string& text) {
  // The terminal's clipboard sequence (OSC 52), understood by xterm, tmux
  // and most terminal emulators; nothing to do without a terminal.
  const std::string sequence = "\x1b]52;c;" + Base64(text) + "\a";
  int terminal = isatty(STDERR_FILENO) ? STDERR_FILENO : (isatty(STDOUT_FILENO) ? STDOUT_FILENO : -1);
  if (terminal >= 0 && write(terminal, sequence.data(), sequence.size()) < 0) return;
}

}  // namespace platform

// Paths, settings sources, locale and shell on Windows.
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/win32/console.h"
#include "platform/win32/wide_text.h"

namespace platform {

const PathStyle kPathStyle = PathStyle::Windows;
const char kPathSeparator = '\\';
const char* const kLineEnd = "\r\n";
const int kMaxScanPathLength = 32767;
const char* const kSettingsProgramName = "config.exe";
const char* const kHelpFileName = "tallyfold.chm";

namespace {

constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Quenlow\\Tallyfold";
constexpr wchar_t kDefaultsValue[] = L"DefaultParams";

// Runs a call that fills a wide buffer and answers the length it needs when
// the buffer is too small (the length it wrote otherwise), growing the
// buffer until the text fits. An answer of 0 means failure: empty text.
template <typename Fill>
std::string ReadGrowing(Fill fill) {
  std::wstring buffer(MAX_PATH, L'\0');
  while (true) {
    const DWORD length = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return "";
    if (length < buffer.size()) return win32::Narrow(std::wstring_view(buffer.data(), length));
    buffer.resize(static_cast<size_t>(length) + 1);
  }
}

// Reading asks for read access only, so that it works where no more is
// granted and leaves no key behind where none was.
LONG OpenSettingsKeyToRead(HKEY& key) { return RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key); }

// Storing creates the key when it is missing.
LONG OpenSettingsKeyToWrite(HKEY& key) {
  return RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                         nullptr, &key, nullptr);
}

// A string value as stored: an expandable string is not expanded, and the
// text ends at its first zero whether or not one was stored.
std::string ReadStringValue(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return "";
  if (type != REG_SZ && type != REG_EXPAND_SZ) return "";
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes) !=
      ERROR_SUCCESS) {
    return "";
  }
  return win32::Narrow(text.c_str());
}

// The locale's separator as one byte of the program's text: ASCII as it
// is, the blanks some locales use as a blank, anything else the default.
char SeparatorByte(wchar_t c) {
  if (c > 0 && c < 0x80) return static_cast<char>(c);
  if (c == 0x00A0 || c == 0x202F || c == 0x2009) return ' ';
  if (c == 0x2019) return '\'';
  return ',';
}

void PutOnClipboardAs(UINT format, const void* data, size_t bytes) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (memory == nullptr) return;
  void* target = GlobalLock(memory);
  if (target != nullptr) {
    std::memcpy(target, data, bytes);
    GlobalUnlock(memory);
    // The clipboard owns the memory once it has taken it.
    if (SetClipboardData(format, memory) != nullptr) return;
  }
  GlobalFree(memory);
}

std::string ToAnsi(const std::wstring& wide) {
  const int length = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(length > 0 ? length : 1), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), length, nullptr, nullptr);
  return ansi;
}

}  // namespace

size_t PathLength(std::string_view path) {
  // UTF-16 units: one per UTF-8 lead byte, two for a four-byte sequence.
  size_t units = 0;
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

std::string CurrentDirectory(std::string* failure) {
  std::string directory =
      ReadGrowing([](wchar_t* buffer, DWORD size) { return GetCurrentDirectoryW(size, buffer); });
  if (directory.empty() && failure != nullptr) *failure = win32::SystemMessage(GetLastError());
  return directory;
}

std::string CurrentDirectoryOfDrive(char letter) {
  // The full path of a bare "X:" is the current directory of drive X. Wine
  // gives it with a closing backslash, Windows without one except at the root.
  const wchar_t drive[] = {static_cast<wchar_t>(letter), L':', L'\0'};
  std::string directory = ReadGrowing(
      [&drive](wchar_t* buffer, DWORD size) { return GetFullPathNameW(drive, size, buffer, nullptr); });
  if (directory.size() > 3 && directory.back() == '\\') directory.pop_back();
  return directory.empty() ? std::string{letter, ':', '\\'} : directory;
}

namespace {

// The running program's own file.
std::string ProgramPath() {
  std::wstring buffer(MAX_PATH, L'\0');
  DWORD length;
  // The name is cut, and the buffer filled, when it is too small.
  while ((length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()))) ==
         buffer.size()) {
    buffer.resize(buffer.size() * 2);
  }
  return win32::Narrow(std::wstring_view(buffer.data(), length));
}

}  // namespace

std::string ProgramFolder() {
  const std::string path = ProgramPath();
  return path.substr(0, path.find_last_of('\\') + 1);
}

// The Windows program keeps its companions beside it.
std::string CompanionPath(const char* name) { return ProgramFolder() + name; }

std::string ProgramFileName() {
  const std::string path = ProgramPath();
  return path.substr(path.find_last_of('\\') + 1);
}

std::string ReadStoredDefaults() {
  HKEY key;
  if (OpenSettingsKeyToRead(key) != ERROR_SUCCESS) return "";
  std::string value = ReadStringValue(key, kDefaultsValue);
  RegCloseKey(key);
  return value;
}

bool WriteStoredDefaults(const std::string& value, std::string& failure) {
  HKEY key;
  LONG result = OpenSettingsKeyToWrite(key);
  if (result == ERROR_SUCCESS) {
    const std::wstring text = win32::Widen(value);
    result = RegSetValueExW(key, kDefaultsValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  if (result == ERROR_SUCCESS) return true;
  failure =
      "Cannot write " + StoredDefaultsLocation() + ": " + win32::SystemMessage(static_cast<DWORD>(result));
  return false;
}

std::string StoredDefaultsLocation() {
  return "HKEY_CURRENT_USER\\SOFTWARE\\Quenlow\\Tallyfold\\DefaultParams";
}

std::string EnvironmentVariable(const char* name) {
  const std::wstring wideName = win32::Widen(name);
  return ReadGrowing([&wideName](wchar_t* buffer, DWORD size) {
    return GetEnvironmentVariableW(wideName.c_str(), buffer, size);
  });
}

int UsableProcessors() {
  DWORD_PTR processMask = 0, systemMask = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask) || processMask == 0) return 1;
  int count = 0;
  for (; processMask != 0; processMask &= processMask - 1) count += 1;
  return count;
}

// Windows keeps no count of a thread's waits that is cheap to read.
int64_t ThreadWaitCount() { return -1; }

std::vector<std::string> CommandLineArguments(int, char**) {
  // The runtime's argv follows other quoting rules than the program's own.
  return SplitCommandLine(win32::Narrow(GetCommandLineW()));
}

// The locale calls below read the user's settings each time.
void InitLocale() {}

char ThousandsSeparator() {
  wchar_t separator[12];
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, separator, 12) == 0) return ',';
  return SeparatorByte(separator[0]);
}

std::string UpperCase(std::string_view text) {
  std::wstring wide = win32::Widen(text);
  CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return win32::Narrow(wide);
}

std::string LocalDateTime() {
  wchar_t date[128];
  wchar_t time[128];
  if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 128) == 0) date[0] = L'\0';
  if (GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, 128) == 0) time[0] = L'\0';
  return win32::Narrow(date) + " " + win32::Narrow(time);
}

LocalTime LocalTimeOf(int64_t seconds) {
  constexpr int64_t kTicksPerSecond = 10000000;
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  const int64_t ticks = (seconds + kSecondsFrom1601To1970) * kTicksPerSecond;
  FILETIME universal{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
  FILETIME local{};
  SYSTEMTIME parts{};
  if (!FileTimeToLocalFileTime(&universal, &local) || !FileTimeToSystemTime(&local, &parts)) {
    return {1970, 1, 1, 0, 0, 0, 0};
  }
  const int64_t localTicks = (static_cast<int64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
  return {parts.wYear, parts.wMonth, parts.wDay, parts.wHour, parts.wMinute, parts.wSecond,
          static_cast<int>((localTicks - ticks) / kTicksPerSecond / 60)};
}

std::string FormatLocalDateTime(const LocalTime& clock) {
  SYSTEMTIME at{};
  at.wYear = static_cast<WORD>(clock.year);
  at.wMonth = static_cast<WORD>(clock.month);
  at.wDay = static_cast<WORD>(clock.day);
  at.wHour = static_cast<WORD>(clock.hour);
  at.wMinute = static_cast<WORD>(clock.minute);
  at.wSecond = static_cast<WORD>(clock.second);
  wchar_t date[128];
  wchar_t time[128];
  if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &at, nullptr, date, 128) == 0) date[0] = L'\0';
  if (GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &at, nullptr, time, 128) == 0) time[0] = L'\0';
  return win32::Narrow(date) + " " + win32::Narrow(time);
}

std::string HostName() {
  wchar_t name[256];
  DWORD length = 256;
  if (GetComputerNameExW(ComputerNameDnsHostname, name, &length) == 0) return "";
  return win32::Narrow(std::wstring(name, length));
}

bool ShellOpen(const std::string& target) {
  const std::wstring wideTarget = win32::Widen(target);
  HINSTANCE result = ShellExecuteW(nullptr, nullptr, wideTarget.c_str(), L"", L"", SW_SHOW);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

bool OpenFolderOnDesktop(const std::string& folder) {
  // A session without a visible desktop (a remote shell, a service) would
  // start Explorer where nobody sees it.
  USEROBJECTFLAGS station{};
  if (GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &station, sizeof station, nullptr) &&
      (station.dwFlags & WSF_VISIBLE) == 0) {
    return false;
  }
  return ShellOpen(folder);
}

namespace {

// Ctrl+C and Ctrl+Break reach every program on the console: while the
// user's shell runs they are its own, not the end of this program.
BOOL WINAPI LeaveBreakToTheShell(DWORD event) { return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT; }

}  // namespace

bool RunShellIn(const std::string& folder) {
  std::wstring shell = win32::Widen(EnvironmentVariable("COMSPEC"));
  if (shell.empty()) shell = L"cmd.exe";
  std::wstring commandLine = L"\"" + shell + L"\"";
  const std::wstring directory = win32::Widen(folder);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  win32::LeaveKeyMode();
  SetConsoleCtrlHandler(LeaveBreakToTheShell, TRUE);
  // Found as a command line's first word is: through PATH when it is a bare name.
  const bool started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      directory.c_str(), &startup, &process) != 0;
  if (started) {
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  SetConsoleCtrlHandler(LeaveBreakToTheShell, FALSE);
  win32::ReturnToKeyMode();
  return started;
}

bool ShowManualPageInTerminal() { return false; }

void PutOnClipboard(const std::string& text) {
  // The clipboard takes data only from the window that emptied it; with no
  // window it is emptied for nobody and refuses the text. The console window
  // belongs to the console host, so the program makes a window of its own
  // that receives no messages.
  HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (owner == nullptr) return;
  if (OpenClipboard(owner)) {
    EmptyClipboard();
    const std::wstring wide = win32::Widen(text);
    const std::string ansi = ToAnsi(wide);
    PutOnClipboardAs(CF_UNICODETEXT, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    PutOnClipboardAs(CF_TEXT, ansi.c_str(), ansi.size());
    CloseClipboard();
  }
  // The text stays on the clipboard when its owner goes.
  DestroyWindow(owner);
}

}  // namespace platform

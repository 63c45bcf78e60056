// The services Tallyfold needs from the operating system, in its own words.
// Everything outside platform/ uses only this header; platform/posix and
// platform/win32 each implement it, and the build picks one folder.
//
// All text crossing this interface is UTF-8. The Windows backend widens it to
// UTF-16 at each system call and narrows what the system returns.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// How paths are written: drive letters and backslashes, or one tree under "/".
enum class PathStyle { Windows, Posix };

extern const PathStyle kPathStyle;
extern const char kPathSeparator;      // '\\' or '/'
extern const char* const kLineEnd;     // "\r\n" or "\n"
// The longest folder path the scan reads: Windows' limit; Linux has none
// (the largest int), since each folder is opened relative to its parent.
extern const int kMaxScanPathLength;
extern const char* const kSettingsProgramName;  // a companion (CompanionPath)
extern const char* const kHelpFileName;         // a companion (CompanionPath)

// ---- Folder listing -------------------------------------------------------

// Attribute bits of a listing entry, as Windows reports them; the POSIX
// backend maps its file types onto the same bits.
inline constexpr uint32_t kAttrVolumeLabel = 0x8;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrReparsePoint = 0x400;
inline constexpr uint32_t kAttrOffline = 0x1000;

// Whether the system's names ignore letter case (Windows) or not (Linux).
extern const bool kNamesIgnoreCase;

struct ListingEntry {
  std::string_view name;  // valid only during the visit
  uint32_t attributes;
  int64_t size;           // bytes; 0 for directories
  // A file's number of hard links; the Windows listing gives none, so there
  // every name is 1.
  uint32_t linkCount = 1;
  // What identifies the entry on its volume, folders as well as files; 0 and 0 where the
  // system gives nothing. A folder's pair is what its listing is checked against when opened.
  uint64_t volumeId = 0;
  uint64_t fileId = 0;
  // The bytes the system allocated to a file, where it says (Linux: st_blocks * 512 for every
  // file; Windows: only files flagged sparse or compressed, from GetCompressedFileSizeW);
  // -1 where it does not say.
  int64_t allocatedBytes = -1;
  // When a file's contents last changed, in seconds since 1970-01-01 UTC.
  int64_t modifiedSeconds = 0;
  // A lister that counts files itself may give a folder's plain files (one
  // link each, sizes counted) as one entry of no name, or one per file type
  // named by the part of their names from the last dot, which they share:
  // how many, and the bytes and slack the scan counts of them
  // (CountedFileBytes); its time is their newest. 0 files for any other entry.
  int32_t summedFiles = 0;
  int64_t summedBytes = 0;
  int64_t summedSlack = 0;
};

// The program's own attribute bit, which no system sets: a folder where another file system is
// mounted. The scan enters it only with -mounts and otherwise names it once on standard error.
// Kernel file systems (proc, sysfs, ...) are listed as kAttrDirectory | kAttrReparsePoint instead:
// never entered, never named.
inline constexpr uint32_t kAttrOtherFileSystem = 0x10000000;

// What a folder's parent listing saw of it; 0 and 0 (the start folder) is not checked.
struct FolderIdentity {
  uint64_t volumeId = 0;
  uint64_t fileId = 0;
  bool operator==(const FolderIdentity&) const = default;
};

// How a listing ended; a failed listing says why, in the system's words.
struct ListStatus {
  // Changed: the folder opened is not the one its parent listed (it was replaced, for example
  // by a link or junction, between the listing and the open); nothing of it is visited.
  enum Outcome { Listed, PathNotFound, Changed, Failed };
  Outcome outcome = Listed;
  std::string reason;  // for Failed: "Permission denied", ...

  ListStatus(Outcome outcome = Listed) : outcome(outcome) {}
  ListStatus(Outcome outcome, std::string reason) : outcome(outcome), reason(std::move(reason)) {}
  bool operator==(Outcome other) const { return outcome == other; }
};

using EntryVisitor = void (*)(void* context, const ListingEntry& entry);

// The folder every later listing lies below. Listings of folders below it open each folder
// relative to an open ancestor, one name at a time, never following a link or junction, and never
// by a full path (Linux); call before a scan, EndWalk after it. Windows may keep nothing here
// if it opens each folder by its \\?\ path with FILE_FLAG_OPEN_REPARSE_POINT and checks it.
// The start folder a path names is opened by the first walk of it and held for the rest of the
// run: later walks (a folder read again) and every action (CheckWay) start from what the scan
// read, wherever the path leads meanwhile.
void BeginWalk(const std::string& startFolderPath);
void EndWalk();

// Lists every entry of `folderPath` (ending in a separator), "." and ".." included, in the order the
// file system gives them; `expected` is what the parent listing saw of it (checked when known).
// The "." entry carries the folder's own identity where the system gives it.
ListStatus ListFolder(const std::string& folderPath, const FolderIdentity& expected,
                      EntryVisitor visit, void* context);

// ---- Paths ----------------------------------------------------------------

// The length of a path as the system's path limit counts it (UTF-16 units
// on Windows, bytes on Linux).
size_t PathLength(std::string_view path);
// The current directory, as a full path; empty when the system cannot give
// it (it was removed, or may not be read), with `failure` saying why.
std::string CurrentDirectory(std::string* failure = nullptr);
// Windows: the current directory of drive `letter` (upper case), e.g. "C:\\Work".
std::string CurrentDirectoryOfDrive(char letter);
// The folder of the running program, ending in a separator.
std::string ProgramFolder();
// Where the companion file `name` (manual, style sheet, settings program)
// is: beside the program, else, on Linux, in share/tallyfold/ beside the
// program's folder, where an installed program has them; the path beside
// the program when neither holds it.
std::string CompanionPath(const char* name);

// A file's path as the standard library's file streams take it: the UTF-8
// text widened on Windows, the bytes as they are on Linux.
std::filesystem::path FilePath(const std::string& path);

// ---- Drives ---------------------------------------------------------------

struct DriveFigures {
  int32_t clusterSize = 0;
  int64_t capacityBytes = 0;
  int64_t freeBytes = 0;
  // The space in use, as the system counts it: on Linux the blocks in use,
  // which leaves out the blocks kept for root, counted neither free (to an
  // ordinary user) nor used; on Windows capacity minus free.
  int64_t usedBytes = 0;
};

// Linux: the mount point of the file system that holds `path` (the longest
// mount point that is a prefix of its resolved form); empty when the mount
// table cannot be read. Unused on Windows, where the root comes from the path.
std::string MountPointOf(const std::string& path);
// Reads the figures of a drive root; false when the drive cannot be read.
bool ReadDriveFigures(const std::string& root, DriveFigures& figures);
// "LABEL (FSTYPE)", " (FSTYPE)" without a label, or "" when unknown.
std::string DescribeVolume(const std::string& root);

// ---- Raw volumes -------------------------------------------------------------

// Where the file system that holds a folder lives: the device (or image file)
// to read it from, the folder it is mounted at, and the folder's path inside
// the volume ("/" or "\\" for its root, then names joined by kPathSeparator).
struct VolumeLocation {
  std::string device;
  std::string mountPoint;
  std::string pathInVolume;
};
// Linux: the source of the mount in /proc/self/mountinfo, for NTFS mounts
// (ntfs, ntfs3, fuse and fuseblk); Windows: \\.\X: for a drive letter.
// False, with `failure` saying why (naming the device where one is known in
// `location.device`), for any other file system.
bool LocateVolume(const std::string& folder, VolumeLocation& location, std::string& failure);

// Whether the system lists an NTFS folder in the order its index stores the
// names (the index root's entries, then each index block in turn), as the
// Linux drivers do, rather than in the index's name order, as Windows does.
extern const bool kListsNtfsFoldersAsStored;

// A volume or image opened for reading its blocks; `size` is -1 when the
// system does not say.
struct RawVolume {
  intptr_t handle = -1;
  int64_t size = -1;
  // The bytes shown by ViewRawVolume, where the system maps them.
  void* view = nullptr;
  size_t viewBytes = 0;
};
// Opens `path` (a device, \\.\X:, or an image file) for reading; false with
// `failure` in the system's words.
bool OpenRawVolume(const std::string& path, RawVolume& volume, std::string& failure);
// Reads exactly `bytes` bytes at `offset`; false when they cannot all be read.
bool ReadRawVolume(const RawVolume& volume, int64_t offset, void* buffer, size_t bytes);
// Shows the `bytes` bytes at `offset` (which lie inside `size`) where they
// lie, without copying them, in place of those shown before; null where the
// system cannot, and then they are read. No bytes: those shown before are let go.
const uint8_t* ViewRawVolume(RawVolume& volume, int64_t offset, size_t bytes);
void CloseRawVolume(RawVolume& volume);

// What a listing of the NTFS volume that holds `folder` gives as the
// identity of the file in table record `record` (of sequence number
// `sequence`), for the entries read from the table in its place: the
// volume's part (0 where the listing gives none) and the file's.
uint64_t NtfsVolumeId(const std::string& folder);
uint64_t NtfsFileId(uint64_t record, uint16_t sequence);

// ---- Console --------------------------------------------------------------

struct ConsoleFacts {
  bool outputRedirected;  // standard output is not a console
  int pageLength;         // rows - 1, or 24 when redirected
  int screenWidth;        // columns, or 80 when redirected
};

// Takes the standard handles and measures the screen. On failure to get a
// handle it returns false with `failure` holding the message to show.
bool OpenConsole(ConsoleFacts& facts, std::string& failure);

// Writes bytes of the report to standard output; false when the write failed.
bool WriteStandardOutput(std::string_view text);
// From now on a file or pipe on standard output gets UTF-8, whatever the
// system's code page: for a document that declares its charset (Linux
// writes UTF-8 anyway).
void WriteStandardOutputInUtf8();
// Whether text written to a file or pipe on standard output had characters
// its code page lacks, written as "?"; never on Linux, which writes UTF-8.
bool StandardOutputLostCharacters();
// Writes to the console's error handle only when it is a console (progress).
void WriteConsoleError(std::string_view text);
// Writes to standard error wherever it goes (error lines of the scan).
void WriteStandardError(std::string_view text);
// Why the last failed write failed, in words.
std::string LastWriteFailure();
// Whether the last failed write found its reader gone (a closed pipe).
bool LastWriteFoundReaderGone();
// Whether standard error is a console (a terminal on Linux).
bool StandardErrorIsConsole();

struct KeyPress {
  uint8_t character;  // 0 for a key without one
  uint8_t scanCode;   // PC scan code when `character` is 0
  bool ok;            // false when no key could be read
};

// Waits for one key press; Ctrl+C keeps its default effect of ending the
// process. The scan codes are those of the PC keyboard: F1 0x3B, Home 0x47,
// Up 0x48, Page Up 0x49, Left 0x4B, Right 0x4D, End 0x4F, Down 0x50, Page
// Down 0x51, Delete 0x53.
KeyPress ReadKey();
// After standard input has been read to its end (a report from a pipe), the
// keys come from the terminal (the console on Windows) when there is one.
void TakeKeysFromTerminal();
// Blanks the screen and homes the cursor.
void ClearConsoleScreen();
// Text written after this shows in reverse video (on) or in the console's
// own colours again (off).
void SetReverseVideo(bool on);

// ---- Settings sources -------------------------------------------------------

// The stored default parameter string; empty when there is none.
std::string ReadStoredDefaults();
// Stores a new default parameter string; false with `failure` set on error.
bool WriteStoredDefaults(const std::string& value, std::string& failure);
// Where the stored defaults live, for messages ("HKCU\\..." or a file path).
std::string StoredDefaultsLocation();
// The value of environment variable `name` (case-insensitive on Windows);
// empty when unset.
std::string EnvironmentVariable(const char* name);
// The processors this process may run on (at least 1).
int UsableProcessors();
// How many times the calling thread has waited (for a device, a lock) since
// it began; -1 where the system does not count them.
int64_t ThreadWaitCount();
// The command-line arguments, argument 0 (the program's path) first.
std::vector<std::string> CommandLineArguments(int argc, char** argv);
// Windows command-line rule: characters 1 to 32 separate arguments, double
// quotes group and are dropped, and an empty pair of quotes where an
// argument would begin is skipped.
std::vector<std::string> SplitCommandLine(std::string_view commandLineText);

// ---- Locale -----------------------------------------------------------------

// Reads the user's locale; call once before the other locale services.
void InitLocale();
char ThousandsSeparator();
std::string UpperCase(std::string_view text);
// The current local date and time: short date, a blank, long time.
std::string LocalDateTime();
// The machine's name, or empty when the system does not give it.
std::string HostName();

// A moment in the user's time zone, and that zone's distance from UTC then.
struct LocalTime {
  int year, month, day, hour, minute, second;
  int offsetMinutes;  // local time minus UTC
};
// `seconds` since 1970-01-01 UTC as local time.
LocalTime LocalTimeOf(int64_t seconds);
// A local time (a saved report's creation time) as LocalDateTime writes it;
// its offset is not shown.
std::string FormatLocalDateTime(const LocalTime& time);

// ---- Acting on what the scan saw ----------------------------------------------

// The way from the start folder to an item of the scan: its names below the
// start folder (joined by kPathSeparator, never empty, no "." or ".."), and
// what the scan saw of the folders on the way: folders[0] is the start
// folder, folders[i] the folder of the i-th name (the item itself, where it
// is a folder the scan kept). A shorter list, or 0 and 0, leaves a folder
// unknown (folded away): it is then only held to its parent's file system.
struct ItemWay {
  std::string startFolder;
  std::string relativePath;
  std::vector<FolderIdentity> folders;
};

// How an action on an item ended. Removed: all of it is gone (or, for
// CheckWay, the way leads to what the scan saw). NoTrash: no trash can take
// it (no trash on its file system, or the path is too long for it); the item
// is untouched, `reason` says why in a sentence that names the trash or
// drive. Changed: `path`, on the way or the item, is not what the scan saw
// (another folder, or on another file system). OtherFileSystem: the item is
// a folder where another file system is mounted. HoldsMount: the item holds
// the mount point of a file system. IsTrash: the item is a trash in use, or
// its files/ or info/. Failed: `path` (the item itself or something below
// it) could not be removed, for `reason` in the system's words ("Permission
// denied") or the program's ("Now a symbolic link; left alone"); what could
// be removed is gone, the rest stays. Except for Removed and Failed, nothing
// was done. `trash`: the trash folder a removed item went into, as a full
// path, where the system says (the Recycle Bin does not).
struct RemovalResult {
  enum Outcome { Removed, NoTrash, Changed, OtherFileSystem, HoldsMount, IsTrash, Failed };
  Outcome outcome = Removed;
  std::string path;
  std::string reason;
  std::string trash;
};

// The item is reached from the start folder, held open since the scan
// (BeginWalk), one name at a time without following a link or junction, and
// every folder on the way is compared with what the scan saw. A link or
// junction now in the item's place Fails, and a folder where another file
// system is mounted is OtherFileSystem: both are left alone. A folder and a file are both taken as
// found: the caller does not say which it saw. CheckWay only reaches it (an
// empty relative path: the start folder alone).
RemovalResult CheckWay(const ItemWay& way);
// Moves the item to the trash: the freedesktop.org trash on Linux (the home
// trash on the same file system, else the file system's own .Trash-<uid>,
// with a .trashinfo holding its path and the date), the Recycle Bin on Windows.
RemovalResult MoveToTrash(const ItemWay& way);
// Removes the item for good, relative to open descriptors (handles): it never
// follows a link or junction (a link is removed itself) and never enters
// another file system, which stays; it goes on past a failure as far as it
// can and reports the first one.
RemovalResult DeleteForGood(const ItemWay& way);

// Opens `folder` in the desktop's file manager, through the opener ShellOpen
// uses; false when no desktop is found or it refused.
bool OpenFolderOnDesktop(const std::string& folder);
// Runs the user's shell ($SHELL, else /bin/sh; %COMSPEC% on Windows) in
// `folder` on this terminal, with the terminal's own modes, and waits for it
// to end; false when it could not be started.
bool RunShellIn(const std::string& folder);

// ---- Shell ------------------------------------------------------------------

// Opens a file, program or web address as the desktop would; false when it
// was refused.
bool ShellOpen(const std::string& target);
// Shows the manual page in the terminal, for a desktop that cannot open the
// help file: on Linux the installed page, else tallyfold.1 beside the
// program, through man. False when neither standard output nor standard
// error is a terminal, or no page could be shown; always false on Windows,
// whose help file is the whole manual.
bool ShowManualPageInTerminal();
// Puts text on the clipboard (the terminal's clipboard on Linux).
void PutOnClipboard(const std::string& text);

}  // namespace platform

// ---- Fatal run-time errors ----------------------------------------------------

namespace platform {

// The error numbers of fatal run-time errors. Each is written in the fatal-
// error report and becomes the process's exit code.
inline constexpr int kFatalArithmetic = 200;         // integer division by zero
inline constexpr int kFatalStackOverflow = 202;      // the stack's guard page was hit
inline constexpr int kFatalOutOfMemory = 203;        // an allocation failed and nothing caught it
inline constexpr int kFatalAccessViolation = 216;    // memory the process may not touch
inline constexpr int kFatalUncaughtException = 217;  // any other error nothing caught

// Catches the system's fatal faults: on Linux SIGSEGV, SIGBUS, SIGFPE, SIGILL
// and SIGABRT, handled on an alternate signal stack so that a stack overflow can
// still be reported; on Windows the unhandled-exception filter. `report` is
// called with the error number, then the process ends with that number.
void InstallFatalFaultHandlers(void (*report)(int errorNumber));
// Ends the process at once with `exitCode`, running no exit handlers: after
// a fatal error the program's own state cannot be trusted.
[[noreturn]] void EndProcessNow(int exitCode);
// Writes the fatal-error report's text to standard output without taking
// memory from the heap, which may have none left: Windows converts it in
// buffers of its own.
void WriteFatalReportText(std::string_view text);
// The file name of the running program ("tallyfold", "tallyfold.exe").
std::string ProgramFileName();

}  // namespace platform

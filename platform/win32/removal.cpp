// Removing what the user chose, on Windows: to the Recycle Bin through the
// shell, or for good through handles. The folders from the start folder down
// to the item are held open without sharing deletion while it is removed, so
// that none of them can be renamed or replaced by a junction meanwhile; a
// link, junction or mount point is never entered, only removed itself.
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/relative_names.h"
#include "platform/win32/folder_steps.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

constexpr const char* kNowALink = "Now a link or junction; left alone";
constexpr const char* kChanged = "Changed during the removal; left alone";

// A handle with one owner, closed however a step ends.
struct Handle {
  HANDLE handle = INVALID_HANDLE_VALUE;
  Handle() = default;
  explicit Handle(HANDLE opened) : handle(opened) {}
  Handle(Handle&& other) noexcept : handle(std::exchange(other.handle, INVALID_HANDLE_VALUE)) {}
  Handle& operator=(Handle&& other) noexcept {
    std::swap(handle, other.handle);
    return *this;
  }
  Handle(const Handle&) = delete;
  ~Handle() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  bool Valid() const { return handle != INVALID_HANDLE_VALUE; }
};

// Others may read and write what is held, but not rename, replace or
// delete it.
constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the name itself: a link or junction, not what it leads to.
Handle OpenItself(const std::wstring& path, DWORD access, DWORD share) {
  return Handle(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

RemovalResult Failure(std::string path, std::string reason) {
  return {RemovalResult::Failed, std::move(path), std::move(reason), ""};
}

std::string LastError() { return win32::SystemMessage(GetLastError()); }

std::string Joined(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (path.empty() || (path.back() != '\\' && path.back() != '/')) path += '\\';
  return path.append(name);
}

// Why the open name may not be removed or passed through: a link or
// junction in its place, or facts the system will not give; empty when it
// may.
std::string RefusalOf(HANDLE handle, FILE_ATTRIBUTE_TAG_INFO& facts) {
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &facts, sizeof facts)) return LastError();
  return win32::IsNameSurrogate(facts.FileAttributes, facts.ReparseTag) ? kNowALink : "";
}

// The item as reached: the start folder and every folder down to its
// parent held open.
struct ReachedItem {
  std::vector<Handle> held;
  std::string path;
  std::wstring longPath;
  FolderIdentity seen;  // what the scan saw of the item, where it is a folder it kept
};

FolderIdentity SeenOf(const ItemWay& way, size_t index) {
  return index < way.folders.size() ? way.folders[index] : FolderIdentity{};
}

// Whether the folder held is the one the scan saw, where both the scan and
// the system give its number.
bool IsAsScanned(HANDLE folder, const FolderIdentity& seen) {
  BY_HANDLE_FILE_INFORMATION facts;
  if (seen.fileId == 0 || !GetFileInformationByHandle(folder, &facts)) return true;
  const uint64_t fileId = (static_cast<uint64_t>(facts.nFileIndexHigh) << 32) | facts.nFileIndexLow;
  return fileId == 0 || fileId == seen.fileId;
}

// Reaches the item's parent from the start folder one name at a time,
// holding each folder on the way, and refuses a link or junction on the
// way. On failure `failure` says where and why.
bool Reach(const ItemWay& way, ReachedItem& item, RemovalResult& failure) {
  const std::string& startFolder = way.startFolder;
  item.path = Joined(startFolder, way.relativePath);
  std::vector<std::string> names;
  if (!SplitRelativeNames(way.relativePath, "\\/", names)) {
    if (!way.relativePath.empty()) {
      failure = Failure(item.path, "Not below the start folder");
      return false;
    }
    item.path = startFolder;
  }
  // The start folder is the one the user named: a link to it is followed.
  Handle start(CreateFileW(win32::LongPath(startFolder).c_str(), FILE_READ_ATTRIBUTES, kShareAllButDelete, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!start.Valid()) {
    failure = Failure(startFolder, LastError());
    return false;
  }
  if (!IsAsScanned(start.handle, SeenOf(way, 0))) {
    failure = {RemovalResult::Changed, startFolder, "", ""};
    return false;
  }
  item.held.push_back(std::move(start));
  std::string reached = startFolder;
  FILE_ATTRIBUTE_TAG_INFO facts{};
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    reached = Joined(reached, names[i]);
    Handle folder = OpenItself(win32::LongPath(reached), FILE_READ_ATTRIBUTES, kShareAllButDelete);
    const std::string refusal = folder.Valid() ? RefusalOf(folder.handle, facts) : LastError();
    if (!refusal.empty()) {
      failure = Failure(reached, refusal);
      return false;
    }
    if (!IsAsScanned(folder.handle, SeenOf(way, i + 1))) {
      failure = {RemovalResult::Changed, reached, "", ""};
      return false;
    }
    item.held.push_back(std::move(folder));
  }
  item.longPath = win32::LongPath(item.path);
  item.seen = SeenOf(way, names.size());
  return true;
}

// Opens the item (or a name below it) itself; why it may not be removed
// (a link or junction now in the item's place), else empty.
std::string OpenToRemove(const std::wstring& longPath, DWORD access, DWORD share, Handle& itself,
                         FILE_ATTRIBUTE_TAG_INFO& facts) {
  itself = OpenItself(longPath, access, share);
  return itself.Valid() ? RefusalOf(itself.handle, facts) : LastError();
}

// Reaches the item of `way` and opens it itself with `access` and `share`,
// checked against what the scan saw; false with `failure` saying where and
// why when it cannot be reached or opened, or is no longer what was scanned.
bool OpenAsScanned(const ItemWay& way, DWORD access, DWORD share, ReachedItem& item, Handle& itself,
                   FILE_ATTRIBUTE_TAG_INFO& facts, RemovalResult& failure) {
  if (!Reach(way, item, failure)) return false;
  if (const std::string refusal = OpenToRemove(item.longPath, access, share, itself, facts); !refusal.empty()) {
    failure = Failure(item.path, refusal);
    return false;
  }
  if (!IsAsScanned(itself.handle, item.seen)) {
    failure = {RemovalResult::Changed, item.path, "", ""};
    return false;
  }
  return true;
}

// ---- The Recycle Bin ----------------------------------------------------------

constexpr const char* kNameTheBinCannotTake = "The Recycle Bin cannot take this name";

// The shell trims dots and blanks at the end of every name of a plain path,
// so that it would recycle another item (data. would be data); it takes no
// path longer than MAX_PATH either.
bool IsNameTheShellTakes(const std::wstring& path) {
  if (path.size() >= MAX_PATH) return false;
  for (size_t start = 0; start <= path.size();) {
    const size_t end = std::min(path.find(L'\\', start), path.size());
    if (end > start && (path[end - 1] == L'.' || path[end - 1] == L' ')) return false;
    start = end + 1;
  }
  return true;
}

// The bytes the item takes (a folder with everything below it, never
// entering a link or junction), as the Recycle Bin counts them against its
// limit.
uint64_t ItemBytes(const std::wstring& longPath) {
  WIN32_FIND_DATAW found;
  HANDLE listing = FindFirstFileExW(longPath.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (listing == INVALID_HANDLE_VALUE) return 0;
  FindClose(listing);
  const auto sizeOf = [](const WIN32_FIND_DATAW& entry) {
    return (static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
  };
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return sizeOf(found);
  uint64_t bytes = 0;
  std::vector<std::wstring> folders{longPath};
  while (!folders.empty()) {
    const std::wstring folder = std::move(folders.back());
    folders.pop_back();
    listing = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                               FIND_FIRST_EX_LARGE_FETCH);
    if (listing == INVALID_HANDLE_VALUE) continue;
    do {
      const std::wstring_view name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        folders.push_back(folder + L"\\" + std::wstring(name));
      } else {
        bytes += sizeOf(found);
      }
    } while (FindNextFileW(listing, &found));
    FindClose(listing);
  }
  return bytes;
}

// What the user set for the Recycle Bin of the volume `root`: a bin that
// deletes at once, and the largest size it keeps (in megabytes; 0 when not
// set).
struct BinSettings {
  bool deletesAtOnce = false;
  uint64_t maxMegabytes = 0;
};

BinSettings BinSettingsOf(const wchar_t* root) {
  BinSettings settings;
  wchar_t volume[MAX_PATH];
  if (!GetVolumeNameForVolumeMountPointW(root, volume, MAX_PATH)) return settings;
  std::wstring guid = volume;  // "\\?\Volume{...}\"
  const size_t open = guid.find(L'{');
  const size_t close = guid.find(L'}');
  if (open == std::wstring::npos || close == std::wstring::npos) return settings;
  const std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\BitBucket\\Volume\\" +
                           guid.substr(open, close - open + 1);
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"NukeOnDelete", RRF_RT_REG_DWORD, nullptr, &value, &size) ==
          ERROR_SUCCESS && value != 0) {
    settings.deletesAtOnce = true;
  }
  size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"MaxCapacity", RRF_RT_REG_DWORD, nullptr, &value, &size) ==
      ERROR_SUCCESS) {
    settings.maxMegabytes = value;
  }
  return settings;
}

// Why the Recycle Bin cannot take the item at `path`, or empty when it can.
// The shell asked to recycle what its bin cannot take deletes it for good,
// without a word when told not to confirm: every such case is found here
// first, so that only the typed yes ever deletes for good.
std::string WhyNoRecycleBin(const std::wstring& path, const std::wstring& longPath) {
  if (!IsNameTheShellTakes(path)) return kNameTheBinCannotTake;
  wchar_t root[MAX_PATH];
  if (!GetVolumePathNameW(path.c_str(), root, MAX_PATH)) return LastError();
  const UINT type = GetDriveTypeW(root);
  if (type != DRIVE_FIXED) return "The drive " + win32::Narrow(root) + " has no Recycle Bin";
  SHQUERYRBINFO contents{};
  contents.cbSize = sizeof contents;
  const HRESULT queried = SHQueryRecycleBinW(root, &contents);
  if (FAILED(queried)) {
    return "The drive " + win32::Narrow(root) + " has no Recycle Bin: " + win32::SystemMessage(static_cast<DWORD>(queried));
  }
  const BinSettings settings = BinSettingsOf(root);
  if (settings.deletesAtOnce) return "The Recycle Bin of " + win32::Narrow(root) + " deletes at once";
  if (settings.maxMegabytes > 0 && ItemBytes(longPath) > (settings.maxMegabytes << 20)) {
    return "Too large for the Recycle Bin of " + win32::Narrow(root);
  }
  return "";
}

// The shell answers with codes of its own above the system's.
std::string ShellFailure(int code) {
  constexpr int kFirstShellCode = 0x71;
  if (code < kFirstShellCode) return win32::SystemMessage(static_cast<DWORD>(code));
  char text[64];
  std::snprintf(text, sizeof text, "The shell could not move it (error 0x%X)", static_cast<unsigned>(code));
  return text;
}

// ---- Deleting for good -----------------------------------------------------------

// One folder being emptied: held for deletion, listed through a second
// handle, its entries removed one by one.
struct Level {
  Handle itself;
  // The lengths of the paths of its parent, which the removal's paths get
  // back when this folder is done.
  size_t parentLongLength;
  size_t parentLength;
  std::vector<std::wstring> names;
  size_t next = 0;
};

// The paths are those of the deepest level, kept in one place however deep
// the tree goes.
struct Removal {
  std::vector<Level> levels;
  std::wstring longPath;
  std::string path;
  RemovalResult first;  // Removed until something fails
};

void Note(Removal& removal, std::string path, std::string reason) {
  if (removal.first.outcome == RemovalResult::Removed) removal.first = Failure(std::move(path), std::move(reason));
}

// The newer disposition call (Windows 10 1809), newer than the headers: its
// information class and the flags of its one word.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

// Marks what `handle` holds for deletion (done when the handle closes). The
// newer call deletes a read-only file and takes the name away at once,
// even while another program still holds the file; where the system lacks
// it, the read-only attribute is cleared first (and put back when the
// deletion is refused). Answers the system's error, or 0.
DWORD MarkForDeletion(HANDLE handle, DWORD attributes) {
  DWORD flags = kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly;
  if (SetFileInformationByHandle(handle, kFileDispositionInfoEx, &flags, sizeof flags)) return 0;
  const DWORD error = GetLastError();
  if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION) {
    return error;
  }
  FILE_BASIC_INFO basic{};
  const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly) {
    basic.FileAttributes = attributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)) return GetLastError();
  }
  FILE_DISPOSITION_INFO classic{TRUE};
  if (SetFileInformationByHandle(handle, FileDispositionInfo, &classic, sizeof classic)) return 0;
  const DWORD refused = GetLastError();
  if (readOnly) {
    basic.FileAttributes = attributes;
    SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
  }
  return refused;
}

// The entries of the folder `listing` lists, "." and ".." left out; the
// system's error that cut the listing short, else 0.
DWORD ReadNames(HANDLE listing, std::vector<std::wstring>& names) {
  constexpr size_t kBufferBytes = 64 * 1024;
  const auto buffer = std::make_unique_for_overwrite<ULONGLONG[]>(kBufferBytes / sizeof(ULONGLONG));
  FILE_INFO_BY_HANDLE_CLASS infoClass = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(listing, infoClass, buffer.get(), kBufferBytes)) {
    infoClass = FileIdBothDirectoryInfo;
    const auto* records = reinterpret_cast<const char*>(buffer.get());
    while (true) {
      const auto& record = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(records);
      const std::wstring_view name(record.FileName, record.FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") names.emplace_back(name);
      if (record.NextEntryOffset == 0) break;
      records += record.NextEntryOffset;
    }
  }
  const DWORD error = GetLastError();
  return error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND ? 0 : error;
}

bool SameFile(HANDLE one, HANDLE other) {
  BY_HANDLE_FILE_INFORMATION first;
  BY_HANDLE_FILE_INFORMATION second;
  return GetFileInformationByHandle(one, &first) && GetFileInformationByHandle(other, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

// Takes the folder held by `itself` as the deepest level: its entries are
// read through a second handle, which must be the same folder.
void Enter(Removal& removal, Handle itself, const std::wstring& longPath, const std::string& path) {
  Level level{std::move(itself), removal.longPath.size(), removal.path.size(), {}, 0};
  removal.longPath = longPath;
  removal.path = path;
  const Handle listing = OpenItself(longPath, FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll);
  if (!listing.Valid()) {
    Note(removal, path, LastError());
  } else if (!SameFile(listing.handle, level.itself.handle)) {
    Note(removal, path, kChanged);
  } else if (const DWORD error = ReadNames(listing.handle, level.names); error != 0) {
    Note(removal, path, win32::SystemMessage(error));
  }
  removal.levels.push_back(std::move(level));
}

// What removing a name asks: nobody may rename or replace it while it is
// held.
constexpr DWORD kRemoveAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;

// Removes a name held by `itself`: a file, link or junction at once, a
// folder by entering it.
void RemoveHeld(Removal& removal, Handle itself, const FILE_ATTRIBUTE_TAG_INFO& facts, const std::wstring& longPath,
                const std::string& path) {
  const bool folder = (facts.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (folder && !win32::IsNameSurrogate(facts.FileAttributes, facts.ReparseTag)) {
    Enter(removal, std::move(itself), longPath, path);
  } else if (const DWORD error = MarkForDeletion(itself.handle, facts.FileAttributes); error != 0) {
    Note(removal, path, win32::SystemMessage(error));
  }
}

// A name below the item; one gone meanwhile is no failure.
void RemoveName(Removal& removal, const std::wstring& longPath, const std::string& path) {
  Handle itself = OpenItself(longPath, kRemoveAccess, kShareAllButDelete);
  FILE_ATTRIBUTE_TAG_INFO facts{};
  if (!itself.Valid()) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) Note(removal, path, LastError());
    return;
  }
  if (!GetFileInformationByHandleEx(itself.handle, FileAttributeTagInfo, &facts, sizeof facts)) {
    Note(removal, path, LastError());
    return;
  }
  RemoveHeld(removal, std::move(itself), facts, longPath, path);
}

// The deepest level is as empty as it gets: it goes too.
void Leave(Removal& removal) {
  const Level done = std::move(removal.levels.back());
  removal.levels.pop_back();
  FILE_ATTRIBUTE_TAG_INFO facts{};
  GetFileInformationByHandleEx(done.itself.handle, FileAttributeTagInfo, &facts, sizeof facts);
  if (const DWORD error = MarkForDeletion(done.itself.handle, facts.FileAttributes); error != 0) {
    Note(removal, removal.path, win32::SystemMessage(error));
  }
  removal.longPath.resize(done.parentLongLength);
  removal.path.resize(done.parentLength);
}

void EmptyLevels(Removal& removal) {
  while (!removal.levels.empty()) {
    Level& level = removal.levels.back();
    if (level.next == level.names.size()) {
      Leave(removal);
    } else {
      const std::wstring& name = level.names[level.next++];
      const std::wstring longPath = removal.longPath + L"\\" + name;
      const std::string path = Joined(removal.path, win32::Narrow(name));
      RemoveName(removal, longPath, path);
    }
  }
}

}  // namespace

RemovalResult CheckWay(const ItemWay& way) {
  ReachedItem item;
  RemovalResult failure;
  if (way.relativePath.empty()) return Reach(way, item, failure) ? RemovalResult{} : failure;
  Handle itself;
  FILE_ATTRIBUTE_TAG_INFO facts{};
  return OpenAsScanned(way, FILE_READ_ATTRIBUTES, kShareAll, item, itself, facts, failure) ? RemovalResult{} : failure;
}

RemovalResult MoveToTrash(const ItemWay& way) {
  ReachedItem item;
  RemovalResult failure;
  if (way.relativePath.empty()) return Failure(way.startFolder, "Not below the start folder");
  Handle itself;
  FILE_ATTRIBUTE_TAG_INFO facts{};
  if (!OpenAsScanned(way, FILE_READ_ATTRIBUTES, kShareAll, item, itself, facts, failure)) return failure;
  itself = Handle();  // the shell moves it
  std::wstring path = win32::Widen(item.path);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  if (const std::string why = WhyNoRecycleBin(path, item.longPath); !why.empty()) {
    return {RemovalResult::NoTrash, item.path, why, ""};
  }
  path.push_back(L'\0');  // a list of paths, ended by an empty one
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = path.c_str();
  // No FOF_WANTNUKEWARNING: its dialog offers a deletion for good without the typed yes.
  operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  if (const int code = SHFileOperationW(&operation); code != 0) return Failure(item.path, ShellFailure(code));
  if (operation.fAnyOperationsAborted) return Failure(item.path, "The move to the Recycle Bin was cancelled");
  if (GetFileAttributesW(item.longPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return Failure(item.path, "Still there after the move to the Recycle Bin");
  }
  return {};
}

RemovalResult DeleteForGood(const ItemWay& way) {
  ReachedItem item;
  RemovalResult failure;
  if (way.relativePath.empty()) return Failure(way.startFolder, "Not below the start folder");
  Handle itself;
  FILE_ATTRIBUTE_TAG_INFO facts{};
  if (!OpenAsScanned(way, kRemoveAccess, kShareAllButDelete, item, itself, facts, failure)) return failure;
  Removal removal;
  RemoveHeld(removal, std::move(itself), facts, item.longPath, item.path);
  EmptyLevels(removal);
  return removal.first;
}

}  // namespace platform

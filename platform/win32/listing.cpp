// Folder listing on Windows. Each folder is opened by its \\?\ path, which
// takes paths of up to 32,767 characters and names that end in a dot or a
// blank as they are, without following a link or junction, and is checked
// to be the folder its parent listed; its entries are then read through the
// open handle, many at a time. No file's data is ever opened.
#include <windows.h>
// After windows.h, whose types it uses.
#include <winternl.h>

#include <memory>
#include <string_view>

#include "platform/platform.h"
#include "platform/win32/folder_steps.h"
#include "platform/win32/wide_text.h"

namespace platform {

// "Build" and "build" name the same folder.
const bool kNamesIgnoreCase = true;

// Each listing opens its folder by its full \\?\ path and checks what it
// opened, so a walk needs no handles held from one listing to the next.
void BeginWalk(const std::string&) {}
void EndWalk() {}

namespace {

// Files whose contents a cloud provider keeps until they are opened or read:
// offline files, as far as -nooffline is concerned. Newer than the headers.
constexpr DWORD kAttrRecallOnOpen = 0x40000;
constexpr DWORD kAttrRecallOnDataAccess = 0x400000;

// One read of a listing fills this much, like FindFirstFileEx's large fetch.
constexpr size_t kListingBufferBytes = 64 * 1024;

// A name has at most 255 UTF-16 units; each becomes at most three UTF-8
// bytes (a surrogate pair, two units, becomes four).
constexpr int kNameBufferSize = 255 * 3 + 1;

struct OpenedFolder {
  HANDLE handle = INVALID_HANDLE_VALUE;
  FILE_ATTRIBUTE_TAG_INFO facts{};
  ~OpenedFolder() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// The number the folder's parent listing gives it; 0 where the system does
// not say. Asked of the file alone: the calls that also give the volume's
// serial number ask the volume too, which costs more than the listing.
uint64_t FileIdOf(HANDLE handle) {
  IO_STATUS_BLOCK status;
  FILE_INTERNAL_INFORMATION id{};
  if (NtQueryInformationFile(handle, &status, &id, sizeof id, FileInternalInformation) < 0) return 0;
  return static_cast<uint64_t>(id.IndexNumber.QuadPart);
}

using win32::IsNameSurrogate;

bool IsKnown(const FolderIdentity& expected) { return expected.volumeId != 0 || expected.fileId != 0; }

// Compared only where both the parent's listing and the folder give a
// number. The volume needs no check: a folder on another volume than its
// parent is a mount point, a reparse point the walk never enters.
bool IsExpectedFolder(HANDLE handle, const FolderIdentity& expected) {
  if (expected.fileId == 0) return true;
  const uint64_t fileId = FileIdOf(handle);
  return fileId == 0 || fileId == expected.fileId;
}

ListStatus StatusOfFailedOpen(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return ListStatus::PathNotFound;
    default:
      return {ListStatus::Failed, win32::SystemMessage(error)};
  }
}

ListStatus OpenFolderHandle(const std::wstring& path, DWORD flags, OpenedFolder& folder) {
  if (folder.handle != INVALID_HANDLE_VALUE) CloseHandle(folder.handle);
  folder.handle = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  if (folder.handle == INVALID_HANDLE_VALUE) return StatusOfFailedOpen(GetLastError());
  if (!GetFileInformationByHandleEx(folder.handle, FileAttributeTagInfo, &folder.facts, sizeof folder.facts)) {
    return {ListStatus::Failed, win32::SystemMessage(GetLastError())};
  }
  return ListStatus::Listed;
}

// Opens the folder itself, never what a link or junction in its place
// leads to; only the start folder (nothing expected of it) was asked for
// by name, so only there is a link followed.
ListStatus OpenFolder(const std::wstring& path, const FolderIdentity& expected, OpenedFolder& folder) {
  ListStatus status = OpenFolderHandle(path, FILE_FLAG_OPEN_REPARSE_POINT, folder);
  if (status.outcome != ListStatus::Listed) return status;
  const bool surrogate = IsNameSurrogate(folder.facts.FileAttributes, folder.facts.ReparseTag);
  if (IsKnown(expected)) {
    if (surrogate || !IsExpectedFolder(folder.handle, expected)) return ListStatus::Changed;
  } else if (surrogate) {
    status = OpenFolderHandle(path, 0, folder);
    if (status.outcome != ListStatus::Listed) return status;
  }
  if ((folder.facts.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ListStatus::PathNotFound;
  return ListStatus::Listed;
}

std::wstring_view NameOf(const FILE_ID_BOTH_DIR_INFO& record) {
  return {record.FileName, record.FileNameLength / sizeof(wchar_t)};
}

uint32_t AttributesOf(const FILE_ID_BOTH_DIR_INFO& record) {
  uint32_t attributes = record.FileAttributes;
  // The listing gives a reparse point's tag where extended attributes go.
  if (!IsNameSurrogate(attributes, record.EaSize)) attributes &= ~FILE_ATTRIBUTE_REPARSE_POINT;
  if (attributes & (kAttrRecallOnOpen | kAttrRecallOnDataAccess)) attributes |= kAttrOffline;
  return attributes;
}

// What the system allocated to a sparse or compressed file; -1 for other
// files, which cost no extra call.
int64_t AllocatedBytesOf(const FILE_ID_BOTH_DIR_INFO& record, const std::wstring& folderPath,
                         uint32_t attributes) {
  if ((attributes & (FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_COMPRESSED)) == 0 ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return -1;
  }
  const std::wstring path = folderPath + std::wstring(NameOf(record));
  DWORD high = 0;
  const DWORD low = GetCompressedFileSizeW(path.c_str(), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
  return static_cast<int64_t>(static_cast<uint64_t>(high) << 32 | low);
}

// An entry's volume is left 0: its file id alone tells a folder from the
// one that may take its place (see IsExpectedFolder).
// A file time (100-nanosecond ticks since 1601-01-01 UTC) in seconds since 1970.
int64_t UnixSeconds(int64_t fileTime) {
  constexpr int64_t kTicksPerSecond = 10000000;
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  return fileTime / kTicksPerSecond - kSecondsFrom1601To1970;
}

void VisitRecord(const FILE_ID_BOTH_DIR_INFO& record, const std::wstring& folderPath, EntryVisitor visit,
                 void* context) {
  char nameBuffer[kNameBufferSize];
  const std::wstring_view name = NameOf(record);
  const int length = WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nameBuffer,
                                         kNameBufferSize, nullptr, nullptr);
  ListingEntry entry{std::string_view(nameBuffer, length > 0 ? static_cast<size_t>(length) : 0),
                     AttributesOf(record), 0};
  if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) entry.size = record.EndOfFile.QuadPart;
  entry.fileId = static_cast<uint64_t>(record.FileId.QuadPart);
  entry.allocatedBytes = AllocatedBytesOf(record, folderPath, entry.attributes);
  entry.modifiedSeconds = UnixSeconds(record.LastWriteTime.QuadPart);
  visit(context, entry);
}

// Visits the records of one read of the listing.
void VisitRecords(const char* records, const std::wstring& folderPath, EntryVisitor visit, void* context) {
  while (true) {
    const auto& record = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(records);
    VisitRecord(record, folderPath, visit, context);
    if (record.NextEntryOffset == 0) return;
    records += record.NextEntryOffset;
  }
}

}  // namespace

ListStatus ListFolder(const std::string& folderPath, const FolderIdentity& expected, EntryVisitor visit,
                      void* context) {
  const std::wstring path = win32::LongPath(folderPath);
  OpenedFolder folder;
  const ListStatus opened = OpenFolder(path, expected, folder);
  if (opened.outcome != ListStatus::Listed) return opened;
  // On the heap: a visitor may list another folder while this one is open.
  const auto buffer = std::make_unique_for_overwrite<ULONGLONG[]>(kListingBufferBytes / sizeof(ULONGLONG));
  auto* records = reinterpret_cast<char*>(buffer.get());
  FILE_INFO_BY_HANDLE_CLASS infoClass = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(folder.handle, infoClass, records, kListingBufferBytes)) {
    VisitRecords(records, path, visit, context);
    infoClass = FileIdBothDirectoryInfo;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_NO_MORE_FILES) return ListStatus::Listed;
  // An empty drive root lacks even "." and "..": its first read finds nothing.
  if (error == ERROR_FILE_NOT_FOUND && infoClass == FileIdBothDirectoryRestartInfo) return ListStatus::Listed;
  return {ListStatus::Failed, win32::SystemMessage(error)};
}

}  // namespace platform

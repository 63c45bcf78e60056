// Folder listing on Windows: the wide find-first / find-next calls, so that
// names outside the ANSI code page are read as they are. Attributes and sizes
// come from the listing itself; no file is opened.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/wide_text.h"

namespace platform {

// "Build" and "build" name the same folder.
const bool kNamesIgnoreCase = true;

namespace {

// A listed name has at most MAX_PATH UTF-16 units; each becomes at most three
// UTF-8 bytes (a surrogate pair, two units, becomes four).
constexpr int kNameBufferSize = MAX_PATH * 3 + 1;

int64_t SizeOf(const WIN32_FIND_DATAW& found) {
  return static_cast<int64_t>(found.nFileSizeHigh) * 4294967296LL + found.nFileSizeLow;
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

ListStatus Refusal(DWORD error) { return {ListStatus::Failed, win32::SystemMessage(error)}; }

// Why a listing could not begin. A folder that exists but has no entries at
// all (an empty drive root, which lacks "." and "..") reports "file not
// found", as some systems also do for a folder that is missing; asking for the
// folder itself tells the two apart.
ListStatus StatusOfFailedStart(DWORD error, const std::wstring& folder) {
  switch (error) {
    case ERROR_NO_MORE_FILES:
      return ListStatus::Listed;
    case ERROR_FILE_NOT_FOUND:
      return IsFolder(folder) ? ListStatus::Listed : ListStatus::PathNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return ListStatus::PathNotFound;
    default:
      return Refusal(error);
  }
}

void VisitFound(const WIN32_FIND_DATAW& found, char* nameBuffer, EntryVisitor visit, void* context) {
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, nameBuffer, kNameBufferSize, nullptr, nullptr);
  const std::string_view name(nameBuffer, length > 0 ? static_cast<size_t>(length - 1) : 0);
  visit(context, ListingEntry{name, found.dwFileAttributes, SizeOf(found)});
}

}  // namespace

// Each folder is listed by its full path: nothing is held for a walk.
void BeginWalk(const std::string&) {}
void EndWalk() {}

ListStatus ListFolder(const std::string& folderPath, const FolderIdentity&, EntryVisitor visit, void* context) {
  const std::wstring folder = win32::Widen(folderPath);
  const std::wstring pattern = folder + L'*';
  // Everything a listing needs lives in this call's frame, so a visitor may
  // list another folder while this one is open.
  WIN32_FIND_DATAW found;
  char nameBuffer[kNameBufferSize];
  HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return StatusOfFailedStart(GetLastError(), folder);
  do {
    VisitFound(found, nameBuffer, visit, context);
  } while (FindNextFileW(search, &found));
  const DWORD error = GetLastError();
  FindClose(search);
  return error == ERROR_NO_MORE_FILES ? ListStatus::Listed : Refusal(error);
}

}  // namespace platform

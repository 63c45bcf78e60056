// UTF-8 <-> UTF-16 conversions shared by the Windows backend.
#include "platform/win32/wide_text.h"

#include <algorithm>

namespace platform::win32 {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int inputLength = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inputLength, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inputLength, wide.data(), length);
  return wide;
}

std::string Narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int inputLength = static_cast<int>(utf16.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), inputLength, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), inputLength, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

namespace {

// Where the parts below the root of a full path begin, after "C:\" or after
// "\\server\share\"; 0 for any other path.
size_t RootLength(std::wstring_view path) {
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return 3;
  if (path.substr(0, 2) != L"\\\\") return 0;
  const size_t serverEnd = path.find(L'\\', 2);
  if (serverEnd == std::wstring_view::npos || serverEnd == 2) return 0;
  const size_t shareEnd = path.find(L'\\', serverEnd + 1);
  return shareEnd == std::wstring_view::npos ? path.size() : shareEnd + 1;
}

// Appends the parts of `parts` to `path`, each with a closing separator,
// leaving out "." and empty parts and taking a ".." as a step back that
// never goes above `rootLength`.
void AppendResolvedParts(std::wstring_view parts, size_t rootLength, std::wstring& path) {
  while (!parts.empty()) {
    const size_t end = std::min(parts.find(L'\\'), parts.size());
    const std::wstring_view part = parts.substr(0, end);
    parts.remove_prefix(std::min(end + 1, parts.size()));
    if (part.empty() || part == L".") continue;
    if (part == L"..") {
      if (path.size() > rootLength) path.resize(path.rfind(L'\\', path.size() - 2) + 1);
      continue;
    }
    path.append(part);
    path += L'\\';
  }
}

}  // namespace

std::wstring LongPath(std::string_view utf8) {
  std::wstring path = Widen(utf8);
  if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) return path;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  const size_t rootLength = RootLength(path);
  if (rootLength == 0) return path;
  const bool unc = path[0] == L'\\';
  std::wstring longPath =
      unc ? L"\\\\?\\UNC\\" + path.substr(2, rootLength - 2) : L"\\\\?\\" + path.substr(0, rootLength);
  if (longPath.back() != L'\\') longPath += L'\\';
  const size_t longRootLength = longPath.size();
  AppendResolvedParts(std::wstring_view(path).substr(rootLength), longRootLength, longPath);
  if (path.back() != L'\\' && longPath.size() > longRootLength) longPath.pop_back();
  return longPath;
}

std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0) return "error " + std::to_string(code);
  std::string message = Narrow(std::wstring_view(text, length));
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

}  // namespace platform::win32

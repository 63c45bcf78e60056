// Text at the edge of the Windows backend: the program speaks UTF-8, the
// system's wide calls speak UTF-16.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace platform::win32 {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
// The \\?\ form of a full path ("C:\...", or "\\server\share\..." as
// \\?\UNC\server\share\...), which the system takes up to 32,767 characters
// long and without trimming a name's closing dots and blanks. "." and ".."
// parts are resolved and "/" becomes "\", as the system would do without
// the prefix. Any other path is only widened.
std::wstring LongPath(std::string_view utf8);
// The system's description of error `code`, without its closing line end.
std::string SystemMessage(DWORD code);

}  // namespace platform::win32

// Text at the edge of the Windows backend: the program speaks UTF-8, the
// system's wide calls speak UTF-16.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace platform::win32 {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
// The system's description of error `code`, without its closing line end.
std::string SystemMessage(DWORD code);

}  // namespace platform::win32

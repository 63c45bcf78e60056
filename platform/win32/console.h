// The parts of the Windows console layer that depend only on what they are
// given, so that they are tested under Wine whatever its console and its
// ANSI code page; and the key mode's hand-over to a program started on the
// console.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace platform::win32 {

// The console facts of an output console described by `screen`.
ConsoleFacts FactsOfScreen(const CONSOLE_SCREEN_BUFFER_INFO& screen);

// The flags for WideCharToMultiByte into `codePage`: where the code page
// allows it, a character it lacks becomes "?", not a look-alike letter that
// would name another folder.
DWORD NoLookAlikeFlags(UINT codePage);

// UTF-8 text as bytes for a file or pipe: in `codePage`, except the four box
// characters of the tree, which keep their code page 437 bytes. A character
// the code page lacks sets `*lostCharacters`, where it is given.
std::string EncodeForFile(std::string_view text, UINT codePage, bool* lostCharacters = nullptr);

// For a program started on this console (the user's shell): the input mode
// the console had before the program read keys, and afterwards the
// program's own key mode again. Nothing to do when input is not a console.
void LeaveKeyMode();
void ReturnToKeyMode();

}  // namespace platform::win32

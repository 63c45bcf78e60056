// What every walk of a tree on Windows asks of a name it meets, shared by
// the scan's listing and the removal of what the user chose, so that a link
// or junction is told apart in one way only.
#pragma once

#include <windows.h>

namespace platform::win32 {

// Links, junctions and mount points lead elsewhere; other reparse points
// (cloud placeholders, deduplicated files) are the files themselves. A
// reparse point whose tag the system does not give (Wine's links) is taken
// for a link.
inline bool IsNameSurrogate(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (tag == 0 || IsReparseTagNameSurrogate(tag));
}

}  // namespace platform::win32

// What travels between ranks, as bytes: folder listings exactly as the
// platform gave them, folders still to read, and the scan's settings. A
// listing is replayed on rank 0 into the single program's own scan, so the
// figures, the folding, the order and the messages are that scan's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "scan/folder_reader.h"

// Appends and reads numbers (7 bits a byte) and byte strings.
void PutNumber(std::string& out, uint64_t value);
void PutSigned(std::string& out, int64_t value);
void PutText(std::string& out, std::string_view text);

// Reads what the Put functions wrote, from `at` on; a message cut short
// ends the run (it can only come from a rank that failed).
struct WireReader {
  std::string_view bytes;
  size_t at = 0;
  bool AtEnd() const { return at >= bytes.size(); }
  uint64_t Number();
  int64_t Signed();
  std::string_view Text();
};

// Lists `folderPath` with the platform, handing every entry on to `visit`
// and appending the listing, keyed by the path, to `out`.
platform::ListStatus ListRecording(const std::string& folderPath, const platform::FolderIdentity& expected,
                                   platform::EntryVisitor visit, void* context, std::string& out);

// One recorded listing: its path, and the rest for ReplayListing.
struct RecordedListing {
  std::string_view path;
  std::string_view body;
};
// The next listing of a batch of them.
RecordedListing NextListing(WireReader& reader);
// Visits the entries of a recorded listing as the platform listed them and
// gives how the listing ended.
platform::ListStatus ReplayListing(std::string_view body, platform::EntryVisitor visit, void* context);

// A folder some rank is to read: its path (with its separator), what its
// parent's listing saw of it, and the identities of the folders above it.
struct FolderItem {
  std::string path;
  platform::FolderIdentity identity;
  IdentityPath ancestors;
};
void PutFolderItem(std::string& out, const FolderItem& item);
FolderItem ReadFolderItem(WireReader& reader);

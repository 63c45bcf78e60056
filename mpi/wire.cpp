#include "mpi/wire.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

void PutNumber(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out += static_cast<char>(0x80 | (value & 0x7F));
    value >>= 7;
  }
  out += static_cast<char>(value);
}

// Small negative figures (an allocation the system does not give, -1) stay
// one byte.
void PutSigned(std::string& out, int64_t value) {
  PutNumber(out, (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63));
}

void PutText(std::string& out, std::string_view text) {
  PutNumber(out, text.size());
  out.append(text);
}

namespace {

[[noreturn]] void RefuseMessage() {
  std::fputs("tallyfold-mpi: a message between ranks was cut short\n", stderr);
  std::abort();
}

}  // namespace

uint64_t WireReader::Number() {
  uint64_t value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (at >= bytes.size()) RefuseMessage();
    const auto byte = static_cast<uint8_t>(bytes[at++]);
    value |= static_cast<uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return value;
  }
  RefuseMessage();
}

int64_t WireReader::Signed() {
  const uint64_t value = Number();
  return static_cast<int64_t>((value >> 1) ^ (~(value & 1) + 1));
}

std::string_view WireReader::Text() {
  const uint64_t length = Number();
  if (length > bytes.size() - at) RefuseMessage();
  const std::string_view text = bytes.substr(at, length);
  at += length;
  return text;
}

namespace {

// A length written before what it measures is known: five bytes whatever
// the value, which the reader takes as any other number.
constexpr size_t kPaddedBytes = 5;

void PutPadded(std::string& out, size_t at, uint64_t value) {
  for (size_t i = 0; i < kPaddedBytes - 1; ++i, value >>= 7) out[at + i] = static_cast<char>(0x80 | (value & 0x7F));
  out[at + kPaddedBytes - 1] = static_cast<char>(value);
}

struct Recording {
  platform::EntryVisitor visit;
  void* context;
  std::string& out;
};

void RecordEntry(void* context, const platform::ListingEntry& entry) {
  auto& recording = *static_cast<Recording*>(context);
  std::string& out = recording.out;
  PutText(out, entry.name);
  PutNumber(out, entry.attributes);
  PutSigned(out, entry.size);
  PutNumber(out, entry.linkCount);
  PutNumber(out, entry.volumeId);
  PutNumber(out, entry.fileId);
  PutSigned(out, entry.allocatedBytes);
  PutSigned(out, entry.modifiedSeconds);
  recording.visit(recording.context, entry);
}

}  // namespace

// A listing: its path, then its body: the length of the entries, the
// entries, and how the listing ended (known only at its end).
platform::ListStatus ListRecording(const std::string& folderPath, const platform::FolderIdentity& expected,
                                   platform::EntryVisitor visit, void* context, std::string& out) {
  PutText(out, folderPath);
  const size_t bodyAt = out.size();
  out.append(2 * kPaddedBytes, '\0');
  Recording recording{visit, context, out};
  const platform::ListStatus status = platform::ListFolder(folderPath, expected, RecordEntry, &recording);
  PutPadded(out, bodyAt + kPaddedBytes, out.size() - bodyAt - 2 * kPaddedBytes);
  PutNumber(out, status.outcome);
  PutText(out, status.reason);
  PutPadded(out, bodyAt, out.size() - bodyAt - kPaddedBytes);
  return status;
}

RecordedListing NextListing(WireReader& reader) {
  const std::string_view path = reader.Text();
  return {path, reader.Text()};
}

platform::ListStatus ReplayListing(std::string_view body, platform::EntryVisitor visit, void* context) {
  WireReader ending{body};
  WireReader reader{ending.Text()};
  const auto outcome = static_cast<platform::ListStatus::Outcome>(ending.Number());
  const std::string_view reason = ending.Text();
  while (!reader.AtEnd()) {
    platform::ListingEntry entry{};
    entry.name = reader.Text();
    entry.attributes = static_cast<uint32_t>(reader.Number());
    entry.size = reader.Signed();
    entry.linkCount = static_cast<uint32_t>(reader.Number());
    entry.volumeId = reader.Number();
    entry.fileId = reader.Number();
    entry.allocatedBytes = reader.Signed();
    entry.modifiedSeconds = reader.Signed();
    visit(context, entry);
  }
  return {outcome, std::string(reason)};
}

void PutFolderItem(std::string& out, const FolderItem& item) {
  PutText(out, item.path);
  PutNumber(out, item.identity.volumeId);
  PutNumber(out, item.identity.fileId);
  size_t depth = 0;
  for (const IdentityChain* above = item.ancestors.get(); above != nullptr; above = above->parent.get()) ++depth;
  PutNumber(out, depth);
  for (const IdentityChain* above = item.ancestors.get(); above != nullptr; above = above->parent.get()) {
    PutNumber(out, above->identity.volumeId);
    PutNumber(out, above->identity.fileId);
  }
}

FolderItem ReadFolderItem(WireReader& reader) {
  FolderItem item;
  item.path = reader.Text();
  item.identity.volumeId = reader.Number();
  item.identity.fileId = reader.Number();
  // The deepest first on the wire; the chain is built from the top down.
  std::vector<platform::FolderIdentity> above(reader.Number());
  for (platform::FolderIdentity& identity : above) {
    identity.volumeId = reader.Number();
    identity.fileId = reader.Number();
  }
  for (size_t i = above.size(); i-- > 0;) {
    item.ancestors = std::make_shared<const IdentityChain>(IdentityChain{above[i], std::move(item.ancestors)});
  }
  return item;
}

#include "mpi/kept_listings.h"

#include <functional>
#include <utility>

#include "mpi/wire.h"

namespace {

constexpr size_t kFirstSlots = size_t{1} << 16;

size_t Mask(const KeptListings& table) { return table.slots.size() - 1; }

RecordedListing ListingOf(const KeptListings::Slot& slot) {
  WireReader reader{slot.batch->bytes, slot.at};
  return NextListing(reader);
}

// The slot of the path, or the free slot where its probe ends.
size_t FindSlot(const KeptListings& table, std::string_view path, uint64_t hash) {
  size_t at = hash & Mask(table);
  for (;;) {
    const KeptListings::Slot& slot = table.slots[at];
    if (slot.batch == nullptr || (slot.hash == hash && ListingOf(slot).path == path)) return at;
    at = (at + 1) & Mask(table);
  }
}

// At half full the table doubles: probes stay short.
void Grow(KeptListings& table) {
  std::vector<KeptListings::Slot> old(table.slots.empty() ? kFirstSlots : table.slots.size() * 2);
  old.swap(table.slots);
  for (const KeptListings::Slot& slot : old) {
    if (slot.batch == nullptr) continue;
    size_t at = slot.hash & Mask(table);
    while (table.slots[at].batch != nullptr) at = (at + 1) & Mask(table);
    table.slots[at] = slot;
  }
}

// Frees a slot, moving back each later slot of the run that would no longer
// be found past it (no marks left behind, so probes never lengthen).
void FreeSlot(KeptListings& table, size_t hole) {
  for (size_t next = (hole + 1) & Mask(table); table.slots[next].batch != nullptr; next = (next + 1) & Mask(table)) {
    const size_t home = table.slots[next].hash & Mask(table);
    // Whether `home` lies cyclically in (hole, next]: then the slot stays.
    const bool stays = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
    if (stays) continue;
    table.slots[hole] = table.slots[next];
    hole = next;
  }
  table.slots[hole] = KeptListings::Slot{};
}

}  // namespace

uint64_t PathHash(std::string_view path) { return std::hash<std::string_view>()(path); }

bool KeepListing(KeptListings& table, std::string_view path, uint64_t hash, KeptBatch* batch, size_t at) {
  if ((table.count + 1) * 2 > table.slots.size()) Grow(table);
  KeptListings::Slot& slot = table.slots[FindSlot(table, path, hash)];
  if (slot.batch != nullptr) return false;
  slot = {hash, batch, static_cast<uint32_t>(at)};
  table.count += 1;
  return true;
}

TakenListing TakeListing(KeptListings& table, std::string_view path, uint64_t hash) {
  if (table.slots.empty()) return {};
  const size_t at = FindSlot(table, path, hash);
  const KeptListings::Slot slot = table.slots[at];
  if (slot.batch == nullptr) return {};
  FreeSlot(table, at);
  table.count -= 1;
  return {slot.batch, ListingOf(slot).body};
}

#include "mpi/kept_listings.h"

#include <functional>
#include <utility>

namespace {

constexpr size_t kFirstSlots = size_t{1} << 16;

size_t Mask(const KeptListings& table) { return table.slots.size() - 1; }

// The slot of the path, or the free slot where its probe ends.
size_t FindSlot(const KeptListings& table, std::string_view path, uint64_t hash) {
  size_t at = hash & Mask(table);
  for (;;) {
    const KeptListings::Slot& slot = table.slots[at];
    if (slot.path.empty() || (slot.hash == hash && slot.path == path)) return at;
    at = (at + 1) & Mask(table);
  }
}

// At half full the table doubles: probes stay short.
void Grow(KeptListings& table) {
  std::vector<KeptListings::Slot> old(table.slots.empty() ? kFirstSlots : table.slots.size() * 2);
  old.swap(table.slots);
  for (KeptListings::Slot& slot : old) {
    if (!slot.path.empty()) table.slots[FindSlot(table, slot.path, slot.hash)] = std::move(slot);
  }
}

// Frees a slot, moving back each later slot of the run that would no longer
// be found past it (no marks left behind, so probes never lengthen).
void FreeSlot(KeptListings& table, size_t hole) {
  for (size_t next = (hole + 1) & Mask(table); !table.slots[next].path.empty(); next = (next + 1) & Mask(table)) {
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

bool KeepListing(KeptListings& table, std::string_view path, uint64_t hash, KeptListing listing) {
  if ((table.count + 1) * 2 > table.slots.size()) Grow(table);
  KeptListings::Slot& slot = table.slots[FindSlot(table, path, hash)];
  if (!slot.path.empty()) return false;
  slot = {hash, path, listing};
  table.count += 1;
  return true;
}

bool TakeListing(KeptListings& table, std::string_view path, uint64_t hash, KeptListing& listing) {
  if (table.slots.empty()) return false;
  const size_t at = FindSlot(table, path, hash);
  if (table.slots[at].path.empty()) return false;
  listing = table.slots[at].listing;
  FreeSlot(table, at);
  table.count -= 1;
  return true;
}

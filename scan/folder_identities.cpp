#include "scan/folder_identities.h"

#include <unordered_map>

#include "settings/settings.h"

namespace {

std::unordered_map<const TDirEntry*, platform::FolderIdentity> identities;

}  // namespace

void NoteFolderIdentity(const TDirEntry& folder, const platform::FolderIdentity& identity) {
  // Only the browser acts on the disk, and it runs only where pages pause.
  if (!options.pauseEachPage) return;
  if (identity == platform::FolderIdentity{}) {
    identities.erase(&folder);
  } else {
    identities[&folder] = identity;
  }
}

platform::FolderIdentity FolderIdentityOf(const TDirEntry& folder) {
  const auto found = identities.find(&folder);
  return found == identities.end() ? platform::FolderIdentity{} : found->second;
}

void ForgetFolderIdentity(const TDirEntry& folder) { identities.erase(&folder); }

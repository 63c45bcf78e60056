// What the scan saw of each folder it kept: its device and inode (the file
// ID on Windows), which every action of the browser compares with the disk
// before it touches anything. Kept beside the tree, not in its records, and
// only in runs that may browse: a folder's record would grow by 16 bytes in
// every run, where it has 3 to spare.
#pragma once

#include "platform/platform.h"
#include "scan/tree.h"

// Notes `identity` for `folder` (0 and 0: none known), in a run that may browse.
void NoteFolderIdentity(const TDirEntry& folder, const platform::FolderIdentity& identity);
// What the scan saw of `folder`; 0 and 0 where it saw nothing or kept nothing.
platform::FolderIdentity FolderIdentityOf(const TDirEntry& folder);
// The folder's record is released: what was noted of it goes too.
void ForgetFolderIdentity(const TDirEntry& folder);

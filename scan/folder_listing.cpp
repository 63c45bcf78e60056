#include "scan/folder_listing.h"

platform::ListStatus (*folderLister)(const std::string&, const platform::FolderIdentity&, platform::EntryVisitor,
                                     void*) = platform::ListFolder;

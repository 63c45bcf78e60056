// How the scan lists a folder: the platform's listing, or a fake one that
// tests put in its place.
#pragma once

#include <string>

#include "platform/platform.h"

extern platform::ListStatus (*folderLister)(const std::string& folderPath, const platform::FolderIdentity& expected,
                                            platform::EntryVisitor visit, void* context);

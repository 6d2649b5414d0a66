// An extraction never removes or replaces the package it reads from.
#pragma once

#include <string>

#include "platform/platform.h"

namespace brelvane {

// True when writing `output` (after removing what stands there) would
// destroy the package at `packagePath`: both name the same file by identity,
// so a second hard link, another spelling of the path, or folder links on
// the way are all caught.  A symbolic link or junction standing at `output`
// itself is not the package: it is replaced as a link, its target left
// alone.  False when either name reaches no file.
bool WouldReplacePackage(FileSystem& files, const std::string& packagePath,
                         const std::string& output);

}  // namespace brelvane

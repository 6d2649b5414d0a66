// File-system helpers that remove files and trees with the user's consent and
// create directory paths.  Paths are absolute Windows paths.
#pragma once

#include <string>

#include "platform/platform.h"

namespace brelvane {

// Removes a file or a directory tree.  With `force`, a read-only entry is made
// writable without asking.  False exactly when an error message was shown; a
// No to one of its questions counts as success with nothing removed.
bool DeletePath(const Platform& platform, const std::string& path, bool force);
// Removes a directory and everything below it, depth first.
bool DeleteTree(const Platform& platform, const std::string& dir);
// True when the directory holds nothing but the dot entries, or cannot be searched.
bool IsDirectoryEmpty(const Platform& platform, const std::string& dir);
// True when the entry is (now) not read-only.
bool ClearReadOnly(const Platform& platform, const std::string& path);
// Creates the directory and its missing parents; never shows a message.
bool CreatePath(const Platform& platform, const std::string& path);

}  // namespace brelvane

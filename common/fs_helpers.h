// File-system helpers that remove files and trees with the user's consent and
// create directory paths.  Paths are absolute Windows paths; '\' and '/'
// both separate names, as they do for Windows.  Below a path's root nothing
// is followed: a symbolic link or junction is removed as itself and never
// created through.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace brelvane {

// Removes a file or a directory tree.  With `force`, a read-only entry is made
// writable without asking.  A link is removed itself, without a question and
// without touching its target.  False exactly when an error message was shown; a
// No to one of its questions counts as success with nothing removed.
bool DeletePath(const Platform& platform, const std::string& path, bool force);
// Removes a directory and everything below it, depth first.  Links met on
// the way (and `dir` itself when it is one) are removed as links.
bool DeleteTree(const Platform& platform, const std::string& dir);
// True when the directory holds nothing but the dot entries, or cannot be searched.
bool IsDirectoryEmpty(const Platform& platform, const std::string& dir);
// True when the entry is (now) not read-only.
bool ClearReadOnly(const Platform& platform, const std::string& path);
// Whether the paths `a` and `b` name one file, or will once `a` is created:
// the same file (by its identity: a link, a hard link or another spelling is
// seen through), or the same name, letter case aside, in the same folder.
bool NamesSameFile(const Platform& platform, const std::string& a, const std::string& b);
// Creates the directory and its missing parents; never shows a message.
// Fails with ERROR_STOPPED_ON_SYMLINK at a link below the root.
bool CreatePath(const Platform& platform, const std::string& path);
// What a walk down a path's levels below its root (the last name included)
// found: no link, the first level that is a symbolic link or junction, or
// the first level whose attributes could not be read for another reason than
// its absence (so that it cannot be told from a link).  `at` names the level
// as the path does; `error` is the system's code for an unreadable one.  The
// root itself may be a link.
struct LinkSearch {
  enum class Found { None, Link, Unreadable };
  Found found = Found::None;
  std::string at;
  std::uint32_t error = 0;
};
LinkSearch FindLinkBelowRoot(const Platform& platform, const std::string& path);

}  // namespace brelvane

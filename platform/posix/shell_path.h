// The shell's light-weight path routines, with the rules the Windows shell
// applies (backslash, slash and colon all separate names).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace brelvane {

// PathFindFileNameA: the index of the last name; a separator at the very end
// does not start a name, so "C:\a\" gives "a\".
std::size_t ShellFindFileName(const std::string& path);
// PathStripPathA.
std::string ShellStripPath(const std::string& path);
// PathSkipRootA: past "X:\" or "\\server\share\"; nullopt without a root.
std::optional<std::size_t> ShellSkipRoot(const std::string& path);
// PathIsUNCA.
bool ShellIsUnc(const std::string& path);

}  // namespace brelvane

// The shell's pure string routines on paths, for code that needs them
// without a system call.
#pragma once

#include <string>
#include <utility>

namespace brelvane {

// PathFindFileNameA: the last name of a path; '\\', '/' and ':' separate
// names, and a separator at the very end does not start one ("C:\a\" gives
// "a\").
std::string FindFileName(const std::string& path);
// A path's folder ("." for a bare name, the root with its separator for a
// name at the root: "C:\\" for "C:\\x") and its last name.
std::pair<std::string, std::string> SplitFolder(const std::string& path);
// PathRemoveBlanksA: the text without leading and trailing spaces (tabs stay).
std::string RemoveBlanks(const std::string& text);

}  // namespace brelvane

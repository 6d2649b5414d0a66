// The shell's pure string routines on paths, for code that needs them
// without a system call.
#pragma once

#include <string>

namespace brelvane {

// PathFindFileNameA: the last name of a path; '\\', '/' and ':' separate
// names, and a separator at the very end does not start one ("C:\a\" gives
// "a\").
std::string FindFileName(const std::string& path);
// PathRemoveBlanksA: the text without leading and trailing spaces (tabs stay).
std::string RemoveBlanks(const std::string& text);

}  // namespace brelvane

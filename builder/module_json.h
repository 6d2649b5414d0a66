// The builder's module list as JSON, for scripts.  Names are 8-bit strings in
// the Windows ANSI code page 1252; the JSON text is plain ASCII: every byte
// of 0x80 and above is written as the \uXXXX escape of the character it
// stands for in code page 1252 (0x80 is \u20ac, 0xE9 is \u00e9), and control
// characters are escaped too.
#pragma once

#include <string>

#include "package/package.h"

namespace brelvane {

// A JSON string literal, quotes included.
std::string JsonString(const std::string& ansi);

// One object per module, newest first: name, marker, predefined, model,
// size, extractDir, attributes, offset, checked.  Pretty-printed, one module a line.
std::string ModulesToJson(const WalkResult& walk);

}  // namespace brelvane

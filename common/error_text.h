// The system's own words for the last error, and the operating-system family.
#pragma once

#include <string>

#include "platform/platform.h"

namespace brelvane {

// The system's text for the calling thread's last error code, whole (with
// its line break).  Must be called before any other system call that could
// overwrite the code.
std::string GetLastErrorText(System& system);

// True only on the NT family (platform id 2); a failing version query counts
// as the 9x family.
bool IsNtPlatform(System& system);

}  // namespace brelvane

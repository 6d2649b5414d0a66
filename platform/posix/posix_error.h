// The simulation's last-error slot and its Windows error texts.  Every POSIX
// backend call that fails leaves a Windows code here, per thread, as the real
// system does.
#pragma once

#include <cstdint>
#include <string>

namespace brelvane {

std::uint32_t PosixLastError();
void SetPosixLastError(std::uint32_t code);

// The Windows code for an errno value (ENOENT maps to "file not found"; callers
// that can tell a missing parent apart use kErrorPathNotFound themselves).
std::uint32_t WindowsCodeFromErrno(int error);

// The system's English text for a code, with its line break, as the Windows
// build under Wine reports it; empty for a code the system has no text for.
std::string WindowsErrorText(std::uint32_t code);

}  // namespace brelvane

// What a simulated machine needs beyond its registry, kept as comment lines
// in the machine's .reg file (regedit skips them, so the same file imports
// into a real registry):
//   ; @drives E F        letters present besides C: (the system drive)
//   ; @family 9x         "nt" (default) or "9x"
//   ; @cwd E:\setup      the process's current directory (default C:\)
//   ; @storage E bus=usb disk=1 offset=0x100000 vendor="Quorvix" product="OEM Flash"
//                        what the storage stack answers for a letter's volume
//                        (no line: the volume answers no query)
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace brelvane {

enum class MachineFamily { Nt, Win9x };

struct MachineSettings {
  // Present drive letters, upper case, in alphabetical order; C is always one.
  std::string drives = "C";
  MachineFamily family = MachineFamily::Nt;
  std::string current_directory = "C:\\";
  // The storage stack's answers, by drive letter (upper case).
  std::map<char, VolumeStorage> storage;
  // Empty when the file was read and every setting understood; otherwise
  // "file:line: reason" and the defaults above.
  std::string error;

  // GetLogicalDrives' mask of `drives`: bit 0 for A.
  std::uint32_t LogicalDriveMask() const;
  // GetVersionExA's platform id: 2 for the NT family, 1 for the 9x family.
  int PlatformId() const;
};

MachineSettings ParseMachineSettings(std::string_view text, const std::string& source);
MachineSettings LoadMachineSettings(const std::string& path);

}  // namespace brelvane

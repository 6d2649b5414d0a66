// A machine's discovery as a file: everything discovery read on this
// machine (each key it opened and listed, each value it read, the present
// letters, the system family, the current directory and the storage stack's
// answers), written as a machine file that the simulation loads, so a drive
// that was not found on a customer's machine can be found again, or not, on
// a developer's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "discovery/discovery.h"
#include "platform/platform.h"

namespace brelvane {

struct Diagnosis {
  // The machine file: UTF-16LE with a byte-order mark, as Windows' own
  // export writes it: "Windows Registry Editor Version 5.00", the settings
  // as "; @drives", "; @family", "; @cwd" and "; @storage" lines, the keys
  // and values read, and discovery's explanation, ending with its answer.
  std::string file;
  char letter = 0;
  DriveModel model = DriveModel::None;
  DiscoveryReport report;
  // Keys read that the file cannot hold (a name with a control character):
  // with any, a replay may answer otherwise.
  int keysLeftOut = 0;
};

// Runs discovery once, recording what it reads.  Reads only; shows nothing
// but what discovery itself may show.
Diagnosis DiagnoseDiscovery(const Platform& platform);

// The 8-bit text of a machine file (registry strings as the ANSI calls give
// them) as UTF-16LE with its byte-order mark: each byte one code unit, the
// form the simulation's loader narrows back to the same bytes.  A byte of
// 0x80 or above is not converted through the code page, so the file replays
// exactly in the simulation but is not for importing into a registry.
std::string MachineFileUtf16(const std::string& text);

}  // namespace brelvane

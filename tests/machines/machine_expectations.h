// What discovery must answer on each sample machine (samples/machines), for
// the simulation and for the same files imported into a real registry.
#pragma once

#include <string>

#include "discovery/discovery.h"

namespace brelvane::machines {

struct MachineExpectation {
  const char* fixture;  // file name without ".reg"
  ModelPresence presence;
  char letter;  // FindTargetDrive's answer, 0 for none
  DriveModel model;
};

inline constexpr MachineExpectation kMachineExpectations[] = {
    {"none", 0, 0, DriveModel::None},
    {"ovin-e", 2, 'E', DriveModel::Ovin},
    {"ovin-pellor", 6, 'E', DriveModel::Ovin},
    {"kestrin-ovin", 4, 0, DriveModel::None},
    {"all-three", 7, 0, DriveModel::None},
    {"kestrin-stale-oem", 1, 0, DriveModel::None},
    {"pellor-only", 3, 0, DriveModel::None},
    {"ovin-stale-letter", 2, 'F', DriveModel::Ovin},
    {"ovin-stale-only", 2, 0, DriveModel::None},
    {"ovin-two-disks", 2, 'G', DriveModel::Ovin},
    {"count-300", 2, 'E', DriveModel::Ovin},
    {"ovin-9x-f", 2, 'F', DriveModel::Ovin},
    {"kestrin-ovin-9x", 4, 'G', DriveModel::Ovin},
    {"9x-missing-hardwarekey", 2, 'F', DriveModel::Ovin},
};

// The sample machines' folder as this build's programs reach it (under Wine
// a POSIX path is taken through the Z: drive).
inline std::string MachinesFolder() {
#ifdef _WIN32
  return std::string("Z:") + BRELVANE_SOURCE_DIR + "/samples/machines/";
#else
  return std::string(BRELVANE_SOURCE_DIR) + "/samples/machines/";
#endif
}

inline std::string MachinePath(const std::string& fixture) {
  return MachinesFolder() + fixture + ".reg";
}

}  // namespace brelvane::machines

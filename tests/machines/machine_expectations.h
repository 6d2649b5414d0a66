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
  // The answer when the storage stack names no disk (as under Wine): the
  // registry alone; kSameLetter where that is `letter` too.
  char registry_letter = kSameLetter;
  static constexpr char kSameLetter = -1;

  char LetterWithoutStorage() const {
    return registry_letter == kSameLetter ? letter : registry_letter;
  }
  DriveModel ModelWithoutStorage() const {
    return LetterWithoutStorage() ? model : DriveModel::None;
  }
};

inline constexpr MachineExpectation kMachineExpectations[] = {
    {"none", ModelPresence::None, 0, DriveModel::None},
    {"ovin-e", ModelPresence::Ovin, 'E', DriveModel::Ovin},
    {"ovin-pellor", ModelPresence::OvinPellor, 'E', DriveModel::Ovin},
    {"kestrin-ovin", ModelPresence::KestrinOvin, 0, DriveModel::None},
    {"all-three", ModelPresence::AllThree, 0, DriveModel::None},
    {"kestrin-stale-oem", ModelPresence::Kestrin, 0, DriveModel::None},
    {"pellor-only", ModelPresence::Pellor, 0, DriveModel::None},
    {"ovin-stale-letter", ModelPresence::Ovin, 'F', DriveModel::Ovin},
    {"ovin-stale-only", ModelPresence::Ovin, 0, DriveModel::None},
    {"ovin-two-disks", ModelPresence::Ovin, 'G', DriveModel::Ovin},
    {"count-300", ModelPresence::Ovin, 'E', DriveModel::Ovin},
    {"win7-ovin-e", ModelPresence::Ovin, 'E', DriveModel::Ovin},
    {"win11-ovin-e", ModelPresence::Ovin, 'E', DriveModel::Ovin},
    {"win10-stale-letter", ModelPresence::Ovin, 'F', DriveModel::Ovin},
    {"win10-two-disks", ModelPresence::Ovin, 'F', DriveModel::Ovin},
    {"win10-mixed-case", ModelPresence::Ovin, 'E', DriveModel::Ovin},
    {"ovin-9x-f", ModelPresence::Ovin, 'F', DriveModel::Ovin},
    {"kestrin-ovin-9x", ModelPresence::KestrinOvin, 'G', DriveModel::Ovin},
    {"9x-missing-hardwarekey", ModelPresence::Ovin, 'F', DriveModel::Ovin},
    {"win10-uas-e", ModelPresence::Ovin, 'E', DriveModel::Ovin},
    {"win10-two-partitions", ModelPresence::Ovin, 'F', DriveModel::Ovin},
    {"win10-gpt-e", ModelPresence::Ovin, 'E', DriveModel::Ovin, 0},
    {"win10-unknown-form", ModelPresence::Ovin, 0, DriveModel::None},
    {"win10-uas-no-letter", ModelPresence::Ovin, 0, DriveModel::None},
    {"win10-cloned-stick", ModelPresence::Ovin, 'E', DriveModel::Ovin, 0},
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

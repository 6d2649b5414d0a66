// Drive discovery: which supported models are plugged in, and the drive
// letter of the supported drive.  Everything here only reads the registry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/drive_models.h"
#include "platform/platform.h"

namespace brelvane {

// Detects the supported models in the registry's list of present USB devices
// (the NT-family list when `ntFamily`, else the 9x-family one).  Never shows
// anything.
ModelPresence DetectSupportedModels(const Platform& platform, bool ntFamily);

// Each USB storage device the registry lists, one line each: the driver
// that serves it (NT) or its place in the list of present devices (9x), its
// instance path or hardware key, its USB ids, and the model it matches.
std::vector<std::string> DescribeUsbStorageDevices(const Platform& platform, bool ntFamily);

// What discovery saw and why it decided, for the run log, the simulation's
// output and a support engineer.
struct DiscoveryReport {
  // One line each: the system family, each USB storage device listed and
  // the model it matched, each disk of the drive's model, each present
  // letter with its mount entry, the storage stack's answer and the rule
  // that took or refused it, and the answer.  Registry strings are escaped
  // as a message holds names.
  std::vector<std::string> lines;
  // Set when the drive's disk is listed but two disks look the same, so no
  // letter was taken: the reason in words.
  std::string lookAlike;
};

// The drive letter of the plugged-in supported drive (0 for none) and its
// model through `model` (None unless a drive is found).  With a null `model`
// it returns 0 at once.  Shows a message only when the current directory
// cannot be had.  With `report`, says what it saw and why it decided.
char FindTargetDrive(const Platform& platform, DriveModel* model,
                     DiscoveryReport* report = nullptr);

}  // namespace brelvane

// Drive discovery: which supported models are plugged in, and the drive
// letter of the supported drive.  Everything here only reads the registry.
#pragma once

#include <cstdint>

#include "common/drive_models.h"
#include "platform/platform.h"

namespace brelvane {

// Detects the supported models in the registry's list of present USB devices
// (the NT-family list when `ntFamily`, else the 9x-family one).  Never shows
// anything.
ModelPresence DetectSupportedModels(const Platform& platform, bool ntFamily);

// The drive letter of the plugged-in supported drive (0 for none) and its
// model through `model` (None unless a drive is found).  With a null `model`
// it returns 0 at once.  Shows a message only when the current directory
// cannot be had.
char FindTargetDrive(const Platform& platform, DriveModel* model);

}  // namespace brelvane

// Drive discovery: which supported models are plugged in, and the drive
// letter of the supported drive.  Everything here only reads the registry.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace brelvane {

// The answer of discovery; chooses the module set that is installed.
enum class DriveModel : std::int32_t { None = -1, Ovin = 1, Pellor = 2, Kestrin = 3 };

// Which supported models are plugged in: one code for each combination.
enum class ModelPresence : std::int32_t {
  None = 0,
  Kestrin = 1,
  Ovin = 2,
  Pellor = 3,
  KestrinOvin = 4,
  KestrinPellor = 5,
  OvinPellor = 6,
  AllThree = 7,
};

// The models behind each code.
struct PresentModels {
  ModelPresence presence;
  bool kestrin;
  bool ovin;
  bool pellor;
};
inline constexpr PresentModels kPresentModels[] = {
    {ModelPresence::None, false, false, false},
    {ModelPresence::Kestrin, true, false, false},
    {ModelPresence::Ovin, false, true, false},
    {ModelPresence::Pellor, false, false, true},
    {ModelPresence::KestrinOvin, true, true, false},
    {ModelPresence::KestrinPellor, true, false, true},
    {ModelPresence::OvinPellor, false, true, true},
    {ModelPresence::AllThree, true, true, true},
};

// The code of the models seen.
constexpr ModelPresence PresenceOf(bool kestrin, bool ovin, bool pellor) {
  for (const PresentModels& row : kPresentModels)
    if (row.kestrin == kestrin && row.ovin == ovin && row.pellor == pellor) return row.presence;
  return ModelPresence::None;  // not reached: the table holds every combination
}
// Whether `model` is among the plugged-in models.
constexpr bool HasModel(ModelPresence presence, DriveModel model) {
  for (const PresentModels& row : kPresentModels) {
    if (row.presence != presence) continue;
    switch (model) {
      case DriveModel::Kestrin: return row.kestrin;
      case DriveModel::Ovin: return row.ovin;
      case DriveModel::Pellor: return row.pellor;
      case DriveModel::None: return false;
    }
  }
  return false;
}
// More than one model at once (Kestrin+Ovin, Kestrin+Pellor, Ovin+Pellor or
// all three).
constexpr bool HasSeveralModels(ModelPresence presence) {
  const int count = HasModel(presence, DriveModel::Kestrin) + HasModel(presence, DriveModel::Ovin) +
                    HasModel(presence, DriveModel::Pellor);
  return count > 1;
}

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

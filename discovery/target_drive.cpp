#include <string>

#include "common/error_text.h"
#include "common/messages.h"
#include "discovery/device_tables.h"
#include "discovery/discovery.h"
#include "discovery/disk_letters.h"
#include "discovery/registry_walks.h"

namespace brelvane {
namespace {

// The longest current directory Windows can report (32767 characters and
// the terminating zero).  A larger length is refused as memory that cannot
// be had.
constexpr std::uint32_t kMaxDirectoryLength = 32768;

constexpr char kNoDirectoryDrive = static_cast<char>(0xFF);

// The Ovin disk is trusted only while Ovin is plugged in and Kestrin is not
// (Kestrin drives can carry a disk with the same id): Ovin alone, or Ovin
// and Pellor.
bool TrustsOvinDisk(ModelPresence presence) {
  return HasModel(presence, DriveModel::Ovin) && !HasModel(presence, DriveModel::Kestrin);
}

// NT family: the Ovin disk's letter, while it is trusted.  Where the walk
// from the disk's ParentIdPrefix or device path finds it, its answer stands;
// otherwise the disk is looked for as the mass-storage or the UAS driver
// lists it, with its letters in every form of mount entry.
char LookUpNt(const Platform& platform, ModelPresence presence) {
  char letter = FindDriveLetterNt(platform, OemDiskId);
  if (letter == 0) letter = FindDiskLetterNt(platform, {OemDiskId, OemUasDiskId});
  if (letter != 0 && !TrustsOvinDisk(presence)) return 0;
  return letter;
}

char LookUp9x(Registry& registry, HardwareIdTable ids, std::string_view scsi_id) {
  char letter = 0;
  for (std::size_t i = 0; letter == 0 && i < ids.size(); ++i)
    letter = FindDriveLetter9x(registry, ids[i], scsi_id);
  return letter;
}

}  // namespace

char FindTargetDrive(const Platform& platform, DriveModel* model) {
  if (!model) return 0;
  *model = DriveModel::None;
  System& system = platform.system;

  std::uint32_t length = system.CurrentDirectoryLength();
  if (length == 0) {
    ShowError(platform, Format("System Error: %s!", GetLastErrorText(system).c_str()));
    return 0;
  }
  if (length > kMaxDirectoryLength) {
    system.SetLastError(win::kErrorNotEnoughMemory);
    ShowError(platform, Format("Can't allocate memory to perform operation\r\nError: %s!",
                               GetLastErrorText(system).c_str()));
    return 0;
  }
  // The drive holding the current directory is preferred; a directory that
  // cannot be read leaves no preference.
  std::optional<std::string> directory = system.CurrentDirectory();
  char directory_drive = directory && !directory->empty() ? (*directory)[0] : kNoDirectoryDrive;

  bool nt = IsNtPlatform(system);
  ModelPresence presence = DetectSupportedModels(platform, nt);
  if (presence == ModelPresence::None) return 0;

  char primary =
      nt ? LookUpNt(platform, presence) : LookUp9x(platform.registry, OvinIds, OemScsiIdPrimary);
  char chosen = 0;
  if (primary != 0 && primary == directory_drive) {
    chosen = primary;
  } else {
    char secondary = nt ? LookUpNt(platform, presence)
                        : LookUp9x(platform.registry, OvinSecondaryIds, OemScsiIdSecondary);
    if (secondary != 0 && secondary == directory_drive) chosen = secondary;
    else if (primary != 0) chosen = primary;
    else chosen = secondary;
  }
  if (chosen == 0) return 0;
  *model = DriveModel::Ovin;
  return chosen;
}

}  // namespace brelvane

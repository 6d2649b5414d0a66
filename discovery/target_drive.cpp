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

// On NT-family systems a model's disk is trusted only while the model is
// plugged in and no model that can carry a disk with the same id is: the
// Ovin disk while Ovin is, alone or with Pellor, and Kestrin is not.
bool TrustsDisk(ModelPresence presence, const DriveModelRow& row) {
  return presence.Has(row.model) && !presence.Has(row.locating->sharesItsDiskId);
}

// NT family: the model's disk letter, while it is trusted.  Where the walk
// from the disk's ParentIdPrefix or device path finds it, its answer stands;
// otherwise the disk is looked for as the mass-storage or the UAS driver
// lists it, with its letters in every form of mount entry.
char LookUpNt(const Platform& platform, ModelPresence presence, const DriveModelRow& row) {
  const LocatingRule& rule = *row.locating;
  char letter = FindDriveLetterNt(platform, rule.diskId);
  if (letter == 0) letter = FindDiskLetterNt(platform, {rule.diskId, rule.uasDiskId});
  if (letter != 0 && !TrustsDisk(presence, row)) return 0;
  return letter;
}

char LookUp9x(Registry& registry, HardwareIdTable ids, std::string_view scsi_id) {
  char letter = 0;
  for (std::size_t i = 0; letter == 0 && i < ids.size(); ++i)
    letter = FindDriveLetter9x(registry, ids[i], scsi_id);
  return letter;
}

// The letter of the model's drive, 0 for none.  The primary lookup's letter
// is preferred where it is the current directory's drive, then the
// secondary's, then whichever was found.
char LocateDrive(const Platform& platform, bool nt, ModelPresence presence,
                 const DriveModelRow& row, char directory_drive) {
  const LocatingRule& rule = *row.locating;
  char primary = nt ? LookUpNt(platform, presence, row)
                    : LookUp9x(platform.registry, rule.primaryIds, rule.primaryScsiId);
  if (primary != 0 && primary == directory_drive) return primary;
  char secondary = nt ? LookUpNt(platform, presence, row)
                      : LookUp9x(platform.registry, rule.secondaryIds, rule.secondaryScsiId);
  if (secondary != 0 && secondary == directory_drive) return secondary;
  return primary != 0 ? primary : secondary;
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
  if (presence.Empty()) return 0;

  // The models whose drives are located, in the catalogue's order: the
  // first drive found is the target.
  for (const DriveModelRow& row : kDriveModels) {
    if (row.locating == nullptr) continue;
    if (char chosen = LocateDrive(platform, nt, presence, row, directory_drive)) {
      *model = row.model;
      return chosen;
    }
  }
  return 0;
}

}  // namespace brelvane

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
// "C E F": the letters of GetLogicalDrives' mask, from A.
std::string PresentLetters(std::uint32_t drives) {
  std::string letters;
  for (char letter = 'A'; letter <= 'Z'; ++letter)
    if ((drives >> (letter - 'A')) & 1u)
      letters += std::string(letters.empty() ? "" : " ") + letter;
  return letters.empty() ? "none" : letters;
}

std::string ModelsIn(ModelPresence presence) {
  std::string models;
  for (const DriveModelRow& row : kDriveModels)
    if (presence.Has(row.model)) models += std::string(models.empty() ? "" : ", ") + row.name;
  return models.empty() ? "none" : models;
}

bool TrustsDisk(ModelPresence presence, const DriveModelRow& row) {
  return presence.Has(row.model) && !presence.Has(row.locating->sharesItsDiskId);
}

void Say(DiscoveryReport* report, std::string line) {
  if (report) report->lines.push_back(std::move(line));
}

// NT family: the model's disk letter, while it is trusted.  Where the walk
// from the disk's ParentIdPrefix or device path finds it, its answer stands;
// otherwise the disk is looked for as the mass-storage or the UAS driver
// lists it, with its letters in every form of mount entry.
char LookUpNt(const Platform& platform, ModelPresence presence, const DriveModelRow& row,
              DiscoveryReport* report) {
  const LocatingRule& rule = *row.locating;
  char letter = FindDriveLetterNt(platform, rule.diskId);
  if (letter != 0) {
    Say(report, std::string(row.name) + " drive: " + letter +
                    ": named by its disk's removable-volume path or device path");
  } else {
    std::vector<DiskLetterFinding> findings;
    letter = FindDiskLetterNt(platform, {rule.diskId, rule.uasDiskId}, &findings);
    if (report && findings.empty())
      Say(report, std::string(row.name) + " drive: no disk of its model in the disk driver's list");
    for (const DiskLetterFinding& finding : findings) {
      Say(report, std::string(row.name) + " disk: " + finding.disk);
      for (const std::string& note : finding.notes) Say(report, "letter " + note);
      if (!finding.lookAlike.empty()) {
        Say(report, "two drives look the same: " + finding.lookAlike);
        if (report && report->lookAlike.empty()) report->lookAlike = finding.lookAlike;
      }
    }
  }
  if (letter != 0 && !TrustsDisk(presence, row)) {
    Say(report, std::string(row.name) + " drive: " + letter + ": refused, a model that shares " +
                    "its disk id is plugged in too");
    return 0;
  }
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
// secondary's, then whichever was found.  The secondary lookup of the NT
// family repeats the primary one, so only the primary one is reported.
char LocateDrive(const Platform& platform, bool nt, ModelPresence presence,
                 const DriveModelRow& row, char directory_drive, DiscoveryReport* report) {
  const LocatingRule& rule = *row.locating;
  char primary = nt ? LookUpNt(platform, presence, row, report)
                    : LookUp9x(platform.registry, rule.primaryIds, rule.primaryScsiId);
  if (!nt)
    Say(report, std::string(row.name) + " drive: " +
                    (primary ? std::string(1, primary) + ": the letter assigned to its disk"
                             : std::string("no disk with a letter assigned")));
  if (primary != 0 && primary == directory_drive) return primary;
  char secondary = nt ? LookUpNt(platform, presence, row, nullptr)
                      : LookUp9x(platform.registry, rule.secondaryIds, rule.secondaryScsiId);
  if (secondary != 0 && secondary == directory_drive) return secondary;
  return primary != 0 ? primary : secondary;
}

}  // namespace

char FindTargetDrive(const Platform& platform, DriveModel* model, DiscoveryReport* report) {
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
  Say(report, std::string("system family: ") + (nt ? "NT" : "9x") + ", present letters " +
                  PresentLetters(system.LogicalDrives()));
  if (report) {
    for (std::string& line : DescribeUsbStorageDevices(platform, nt)) Say(report, std::move(line));
  }
  ModelPresence presence = DetectSupportedModels(platform, nt);
  Say(report, "models plugged in: " + ModelsIn(presence));
  char chosen = 0;
  // The models whose drives are located, in the catalogue's order: the
  // first drive found is the target.
  for (const DriveModelRow& row : kDriveModels) {
    if (presence.Empty() || row.locating == nullptr) continue;
    chosen = LocateDrive(platform, nt, presence, row, directory_drive, report);
    if (chosen) {
      *model = row.model;
      break;
    }
  }
  if (chosen) {
    Say(report, std::string("answer: drive ") + chosen + ":, model " + RowOf(*model)->name);
  } else if (report) {
    Say(report, std::string("answer: no drive: ") +
                    (presence.Empty()             ? "no supported model is plugged in"
                     : !report->lookAlike.empty() ? "two drives look the same"
                                                  : "no letter is taken as the drive's"));
  }
  return chosen;
}

}  // namespace brelvane

// The install run behind the Install button: every module of the drive
// model's set, newest first, onto the drive.
#include "install/install_run.h"

#include "common/error_text.h"
#include "common/fs_helpers.h"
#include "common/messages.h"
#include "common/name_rules.h"
#include "install/install_page.h"
#include "package/package.h"
#include "package/package_guard.h"

namespace brelvane {

LinkSearch LinkOnTheWay(const Platform& platform, char letter, const ModuleRecord& record) {
  return FindLinkBelowRoot(platform, DestinationFile(platform.system, letter, record));
}

std::string DestinationDirectory(System& system, char letter, const ModuleRecord& record) {
  return Format("%c:\\%s", letter, system.FromAnsi(record.extractDir).c_str());
}

std::string DestinationFile(System& system, char letter, const ModuleRecord& record) {
  const std::string name = system.FromAnsi(record.fileName);
  if (record.extractDir.empty()) return Format("%c:\\%s", letter, name.c_str());
  return Format("%c:\\%s\\%s", letter, system.FromAnsi(record.extractDir).c_str(), name.c_str());
}

namespace {

// Shows why the record may not be written on the drive, and gives true:
// its name or folder breaks the rule (the record is data from outside: the
// same rule the builder applied before storing it, for packages made by
// anything else), or a link or an unreadable entry stands on its way.
bool ShowPlacementRefusal(const Platform& platform, char letter, const ModuleRecord& record) {
  if (std::optional<std::string> problem =
          ModulePlacementProblem(record.fileName, record.extractDir)) {
    ShowError(platform, Format(kUnsafeModuleFormat, record.fileName.c_str(),
                               record.extractDir.c_str(), problem->c_str()));
    return true;
  }
  const LinkSearch links = LinkOnTheWay(platform, letter, record);
  switch (links.found) {
    case LinkSearch::Found::None: return false;
    case LinkSearch::Found::Link:
      ShowError(platform, Format(kLinkInTheWayFormat, record.fileName.c_str(), links.at.c_str()));
      return true;
    case LinkSearch::Found::Unreadable: break;
  }
  const std::string error = platform.system.ErrorText(links.error);
  ShowError(platform, Format(kUnreadableOnTheWayFormat, links.at.c_str(), error.c_str()));
  return true;
}

// How one module's turn ended.
enum class ModuleTurn { Installed, Skipped, Stopped };

// Makes room for `destination`.  The installer may itself sit on the drive:
// removing it to make room for its module would lose every module still to
// come.  A file there that nobody else holds open is replaced when the user
// agrees; else the module is skipped.
ModuleTurn MakeRoom(const Platform& platform, const std::string& packagePath,
                    const ModuleRecord& record, const std::string& destination) {
  if (WouldReplacePackage(platform.files, packagePath, destination)) {
    ShowError(platform,
              Format(kUnsafeModuleFormat, record.fileName.c_str(), record.extractDir.c_str(),
                     "it would replace this installer itself"));
    return ModuleTurn::Stopped;
  }
  ScopedFile existing(platform.files, platform.files.OpenReadExclusive(destination));
  if (!existing.valid()) return ModuleTurn::Installed;
  existing.Reset();
  if (!AskYesNoOwned(platform, kOverwriteCaption,
                     Format(kAlreadyExistsFormat, destination.c_str()))) {
    return ModuleTurn::Skipped;
  }
  if (!DeletePath(platform, destination, true)) {
    const std::string error = GetLastErrorText(platform.system);
    ShowNotice(platform, Format(kCannotDeleteFormat, destination.c_str(), error.c_str()));
    return ModuleTurn::Stopped;
  }
  return ModuleTurn::Installed;
}

// Puts one module found at `contentOffset` onto the drive as `destination`.
// Stopped: the run cannot go on (the cause is shown).
ModuleTurn InstallModule(const Platform& platform, const PackageRef& package, char letter,
                         const ModuleRecord& record, std::int32_t contentOffset,
                         std::string& destination) {
  if (ShowPlacementRefusal(platform, letter, record)) return ModuleTurn::Stopped;
  const std::string directory = DestinationDirectory(platform.system, letter, record);
  if (!platform.files.IsDirectory(directory) && !CreatePath(platform, directory)) {
    return ModuleTurn::Stopped;
  }
  destination = DestinationFile(platform.system, letter, record);
  const ModuleTurn room = MakeRoom(platform, package.path, record, destination);
  if (room != ModuleTurn::Installed) return room;
  ExtractResult result = ExtractResult::Done;
  if (!ExtractModule(platform, package, destination, contentOffset, record.contentSize,
                     record.attributes, {}, &result)) {
    if (result == ExtractResult::Damaged) {
      ShowError(platform, Format(kDamagedModuleFormat, record.fileName.c_str()));
    }
    return ModuleTurn::Stopped;
  }
  return ModuleTurn::Installed;
}

// Installs every module with `setMarker`, newest first; a skipped one still
// counts as handled.  False when there is none or one stops the run.
// `lastDestination` receives where the last one handled went.
bool InstallModuleSet(const Platform& platform, const PackageRef& package, char letter,
                      const char* setMarker, std::string& lastDestination) {
  bool handledAny = false;
  std::uint32_t searchEnd = 0;
  for (;;) {
    ModuleRecord record;
    std::int32_t contentOffset = 0;
    const std::int32_t found =
        FindModule(platform, package, setMarker, &contentOffset, true, &record, searchEnd);
    if (found == 0 && handledAny) return true;
    if (found <= 0) return false;
    std::string destination;
    if (InstallModule(platform, package, letter, record, contentOffset, destination) ==
        ModuleTurn::Stopped) {
      return false;
    }
    handledAny = true;
    searchEnd = static_cast<std::uint32_t>(found);
    lastDestination = destination;
  }
}

}  // namespace

std::optional<InstallRunResult> InstallPage::FindDriveAgain() {
  const Platform& platform = sheet_.platform();
  DriveModel freshModel = DriveModel::None;
  const char freshLetter = FindTargetDrive(platform, &freshModel);
  if (freshLetter == 0) {
    RefreshStatus();
    ShowNotice(platform, kNoDriveInformation);
    return InstallRunResult::StayOnPage();
  }
  if (freshModel != model_) {
    return InstallRunResult::EndProgram(Ending{NoticeMessage(platform, kDriveChanged), 0});
  }
  // The same drive may have come back under another letter since the page
  // was shown: write where it is now, not where it was, and say so on the
  // page before anything is written.
  if (freshLetter != driveLetter_) {
    driveLetter_ = freshLetter;
    view_.SetText(ids::kPluggedInLine, kPluggedInPrefix + std::string(1, driveLetter_));
  }
  return std::nullopt;
}

InstallRunResult InstallPage::OnApply() {
  const Platform& platform = sheet_.platform();
  if (std::optional<InstallRunResult> ended = FindDriveAgain()) return std::move(*ended);
  const char* setMarker = SetMarkerOf(model_);
  if (setMarker == nullptr) return InstallRunResult::StayOnPage();
  std::string lastDestination;
  if (!InstallModuleSet(platform, sheet_.state().package(), driveLetter_, setMarker,
                        lastDestination)) {
    ShowNotice(platform, kCannotContinue);
    return InstallRunResult::StayOnPage();
  }
  ShowNotice(platform, kInstallComplete);
  // Read even while hidden: on the 9x family it is never shown, so never ticked.
  if (view_.IsChecked(ids::kLaunchCheckBox) && !platform.system.Launch(lastDestination)) {
    const std::string error = GetLastErrorText(platform.system);
    ShowNotice(platform, Format(kCannotLaunchFormat, lastDestination.c_str(), error.c_str()));
  }
  return InstallRunResult::CloseSheet();
}

}  // namespace brelvane

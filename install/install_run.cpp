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

InstallRunResult InstallPage::OnApply() {
  const Platform& platform = sheet_.platform();
  const PackageRef package = sheet_.state().package();

  DriveModel freshModel = DriveModel::None;
  const char freshLetter = FindTargetDrive(platform, &freshModel);
  if (freshLetter == 0) {
    RefreshStatus();
    ShowNotice(platform, kNoDriveInformation);
    return InstallRunResult::StayOnPage();
  }
  if (freshModel != model_)
    return InstallRunResult::EndProgram(Ending{NoticeMessage(platform, kDriveChanged), 0});
  // The same drive may have come back under another letter since the page
  // was shown: write where it is now, not where it was, and say so on the
  // page before anything is written.
  if (freshLetter != driveLetter_) {
    driveLetter_ = freshLetter;
    view_.SetText(ids::kPluggedInLine, kPluggedInPrefix + std::string(1, driveLetter_));
  }

  const char* setMarker = SetMarkerOf(model_);
  if (setMarker == nullptr) return InstallRunResult::StayOnPage();

  bool handledAny = false;
  std::uint32_t searchEnd = 0;
  std::string lastDestination;
  for (;;) {
    ModuleRecord record;
    std::int32_t contentOffset = 0;
    const std::int32_t found =
        FindModule(platform, package, setMarker, &contentOffset, true, &record, searchEnd);
    if (found == 0 && handledAny) break;
    if (found <= 0) {
      ShowNotice(platform, kCannotContinue);
      return InstallRunResult::StayOnPage();
    }

    // The record is data from outside: the same rule the builder applied
    // before storing it, for packages made by anything else.
    if (std::optional<std::string> problem =
            ModulePlacementProblem(record.fileName, record.extractDir)) {
      ShowError(platform, Format(kUnsafeModuleFormat, record.fileName.c_str(),
                                 record.extractDir.c_str(), problem->c_str()));
      ShowNotice(platform, kCannotContinue);
      return InstallRunResult::StayOnPage();
    }

    if (const LinkSearch links = LinkOnTheWay(platform, driveLetter_, record);
        links.found != LinkSearch::Found::None) {
      if (links.found == LinkSearch::Found::Link) {
        ShowError(platform, Format(kLinkInTheWayFormat, record.fileName.c_str(), links.at.c_str()));
      } else {
        const std::string error = platform.system.ErrorText(links.error);
        ShowError(platform, Format(kUnreadableOnTheWayFormat, links.at.c_str(), error.c_str()));
      }
      ShowNotice(platform, kCannotContinue);
      return InstallRunResult::StayOnPage();
    }

    const std::string directory = DestinationDirectory(platform.system, driveLetter_, record);
    if (!platform.files.IsDirectory(directory) && !CreatePath(platform, directory)) {
      ShowNotice(platform, kCannotContinue);
      return InstallRunResult::StayOnPage();
    }

    const std::string destination = DestinationFile(platform.system, driveLetter_, record);
    // The installer may itself sit on the drive: removing it to make room for
    // its module would lose every module still to come.
    if (WouldReplacePackage(platform.files, package.path, destination)) {
      ShowError(platform,
                Format(kUnsafeModuleFormat, record.fileName.c_str(), record.extractDir.c_str(),
                       "it would replace this installer itself"));
      ShowNotice(platform, kCannotContinue);
      return InstallRunResult::StayOnPage();
    }
    // Exists as a file nobody else holds open: offer to replace it.
    if (ScopedFile existing(platform.files, platform.files.OpenReadExclusive(destination));
        existing.valid()) {
      existing.Reset();
      if (!AskYesNoOwned(platform, kOverwriteCaption,
                         Format(kAlreadyExistsFormat, destination.c_str()))) {
        // Skipped at the user's request: it still counts as handled.
        handledAny = true;
        searchEnd = static_cast<std::uint32_t>(found);
        lastDestination = destination;
        continue;
      }
      if (!DeletePath(platform, destination, true)) {
        const std::string error = GetLastErrorText(platform.system);
        ShowNotice(platform, Format(kCannotDeleteFormat, destination.c_str(), error.c_str()));
        ShowNotice(platform, kCannotContinue);
        return InstallRunResult::StayOnPage();
      }
    }

    ExtractResult outcome = ExtractResult::Done;
    if (!ExtractModule(platform, package, destination, contentOffset, record.contentSize,
                       record.attributes, {}, &outcome)) {
      if (outcome == ExtractResult::Damaged) {
        ShowError(platform, Format(kDamagedModuleFormat, record.fileName.c_str()));
      }
      ShowNotice(platform, kCannotContinue);
      return InstallRunResult::StayOnPage();
    }
    handledAny = true;
    searchEnd = static_cast<std::uint32_t>(found);
    lastDestination = destination;
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

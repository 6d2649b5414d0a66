#include "install/install_page.h"

#include <optional>

#include "common/error_text.h"
#include "common/messages.h"
#include "install/install_run.h"
#include "package/content_check.h"
#include "package/package.h"

namespace brelvane {

// The marker of the module set a drive model takes; none for no drive.  No
// drive takes the Kestrin and Ovin set.
const char* SetMarkerOf(DriveModel model) {
  const DriveModelRow* row = RowOf(model);
  return row != nullptr ? row->set.marker : nullptr;
}

SetInPackage InstallPage::LookForModuleSet(const std::string& setMarker) const {
  const Platform& platform = sheet_.platform();
  const std::int32_t found =
      FindModule(platform, sheet_.state().package(), setMarker, nullptr, true, nullptr, 0);
  if (found > 0) return SetInPackage::Present;
  if (found == 0) return SetInPackage::Absent;
  // The walk leaves the CRC code where it met a damaged record or bytes
  // that are no whole record before the program's image.
  return platform.system.LastError() == kErrorCrc ? SetInPackage::Damaged
                                                  : SetInPackage::Unreadable;
}

// What the drive's volume says of itself without anything being written,
// in a line beside the drive: the Install run names it in full.
static std::string DriveStateLine(const Platform& platform, char letter) {
  switch (DriveVolumeState(platform, letter)) {
    case VolumeState::Locked: return Format(kLockedLineFormat, letter);
    case VolumeState::ReadOnly: return Format(kWriteProtectedLineFormat, letter);
    case VolumeState::Writable: break;
  }
  return "";
}

bool InstallPage::RefreshStatus() {
  const Platform& platform = sheet_.platform();
  std::string pluggedIn = kPluggedInPrefix;
  model_ = DriveModel::None;
  sheet_.ShowInstallButton(false);
  discovery_ = {};
  driveLetter_ = FindTargetDrive(platform, &model_, &discovery_);

  if (driveLetter_ == 0 || model_ == DriveModel::None) {
    pluggedIn += kNoMivora;
    view_.SetText(ids::kPluggedInLine, pluggedIn);
    const bool lookAlike = !discovery_.lookAlike.empty();
    view_.Show(ids::kSupportedLine, lookAlike);
    if (lookAlike) view_.SetText(ids::kSupportedLine, kLookAlikeLine);
    view_.Show(ids::kModuleLine, false);
    view_.Show(ids::kLaunchCheckBox, false);
    return true;
  }

  pluggedIn += driveLetter_;
  view_.SetText(ids::kPluggedInLine, pluggedIn);
  view_.Show(ids::kSupportedLine, true);
  view_.Show(ids::kModuleLine, true);
  view_.SetText(ids::kSupportedLine, "");
  view_.SetText(ids::kModuleLine, "");

  const char* setMarker = SetMarkerOf(model_);
  if (setMarker == nullptr) {
    // The check box keeps whatever visibility it had.
    view_.SetText(ids::kSupportedLine, kNoSupportedMivora);
    return true;
  }

  view_.Show(ids::kLaunchCheckBox, false);
  const SetInPackage set = LookForModuleSet(setMarker);
  if (set == SetInPackage::Damaged) {
    // A download cut short is no package without the set: saying "NOT
    // included" would send the user looking for another installer.
    view_.SetText(ids::kModuleLine, kDamagedInstallerLine);
    view_.SetText(ids::kSupportedLine, kDownloadAgainLine);
    return true;
  }
  // An unreadable package shows as one without the set.
  view_.SetText(ids::kModuleLine, Format(kNotIncludedFormat, kUtilityName));
  if (set == SetInPackage::Present) {
    view_.SetText(ids::kModuleLine, kReadyToInstall);
    view_.SetText(ids::kSupportedLine, DriveStateLine(platform, driveLetter_));
    // Nothing is started on the 9x family, so the box is not offered there.
    if (IsNtPlatform(platform.system)) view_.Show(ids::kLaunchCheckBox, true);
    sheet_.ShowInstallButton(true);
  }
  return true;
}

void InstallPage::AskToStop() {
  if (stopAsked_) return;
  Message question;
  question.text = kStopQuestion;
  question.caption = kStopCaption;
  question.style = win::kMbYesNo | win::kMbIconQuestion;
  if (sheet_.platform().prompts.Show(question) == win::kIdYes) RequestStop();
}

}  // namespace brelvane

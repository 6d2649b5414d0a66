#include "install/install_page.h"

#include <optional>

#include "common/error_text.h"
#include "common/messages.h"
#include "package/package.h"

namespace brelvane {

namespace {

// The module set written for a drive model; none for no drive.  No drive
// model takes the Kestrin and Ovin set.
std::optional<PredefinedSet> SetOf(DriveModel model) {
  switch (model) {
    case DriveModel::Ovin: return PredefinedSet::Ovin;
    case DriveModel::Pellor: return PredefinedSet::Pellor;
    case DriveModel::Kestrin: return PredefinedSet::Kestrin;
    case DriveModel::None: break;
  }
  return std::nullopt;
}

}  // namespace

const char* SetMarkerOf(DriveModel model) {
  const std::optional<PredefinedSet> set = SetOf(model);
  return set ? MarkerOf(*set) : nullptr;
}

bool InstallPage::IsModuleSetPresent(const std::string& setMarker) const {
  // -1 (unreadable package, foreign record) counts as absent, like 0.
  return FindModule(sheet_.platform(), sheet_.state().package(), setMarker, nullptr, true, nullptr,
                    0) > 0;
}

bool InstallPage::RefreshStatus() {
  const Platform& platform = sheet_.platform();
  std::string pluggedIn = kPluggedInPrefix;
  model_ = DriveModel::None;
  sheet_.ShowInstallButton(false);
  driveLetter_ = FindTargetDrive(platform, &model_);

  if (driveLetter_ == 0 || model_ == DriveModel::None) {
    pluggedIn += kNoMivora;
    view_.SetText(ids::kPluggedInLine, pluggedIn);
    view_.Show(ids::kSupportedLine, false);
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

  view_.SetText(ids::kModuleLine, Format(kNotIncludedFormat, kUtilityName));
  view_.Show(ids::kLaunchCheckBox, false);
  if (IsModuleSetPresent(setMarker)) {
    view_.SetText(ids::kModuleLine, kReadyToInstall);
    // Nothing is started on the 9x family, so the box is not offered there.
    if (IsNtPlatform(platform.system)) view_.Show(ids::kLaunchCheckBox, true);
    sheet_.ShowInstallButton(true);
  }
  return true;
}

}  // namespace brelvane

// The install page's logic: the three status lines, the Launch check box and
// the Install button after each activation, and the install run behind the
// button.
#pragma once

#include <atomic>
#include <string>
#include <utility>

#include "app/page_ending.h"
#include "app/sheet.h"
#include "app/wizard_view.h"
#include "discovery/discovery.h"
#include "install/install_run.h"

namespace brelvane {

inline constexpr char kLaunchCheckBoxText[] = "Launch Brelvane after installation";
inline constexpr char kPluggedInPrefix[] = "Drive Mivora Plugged-in: ";
inline constexpr char kNoMivora[] = "NO MIVORA!";
inline constexpr char kNoSupportedMivora[] = "Installer could NOT find any Mivora!";
// Beside "NO MIVORA!" when the drive's disk is listed but another disk
// carries its signature, so the registry cannot say which letter it is.
inline constexpr char kLookAlikeLine[] =
    "Two drives look the same: unplug the one that is not the Mivora drive.";
inline constexpr char kNotIncludedFormat[] = "%s is NOT included!";
inline constexpr char kUtilityName[] = "Brelvane";
inline constexpr char kReadyToInstall[] = "Ready to INSTALL!";
// The package walk stopped on bytes that are no whole module record (a
// download cut short, a damaged record): what failed goes in the module
// line, what to do in the line below it, as one line of the page holds
// one of these.
inline constexpr char kDamagedInstallerLine[] = "Installer is damaged or incomplete!";
inline constexpr char kDownloadAgainLine[] = "Please download the installer again.";
inline constexpr char kOverwriteCaption[] = "Overwrite";
inline constexpr char kStopCaption[] = "Stop Installation";
inline constexpr char kStopQuestion[] =
    "Stop the installation once the file being written is complete?\r\n"
    "The files installed by then stay on the drive; Install installs the others later.";

// The module set marker of a drive model; nullptr for a model without a set.
const char* SetMarkerOf(DriveModel model);

// What the package says of a module set.
enum class SetInPackage {
  Present,     // at least one module of the set
  Absent,      // the walk ended at the image without one
  Damaged,     // the walk stopped on bytes that are no whole module record
  Unreadable,  // the package cannot be read, or its newest record is a foreign one
};

// What the install run leaves the sheet to do.
struct [[nodiscard]] InstallRunResult {
  // The run is over and the sheet closes; false keeps it open on the page.
  bool closesSheet = false;
  // Instead, the program ends: the drive's model has changed since the
  // activation.
  PageEnding ending;

  static InstallRunResult StayOnPage() { return InstallRunResult{}; }
  static InstallRunResult CloseSheet() { return InstallRunResult{true, std::nullopt}; }
  static InstallRunResult EndProgram(Ending ending) {
    return InstallRunResult{false, std::move(ending)};
  }
};

class InstallPage {
 public:
  InstallPage(Sheet& sheet, PageView& view) : sheet_(sheet), view_(view) {}

  // Runs discovery afresh and sets the lines, the check box and the Install
  // button from what it finds.  Gives true.
  bool RefreshStatus();
  // Activation: RefreshStatus.  Gives true.
  bool OnSetActive() { return RefreshStatus(); }
  // What the package holds of the module set with `setMarker`.
  SetInPackage LookForModuleSet(const std::string& setMarker) const;
  // The install run behind the Install button.
  InstallRunResult OnApply();

  // Asks the run under way to stop after the file it is writing; from any
  // thread.  The next run starts afresh.
  void RequestStop() { stopAsked_ = true; }
  // Cancel while a run copies: asks whether to stop it (once a run), and
  // asks for the stop on Yes.
  void AskToStop();

  // Told about every file of the next runs; none by default.
  void SetObserver(InstallObserver* observer) { observer_ = observer; }

  // What the last activation (or install run) found.
  DriveModel model() const { return model_; }
  char driveLetter() const { return driveLetter_; }
  // What discovery saw and why it decided, at the last activation.
  const DiscoveryReport& discovery() const { return discovery_; }

 private:
  // Finds the drive again before anything is written: nullopt when the run
  // goes on (with the drive's letter as it is now, shown on the page),
  // else how the run ends.
  std::optional<InstallRunResult> FindDriveAgain();

  // Tells the observer, if any, why the run stops.
  void Stopped(RunStop why);

  Sheet& sheet_;
  PageView& view_;
  InstallObserver* observer_ = nullptr;
  std::atomic<bool> stopAsked_{false};
  DriveModel model_ = DriveModel::None;
  char driveLetter_ = 0;
  DiscoveryReport discovery_;
};

}  // namespace brelvane

// The install page's status after each activation: its three lines, the
// Launch check box and the sheet's Install button, for every state the page
// can reach with the discovery it runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "install/install_page.h"
#include "package/module_record.h"
#include "support/wizard_machine.h"

namespace brelvane {
namespace {

using testing::BuildPackage;
using testing::ModuleSpec;
using testing::TempDrive;
using testing::WizardMachine;
using testing::WizardRig;

enum class PackageKind { WithOvinSet, OtherSetsOnly, Bare, Missing, ForeignNewest, CutShort };

// Appends a record whose marker is not a module marker, behind 8 content bytes.
void AppendForeignRecord(const TempDrive& work, const std::string& relative) {
  std::string bytes = *work.ReadHostFile(relative);
  ModuleRecord foreign;
  foreign.contentSize = 8;
  foreign.marker = "FOREIGN_TRAILER_RECORD";
  foreign.fileName = "other.bin";
  foreign.recordSize = kRecordSize;
  std::uint8_t record[kRecordSize] = {};
  EncodeModuleRecord(foreign, record);
  bytes.append(8, 'x');
  bytes.append(reinterpret_cast<const char*>(record), kRecordSize);
  work.WriteHostFile(relative, bytes);
}

std::string MakePackage(WizardMachine& machine, const TempDrive& work, PackageKind kind) {
  const ModuleSpec ovin{"Brelvane v1.0.exe", "MZ utility", "", win::kAttrNormal,
                        PredefinedSet::Ovin};
  const ModuleSpec kestrin{"Brelvane v1.0.exe", "MZ for Kestrin", "", win::kAttrNormal,
                           PredefinedSet::Kestrin};
  const ModuleSpec combined{"Brelvane v1.0.exe", "MZ for both", "", win::kAttrNormal,
                            PredefinedSet::KestrinOvin};
  const ModuleSpec user{"notes.txt", "user module", "", win::kAttrNormal, std::nullopt};
  switch (kind) {
    case PackageKind::WithOvinSet:
      return BuildPackage(machine.test(), work, "setup.exe", {ovin, user});
    case PackageKind::OtherSetsOnly:
      return BuildPackage(machine.test(), work, "setup.exe", {kestrin, combined, user});
    case PackageKind::Bare: return BuildPackage(machine.test(), work, "setup.exe", {});
    case PackageKind::Missing: return work.WinPath("missing.exe");
    case PackageKind::ForeignNewest: {
      const std::string package = BuildPackage(machine.test(), work, "setup.exe", {ovin});
      AppendForeignRecord(work, "setup.exe");
      return package;
    }
    case PackageKind::CutShort: {
      const std::string package = BuildPackage(machine.test(), work, "setup.exe", {ovin});
      testing::CutShortAsAProgram(work, "setup.exe", 100);
      return package;
    }
  }
  return {};
}

struct PageCase {
  const char* name;
  const char* fixture;
  PackageKind package;
  const char* pluggedIn;  // line 1004
  const char* supported;  // line 1005, nullptr when hidden
  const char* module;     // line 1020, nullptr when hidden
  bool checkBoxVisible;
  bool installButton;
};

void PrintTo(const PageCase& row, std::ostream* out) { *out << row.name; }

class WizardInstallPageStates : public ::testing::TestWithParam<PageCase> {};

TEST_P(WizardInstallPageStates, ActivationSetsLinesCheckBoxAndButton) {
  const PageCase& row = GetParam();
  WizardMachine machine(row.fixture);
  TempDrive work(machine.test(), 'W');
  WizardRig rig(machine, MakePackage(machine, work, row.package));
  rig.Accept();

  auto& view = rig.installView;
  EXPECT_EQ(view.control(ids::kPluggedInLine).text, row.pluggedIn);
  EXPECT_TRUE(view.control(ids::kPluggedInLine).visible);
  EXPECT_EQ(view.control(ids::kSupportedLine).visible, row.supported != nullptr);
  if (row.supported) { EXPECT_EQ(view.control(ids::kSupportedLine).text, row.supported); }
  EXPECT_EQ(view.control(ids::kModuleLine).visible, row.module != nullptr);
  if (row.module) { EXPECT_EQ(view.control(ids::kModuleLine).text, row.module); }
  EXPECT_EQ(view.control(ids::kLaunchCheckBox).visible, row.checkBoxVisible);
  EXPECT_FALSE(view.control(ids::kLaunchCheckBox).checked);
  EXPECT_EQ(rig.sheetView.installButtonVisible(), row.installButton);
  // The button is hidden first on every activation, whatever follows.
  const auto& events = rig.sheetView.events();
  const auto activated = std::find(events.begin(), events.end(), "activate Install");
  ASSERT_NE(activated, events.end());
  ASSERT_NE(activated + 1, events.end());
  EXPECT_EQ(*(activated + 1), "button 0");
  EXPECT_TRUE(machine.prompts().messages().empty());
  EXPECT_EQ(machine.registry().OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    States, WizardInstallPageStates,
    ::testing::Values(
        PageCase{"NoDrive", "none", PackageKind::WithOvinSet, "Drive Mivora Plugged-in: NO MIVORA!",
                 nullptr, nullptr, false, false},
        PageCase{"KestrinAloneIsNotLocated", "kestrin-stale-oem", PackageKind::WithOvinSet,
                 "Drive Mivora Plugged-in: NO MIVORA!", nullptr, nullptr, false, false},
        PageCase{"ReadyOnNt", "ovin-e", PackageKind::WithOvinSet, "Drive Mivora Plugged-in: E", "",
                 "Ready to INSTALL!", true, true},
        PageCase{"ReadyOn9xHasNoCheckBox", "ovin-9x-f", PackageKind::WithOvinSet,
                 "Drive Mivora Plugged-in: F", "", "Ready to INSTALL!", false, true},
        PageCase{"OtherSetsOnly", "ovin-e", PackageKind::OtherSetsOnly,
                 "Drive Mivora Plugged-in: E", "", "Brelvane is NOT included!", false, false},
        PageCase{"BarePackage", "ovin-e", PackageKind::Bare, "Drive Mivora Plugged-in: E", "",
                 "Brelvane is NOT included!", false, false},
        PageCase{"UnreadablePackage", "ovin-e", PackageKind::Missing, "Drive Mivora Plugged-in: E",
                 "", "Brelvane is NOT included!", false, false},
        PageCase{"ForeignNewestRecord", "ovin-e", PackageKind::ForeignNewest,
                 "Drive Mivora Plugged-in: E", "", "Brelvane is NOT included!", false, false},
        PageCase{"HalfDownloadedInstaller", "ovin-e", PackageKind::CutShort,
                 "Drive Mivora Plugged-in: E", "Please download the installer again.",
                 "Installer is damaged or incomplete!", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// What the drive's volume says of itself shows beside the drive before
// Install is pressed; the run names it in full.
TEST(WizardInstallPage, AWriteProtectedOrLockedDriveIsSaidBesideIt) {
  using Op = testing::FaultyFileSystem::Op;
  for (const bool locked : {false, true}) {
    WizardMachine machine("ovin-e");
    TempDrive work(machine.test(), 'W');
    if (locked) {
      machine.test().faults().FailPath(Op::FreeSpace, "E:", win::kFveLockedVolume);
    } else {
      machine.test().faults().ReportVolume({true, 4096});
    }
    WizardRig rig(machine, MakePackage(machine, work, PackageKind::WithOvinSet));
    rig.Accept();
    EXPECT_EQ(rig.installView.control(ids::kSupportedLine).text,
              locked ? "Drive E: is locked: unlock it in Explorer."
                     : "Drive E: is write-protected: slide its switch to unlock it.");
    EXPECT_EQ(rig.installView.control(ids::kModuleLine).text, "Ready to INSTALL!");
  }
}

TEST(WizardInstallPage, SetMarkersOfTheModels) {
  EXPECT_STREQ(SetMarkerOf(DriveModel::Ovin), "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_A");
  EXPECT_STREQ(SetMarkerOf(DriveModel::Pellor), "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_G");
  EXPECT_STREQ(SetMarkerOf(DriveModel::Kestrin), "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_T");
  EXPECT_EQ(SetMarkerOf(DriveModel::None), nullptr);
}

TEST(WizardInstallPage, TickSurvivesRefreshAndHiding) {
  WizardMachine machine("ovin-e");
  TempDrive work(machine.test(), 'W');
  WizardRig rig(machine, MakePackage(machine, work, PackageKind::WithOvinSet));
  rig.Accept();
  rig.installView.SetChecked(ids::kLaunchCheckBox, true);  // the user ticks it

  // The drive is pulled out: the box disappears but keeps its tick.
  machine.Apply(
      "REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\USBSTOR]\n");
  rig.sheetView.SetActivePage(PageId::Agreement);
  rig.sheetView.SetActivePage(PageId::Install);
  EXPECT_EQ(rig.installView.control(ids::kPluggedInLine).text,
            "Drive Mivora Plugged-in: NO MIVORA!");
  EXPECT_FALSE(rig.installView.control(ids::kLaunchCheckBox).visible);
  EXPECT_FALSE(rig.installView.control(ids::kModuleLine).visible);
  EXPECT_FALSE(rig.sheetView.installButtonVisible());
  EXPECT_TRUE(rig.installView.control(ids::kLaunchCheckBox).checked);

  // Plugged in again: shown again, still ticked.
  machine.Apply(testing::MachineFixtureText("ovin-e"));
  rig.sheetView.SetActivePage(PageId::Install);
  EXPECT_EQ(rig.installView.control(ids::kModuleLine).text, "Ready to INSTALL!");
  EXPECT_TRUE(rig.installView.control(ids::kLaunchCheckBox).visible);
  EXPECT_TRUE(rig.installView.control(ids::kLaunchCheckBox).checked);
  EXPECT_TRUE(rig.sheetView.installButtonVisible());
  EXPECT_EQ(rig.install().driveLetter(), 'E');
  EXPECT_EQ(rig.install().model(), DriveModel::Ovin);
}

TEST(WizardInstallPage, DrivePluggedInWhileAwayShowsOnReturn) {
  WizardMachine machine("none");
  TempDrive work(machine.test(), 'W');
  WizardRig rig(machine, MakePackage(machine, work, PackageKind::WithOvinSet));
  rig.Accept();
  EXPECT_EQ(rig.install().driveLetter(), 0);
  EXPECT_EQ(rig.install().model(), DriveModel::None);

  machine.Apply(testing::MachineFixtureText("ovin-e"));
  machine.SetDrivePresent('E', true);
  rig.sheetView.SetActivePage(PageId::Agreement);
  EXPECT_FALSE(rig.sheetView.installButtonVisible());
  rig.sheetView.SetActivePage(PageId::Install);
  EXPECT_EQ(rig.installView.control(ids::kPluggedInLine).text, "Drive Mivora Plugged-in: E");
  EXPECT_TRUE(rig.sheetView.installButtonVisible());
}

}  // namespace
}  // namespace brelvane

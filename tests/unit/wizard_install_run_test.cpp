// The install run's failures, each with the user's messages in order and the
// run's result, and the rule that keeps modules below the drive root.
#include <gtest/gtest.h>

#include "install/install_page.h"
#include "install/install_run.h"
#include "support/signed_image.h"
#include "support/wizard_machine.h"

namespace brelvane {
namespace {

using testing::BuildPackage;
using testing::ModuleSpec;
using testing::TempDrive;
using testing::TestDrive;
using testing::WizardMachine;
using testing::WizardRig;

constexpr char kCannotContinueText[] = "Unable To Continue Installation!\r\nGood Bye!";
constexpr char kCompleteText[] = "Thank you for using Quorvix product!\r\nInstallation Complete!";

struct InstallRig {
  WizardMachine machine{"ovin-e"};
  TestDrive drive{machine, 'E'};
  bool reachable = drive.usable();
  TempDrive work{machine.test(), 'W'};
  std::string package;
  std::unique_ptr<WizardRig> rig;

  explicit InstallRig(const std::vector<ModuleSpec>& modules) {
    package = BuildPackage(machine.test(), work, "setup.exe", modules);
    rig = std::make_unique<WizardRig>(machine, package);
    rig->Accept();
  }
  std::vector<std::string> texts() { return machine.prompts().texts(); }
};

const ModuleSpec kUtility{"Brelvane v1.0.exe", "MZ utility bytes", "", win::kAttrNormal,
                          PredefinedSet::Ovin};
const ModuleSpec kReadme{"readme.txt", "read me", "Brelvane", win::kAttrNormal,
                         PredefinedSet::Ovin};

// Each failure: how to bring it about after the page was activated, the
// messages the user then sees, and the run's result.
struct FailureCase {
  const char* name;
  std::vector<ModuleSpec> modules;
  void (*arrange)(InstallRig&);
  std::vector<std::string> messages;
  bool result;
};

void PrintTo(const FailureCase& row, std::ostream* out) { *out << row.name; }

class WizardInstallRunFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(WizardInstallRunFailures, ShowTheirMessagesInOrder) {
  const FailureCase& row = GetParam();
  InstallRig run(row.modules);
  if (!run.reachable) GTEST_SKIP() << "needs a drive letter of its own";
  ASSERT_TRUE(run.machine.prompts().messages().empty());
  row.arrange(run);
  run.machine.prompts().ClearMessages();

  EXPECT_EQ(run.rig->Apply(), row.result);
  // The system's own words for an error stand where the row names the code;
  // inside a message, where more lines follow, without their line break.
  std::vector<std::string> expected = row.messages;
  for (std::string& text : expected) {
    for (const std::uint32_t code : {win::kErrorFileNotFound, win::kErrorAccessDenied,
                                     win::kErrorWriteProtect, win::kErrorAlreadyExists}) {
      const std::string token = "{text of " + std::to_string(code) + "}";
      const auto at = text.find(token);
      if (at == std::string::npos) continue;
      std::string words = run.machine.system().ErrorText(code);
      while (at + token.size() < text.size() && !words.empty() &&
             (words.back() == '\r' || words.back() == '\n')) {
        words.pop_back();
      }
      text.replace(at, token.size(), words);
    }
  }
  EXPECT_EQ(run.texts(), expected);
  EXPECT_EQ(run.machine.registry().OpenHandleCount(), 0u);
  EXPECT_TRUE(run.machine.prompts().WaitBalanced());
}

void NoChange(InstallRig&) {}

INSTANTIATE_TEST_SUITE_P(
    Table, WizardInstallRunFailures,
    ::testing::Values(
        FailureCase{"DrivePulledOut",
                    {kUtility},
                    [](InstallRig& run) {
                      run.machine.Apply(
                          "REGEDIT4\n\n[-HKEY_LOCAL_"
                          "MACHINE\\SYSTEM\\CurrentControlSet\\Services\\USBSTOR]\n");
                    },
                    {"Unable to get Mivora Information!"},
                    false},
        FailureCase{"NoModuleOfTheSet",
                    {ModuleSpec{"Brelvane v1.0.exe", "kestrin", "", win::kAttrNormal,
                                PredefinedSet::Kestrin},
                     ModuleSpec{"notes.txt", "user", "", win::kAttrNormal, std::nullopt}},
                    NoChange,
                    {kCannotContinueText},
                    false},
        FailureCase{"PackageGone",
                    {kUtility},
                    [](InstallRig& run) { run.machine.test().files().DeleteFile(run.package); },
                    {kCannotContinueText},
                    false},
        FailureCase{
            "DirectoryCannotBeCreated",
            {kReadme},
            [](InstallRig& run) { run.drive.WriteHostFile("Brelvane", "a file in the way"); },
            {"Unable to create folder:\r\nE:\\Brelvane\r\nError: {text of 183}\r\nThis file is in "
             "the way:\r\nE:\\Brelvane\r\nMove or rename it, then press Install again.",
             kCannotContinueText},
            false},
        FailureCase{
            "FileInPlaceOfAFolderAbove",
            {ModuleSpec{"readme.txt", "read me", "Brelvane\\Docs", win::kAttrNormal,
                        PredefinedSet::Ovin}},
            [](InstallRig& run) { run.drive.WriteHostFile("Brelvane", "a file in the way"); },
            {"Unable to create folder:\r\nE:\\Brelvane\\Docs\r\nError: {text of 183}\r\nThis file "
             "is in the way:\r\nE:\\Brelvane\r\nMove or rename it, then press Install again.",
             kCannotContinueText},
            false},
        FailureCase{"FolderOnAWriteProtectedDrive",
                    {kReadme},
                    [](InstallRig& run) {
                      run.machine.test().faults().FailPath(
                          testing::FaultyFileSystem::Op::CreateDirectory, "Brelvane",
                          win::kErrorWriteProtect);
                    },
                    {"Unable to create folder:\r\nE:\\Brelvane\r\nError: {text of 19}\r\nMake "
                     "sure the drive can be written, then press Install again.",
                     kCannotContinueText},
                    false},
        FailureCase{"FolderAttributesUnreadable",
                    {kReadme},
                    [](InstallRig& run) {
                      run.machine.test().faults().FailPath(
                          testing::FaultyFileSystem::Op::GetAttributes, "Brelvane",
                          win::kErrorAccessDenied);
                    },
                    {"Unable to get attributes of\r\nE:\\Brelvane\r\nError Message: {text of 5}",
                     kCannotContinueText},
                    false},
        FailureCase{
            "LaunchFails",
            {kUtility},
            [](InstallRig& run) {
              run.rig->installView.SetChecked(ids::kLaunchCheckBox, true);
              run.machine.system().FailLaunch(win::kErrorFileNotFound);
            },
            {kCompleteText, "Unable execute :E:\\Brelvane v1.0.exe\r\nSystem Message: {text of 2}"},
            true},
        FailureCase{"HostileFileName",
                    {ModuleSpec{"..\\evil.exe", "x", "", win::kAttrNormal, PredefinedSet::Ovin}},
                    NoChange,
                    {"The module \"..\\evil.exe\" (folder \"\") cannot be installed safely: "
                     "the name holds a path separator.\r\nIt is not installed.",
                     kCannotContinueText},
                    false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WizardInstallRun, ForeignNewestRecordStopsBeforeWriting) {
  InstallRig run({kUtility});
  if (!run.reachable) GTEST_SKIP() << "needs a drive letter of its own";
  std::string bytes = *run.work.ReadHostFile("setup.exe");
  ModuleRecord foreign;
  foreign.marker = "NOT_A_MODULE";
  foreign.recordSize = kRecordSize;
  std::uint8_t record[kRecordSize] = {};
  EncodeModuleRecord(foreign, record);
  bytes.append(reinterpret_cast<const char*>(record), kRecordSize);
  run.work.WriteHostFile("setup.exe", bytes);
  run.machine.prompts().ClearMessages();

  EXPECT_FALSE(run.rig->Apply());
  EXPECT_EQ(run.texts(), std::vector<std::string>{kCannotContinueText});
  EXPECT_FALSE(run.drive.HostExists("Brelvane v1.0.exe"));
}

// A signed installer: the set lies before the signer's padding and table.
TEST(WizardInstallRun, SignedPackageInstallsItsSet) {
  InstallRig run({kUtility, kReadme});
  if (!run.reachable) GTEST_SKIP() << "needs a drive letter of its own";
  const std::string bytes = *run.work.ReadHostFile("setup.exe");
  const std::size_t modules =
      kUtility.content.size() + kReadme.content.size() + 2 * std::size_t{kRecordSize};
  run.work.WriteHostFile("setup.exe", testing::pe::Signed(bytes.substr(bytes.size() - modules)));
  run.machine.prompts().ClearMessages();

  EXPECT_TRUE(run.rig->Apply());
  EXPECT_EQ(run.texts(), std::vector<std::string>{kCompleteText});
  EXPECT_EQ(run.drive.ReadHostFile("Brelvane v1.0.exe"), kUtility.content);
  EXPECT_EQ(run.drive.ReadHostFile("Brelvane\\readme.txt"), kReadme.content);
}

// Pulled out once the copy has begun, or swapped for another stick: the
// drive is named as gone, and no file is said to have been there.  A drive
// letter is pulled out in the simulation only; under Wine the GUI scenarios
// pull one.
#ifndef _WIN32
TEST(WizardInstallRun, DrivePulledOutMidCopyIsNamedAsGone) {
  for (const bool swapped : {false, true}) {
    SCOPED_TRACE(swapped ? "another stick in its place" : "pulled out");
    InstallRig run({kUtility, kReadme});
    TempDrive other(run.machine.test(), 'Q');
    auto& faults = run.machine.test().faults();
    using Op = testing::FaultyFileSystem::Op;
    faults.BeforeNth(Op::Write, faults.Count(Op::Write) + 1, [&run, &other, swapped] {
      auto& drives = run.machine.test().host().files().drives();
      drives.Unmap('E');
      if (swapped) drives.Map('E', other.HostPath(""));
    });
    run.machine.prompts().ClearMessages();

    EXPECT_FALSE(run.rig->Apply());
    EXPECT_EQ(run.texts(), (std::vector<std::string>{"Drive E: was removed during the install: "
                                                     "plug it in again and press Install.",
                                                     kCannotContinueText}));
  }
}
#endif

TEST(WizardInstallRun, ModelAppearingAfterAnEmptyActivationEndsTheProgram) {
  WizardMachine machine("none");
  TestDrive drive(machine, 'E');
  TempDrive work(machine.test(), 'W');
  WizardRig rig(machine, BuildPackage(machine.test(), work, "setup.exe", {kUtility}));
  rig.Accept();
  machine.Apply(testing::MachineFixtureText("ovin-e"));
  machine.SetDrivePresent('E', true);
  machine.prompts().ClearMessages();

  const InstallRunResult run = rig.install().OnApply();
  ASSERT_TRUE(run.ending.has_value()) << "the run went on with another model";
  EXPECT_FALSE(run.closesSheet);
  EXPECT_EQ(run.ending->exitCode, 0);
  EXPECT_EQ(run.ending->message.text,
            "The Mivora has been changed!. Please restart the application!\r\nGood Bye!");
  EXPECT_EQ(run.ending->message.style, win::kMbOk);
  EXPECT_EQ(run.ending->message.caption, "setup");
  // Nothing else happened: no message of the run's own, nothing written.
  EXPECT_TRUE(machine.prompts().messages().empty());
  EXPECT_FALSE(drive.HostExists("Brelvane v1.0.exe"));
}

TEST(WizardInstallRun, MissingDriveRefreshesThePageBeforeTelling) {
  InstallRig run({kUtility});
  EXPECT_TRUE(run.rig->sheetView.installButtonVisible());
  run.machine.Apply(
      "REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\USBSTOR]\n");
  EXPECT_FALSE(run.rig->Apply());
  EXPECT_FALSE(run.rig->sheetView.installButtonVisible());
  EXPECT_EQ(run.rig->installView.control(ids::kPluggedInLine).text,
            "Drive Mivora Plugged-in: NO MIVORA!");
  EXPECT_FALSE(run.rig->installView.control(ids::kModuleLine).visible);
}

}  // namespace
}  // namespace brelvane

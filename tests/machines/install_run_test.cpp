// Installing onto simulated machines: the order of the modules, the
// overwrite question, directories, read-only files, and a drive that moves
// or disappears between the page's activation and the Install button.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "install/install_page.h"
#include "support/wizard_machine.h"

namespace brelvane {
namespace {

using testing::BuildPackage;
using testing::MachineFixtureText;
using testing::MakeHostLink;
using testing::ModuleSpec;
using testing::TempDrive;
using testing::TestDrive;
using testing::WizardMachine;
using testing::WizardRig;

constexpr char kCannotContinueText[] = "Unable To Continue Installation!\r\nGood Bye!";
constexpr char kCompleteText[] = "Thank you for using Quorvix product!\r\nInstallation Complete!";

std::string OverwriteQuestion(const std::string& path) {
  return path + " \r\nalready exist!  Delete this file before Installing?";
}

// The demo machine with drive E: on a temporary folder and a package built
// from `modules`; the agreement accepted, so the install page is shown.
class InstallOnMachine : public ::testing::Test {
 protected:
  void Start(const std::vector<ModuleSpec>& modules, const char* fixture = "ovin-e") {
    rig_.reset();
    work_.reset();
    drive_.reset();
    machine_ = std::make_unique<WizardMachine>(fixture);
    drive_ = std::make_unique<TestDrive>(*machine_, 'E');
    driveOfItsOwn_ = drive_->usable();
    work_ = std::make_unique<TempDrive>(machine_->test(), 'W');
    package_ = BuildPackage(machine_->test(), *work_, "setup.exe", modules);
    rig_ = std::make_unique<WizardRig>(*machine_, package_);
    rig_->Accept();
  }
  bool DriveOfItsOwn() const { return driveOfItsOwn_; }
  std::vector<std::string> Texts() const { return machine_->prompts().texts(); }
  std::uint32_t Attributes(const std::string& relative) {
    return machine_->test().files().GetAttributes(drive_->WinPath(relative));
  }

  std::unique_ptr<WizardMachine> machine_;
  std::unique_ptr<TestDrive> drive_;
  std::unique_ptr<TempDrive> work_;
  std::string package_;
  std::unique_ptr<WizardRig> rig_;
  bool driveOfItsOwn_ = false;
};

const ModuleSpec kM1{"m1.exe", "first appended", "", win::kAttrNormal, PredefinedSet::Ovin};
const ModuleSpec kM2{"m2.txt", "second appended", "Brelvane", win::kAttrNormal,
                     PredefinedSet::Ovin};
const ModuleSpec kM3{"m3.txt", "third appended", "", win::kAttrNormal, PredefinedSet::Ovin};

TEST_F(InstallOnMachine, SetIsInstalledNewestFirstAndTheFirstAppendedIsLaunched) {
  Start({kM1, kM2, kM3});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  // Every destination already there and kept: the questions show the order.
  drive_->WriteHostFile("m1.exe", "old 1");
  drive_->MakeHostDirectory("Brelvane");
  drive_->WriteHostFile("Brelvane\\m2.txt", "old 2");
  drive_->WriteHostFile("m3.txt", "old 3");
  rig_->installView.SetChecked(ids::kLaunchCheckBox, true);

  ASSERT_TRUE(rig_->Apply());
  EXPECT_EQ(Texts(), (std::vector<std::string>{OverwriteQuestion("E:\\m3.txt"),
                                               OverwriteQuestion("E:\\Brelvane\\m2.txt"),
                                               OverwriteQuestion("E:\\m1.exe"), kCompleteText}));
  // A skipped module still counts: the file already there is started.
  EXPECT_EQ(machine_->system().launched(), std::vector<std::string>{"E:\\m1.exe"});
  EXPECT_EQ(drive_->ReadHostFile("m1.exe"), "old 1");
}

TEST_F(InstallOnMachine, FreshDriveGetsEveryModuleWithItsBytesAndAttributes) {
  Start(
      {ModuleSpec{"Brelvane v1.0.exe", std::string(3000, 'u'), "", win::kAttrNormal,
                  PredefinedSet::Ovin},
       ModuleSpec{"readme.txt", "read me\r\n", "Brelvane\\Docs", win::kAttrReadOnly,
                  PredefinedSet::Ovin},
       ModuleSpec{"hidden.dat", std::string(1024, 'h'), "Brelvane", 0x03, PredefinedSet::Ovin},
       ModuleSpec{"other.exe", "user-defined: never installed", "", win::kAttrNormal, std::nullopt},
       ModuleSpec{"both.exe", "Kestrin and Ovin: never installed", "", win::kAttrNormal,
                  PredefinedSet::KestrinOvin}});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  rig_->installView.SetChecked(ids::kLaunchCheckBox, true);

  ASSERT_TRUE(rig_->Apply());
  EXPECT_EQ(Texts(), std::vector<std::string>{kCompleteText});
  EXPECT_EQ(drive_->ReadHostFile("Brelvane v1.0.exe"), std::string(3000, 'u'));
  EXPECT_EQ(drive_->ReadHostFile("Brelvane\\Docs\\readme.txt"), "read me\r\n");
  EXPECT_EQ(drive_->ReadHostFile("Brelvane\\hidden.dat"), std::string(1024, 'h'));
  EXPECT_FALSE(drive_->HostExists("other.exe"));
  EXPECT_FALSE(drive_->HostExists("both.exe"));
  EXPECT_EQ(Attributes("Brelvane v1.0.exe"), win::kAttrArchive);
  EXPECT_EQ(Attributes("Brelvane\\Docs\\readme.txt"), win::kAttrArchive | win::kAttrReadOnly);
  EXPECT_EQ(Attributes("Brelvane\\hidden.dat"),
            win::kAttrArchive | win::kAttrReadOnly | win::kAttrHidden);
  EXPECT_EQ(machine_->system().launched(), std::vector<std::string>{"E:\\Brelvane v1.0.exe"});
  EXPECT_TRUE(machine_->prompts().WaitBalanced());
}

TEST_F(InstallOnMachine, NoKeepsTheExistingFileAndInstallsTheRest) {
  Start({kM1, kM3});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  drive_->WriteHostFile("m3.txt", "the user's own file");
  machine_->prompts().QueueAnswer(win::kIdNo);

  ASSERT_TRUE(rig_->Apply());
  EXPECT_EQ(Texts(), (std::vector<std::string>{OverwriteQuestion("E:\\m3.txt"), kCompleteText}));
  const Message& question = machine_->prompts().messages()[0];
  EXPECT_EQ(question.caption, "Overwrite");
  EXPECT_EQ(question.style, 0x24u);
  EXPECT_TRUE(question.owned_by_page);
  EXPECT_EQ(drive_->ReadHostFile("m3.txt"), "the user's own file");
  EXPECT_EQ(drive_->ReadHostFile("m1.exe"), "first appended");
  EXPECT_TRUE(machine_->system().launched().empty());  // the box was not ticked
}

// A stop asked for while the set is copied or a question waits takes effect
// before any file of the set is put in place: the drive is as it was, and
// no staging file stays.
TEST_F(InstallOnMachine, AStopAskedForLeavesTheDriveAsItWas) {
  Start({kM1, kM3});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  drive_->WriteHostFile("m3.txt", "old 3");
  machine_->prompts().WhileNextBoxIsUp([&] { rig_->install().RequestStop(); });
  machine_->prompts().QueueAnswer(win::kIdYes);

  EXPECT_FALSE(rig_->Apply());
  EXPECT_EQ(Texts(), (std::vector<std::string>{
                         OverwriteQuestion("E:\\m3.txt"),
                         "The installation was stopped before any file of the set was put in "
                         "place: the drive is as it was.\r\nPress Install to install the set."}));
  EXPECT_EQ(drive_->ReadHostFile("m3.txt"), "old 3");
  EXPECT_FALSE(drive_->HostExists("m1.exe"));
  EXPECT_EQ(testing::StagingFilesIn(drive_->HostPath("")), 0);

  machine_->prompts().QueueAnswer(win::kIdYes);
  ASSERT_TRUE(rig_->Apply());
  EXPECT_EQ(drive_->ReadHostFile("m3.txt"), "third appended");
  EXPECT_EQ(drive_->ReadHostFile("m1.exe"), "first appended");
}

// The utility running from the drive holds its file open: it is not asked
// about, nothing of the set is written, and the message says what to do;
// once it is closed, Install again asks and replaces it.
TEST_F(InstallOnMachine, AFileInUseIsNamedBeforeAnythingIsWritten) {
  Start({kM1, kM3});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  drive_->WriteHostFile("m1.exe", "running");
  FileSystem& files = machine_->test().files();
  auto running = std::make_unique<ScopedFile>(files, files.OpenRead(drive_->WinPath("m1.exe")));
  ASSERT_TRUE(running->valid());

  EXPECT_FALSE(rig_->Apply());
  EXPECT_EQ(Texts(),
            (std::vector<std::string>{
                "Unable to install file:\r\nE:\\m1.exe\r\nThe file is in use: a program has "
                "it open (Brelvane itself, when it runs from the drive).\r\nClose that "
                "program, then press Install again.",
                kCannotContinueText}));
  EXPECT_FALSE(drive_->HostExists("m3.txt")) << "written before the file in use";
  EXPECT_EQ(drive_->ReadHostFile("m1.exe"), "running");

  running.reset();
  machine_->prompts().ClearMessages();
  machine_->prompts().QueueAnswer(win::kIdYes);
  ASSERT_TRUE(rig_->Apply());
  EXPECT_EQ(Texts(), (std::vector<std::string>{OverwriteQuestion("E:\\m1.exe"), kCompleteText}));
  EXPECT_EQ(drive_->ReadHostFile("m1.exe"), "first appended");
}

// Started while the Overwrite question waits: the old file stays and is
// named as in use.
TEST_F(InstallOnMachine, AFileOpenedWhileTheQuestionWaitsIsNamedAsInUse) {
  Start({kM1});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  drive_->WriteHostFile("m1.exe", "old");
  FileSystem& files = machine_->test().files();
  std::unique_ptr<ScopedFile> running;
  machine_->prompts().WhileNextBoxIsUp([&] {
    running = std::make_unique<ScopedFile>(files, files.OpenRead(drive_->WinPath("m1.exe")));
  });
  machine_->prompts().QueueAnswer(win::kIdYes);

  EXPECT_FALSE(rig_->Apply());
  const std::vector<std::string> texts = Texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[1].rfind("Unable to install file:\r\nE:\\m1.exe\r\nThe file is in use", 0), 0u)
      << texts[1];
  EXPECT_EQ(drive_->ReadHostFile("m1.exe"), "old");
}

// The rename that puts a module in place, refused by another program: a
// brief hold (an antivirus scanning the new file) is waited out, a lasting
// one is named with the system's words, and an antivirus that blocks the
// file is named as such.
TEST_F(InstallOnMachine, ARefusedRenameIsWaitedOutOrNamed) {
  using Op = testing::FaultyFileSystem::Op;
  const struct {
    std::uint32_t error;
    bool lasting;
    const char* said;  // the first message's second line; nullptr: the set installs
  } rows[] = {
      {win::kErrorSharingViolation, false, nullptr},
      {win::kErrorSharingViolation, true, "Error: "},
      {win::kErrorVirusInfected, false, "An antivirus program blocked it: "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.error) + (row.lasting ? " lasting" : " once"));
    Start({kM1});
    if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
    machine_->test().faults().FailNth(Op::Replace, 1, row.error, row.lasting);
    const std::uint64_t slept = machine_->system().slept();

    EXPECT_EQ(rig_->Apply(), row.said == nullptr);
    if (row.said == nullptr) {
      EXPECT_EQ(drive_->ReadHostFile("m1.exe"), "first appended");
      EXPECT_GT(machine_->system().slept(), slept);
      continue;
    }
    const std::vector<std::string> texts = Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(
        texts[0].rfind("Unable to install file:\r\nE:\\m1.exe\r\n" + std::string(row.said), 0), 0u)
        << texts[0];
    EXPECT_FALSE(drive_->HostExists("m1.exe"));
    EXPECT_EQ(testing::StagingFilesIn(drive_->HostPath("")), 0);
  }
}

TEST_F(InstallOnMachine, YesReplacesAReadOnlyFileWithoutAskingAboutReadOnly) {
  Start({kM1});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  drive_->WriteHostFile("m1.exe", "old and read-only");
  ASSERT_TRUE(
      machine_->test().files().SetAttributes(drive_->WinPath("m1.exe"), win::kAttrReadOnly));
  machine_->prompts().QueueAnswer(win::kIdYes);

  ASSERT_TRUE(rig_->Apply());
  EXPECT_EQ(Texts(), (std::vector<std::string>{OverwriteQuestion("E:\\m1.exe"), kCompleteText}));
  EXPECT_EQ(drive_->ReadHostFile("m1.exe"), "first appended");
  EXPECT_EQ(Attributes("m1.exe"), win::kAttrArchive);
}

// The set is staged before anything takes its name: a damaged module
// staged after a module whose folders were made leaves those folders gone
// again.
TEST_F(InstallOnMachine, ADamagedSetLeavesNoFolderBehind) {
  Start({kM1, {"readme.txt", "docs", "Brelvane\\Docs", win::kAttrNormal, PredefinedSet::Ovin}});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  std::string bytes = *work_->ReadHostFile("setup.exe");
  const std::size_t m1Last = bytes.size() - kRecordSize - 4 - kRecordSize - 1;
  bytes[m1Last] = static_cast<char>(bytes[m1Last] ^ 0x20);
  work_->WriteHostFile("setup.exe", bytes);

  EXPECT_FALSE(rig_->Apply());
  EXPECT_EQ(Texts().front().rfind("The module \"m1.exe\" in this installer is damaged", 0), 0u);
  EXPECT_FALSE(drive_->HostExists("Brelvane"));
  EXPECT_EQ(testing::StagingFilesIn(drive_->HostPath("")), 0);
}

TEST_F(InstallOnMachine, MissingFolderLevelsAreCreated) {
  Start({ModuleSpec{"readme.txt", "deep", "Brelvane\\Docs\\en", win::kAttrNormal,
                    PredefinedSet::Ovin}});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  drive_->MakeHostDirectory("Brelvane");

  ASSERT_TRUE(rig_->Apply());
  EXPECT_EQ(Texts(), std::vector<std::string>{kCompleteText});
  EXPECT_EQ(drive_->ReadHostFile("Brelvane\\Docs\\en\\readme.txt"), "deep");
}

TEST_F(InstallOnMachine, ForwardSlashesInTheFolderSeparateLevelsToo) {
  Start({ModuleSpec{"readme.txt", "slashed", "Brelvane/Docs", win::kAttrNormal,
                    PredefinedSet::Ovin}});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";

  ASSERT_TRUE(rig_->Apply());
  EXPECT_EQ(Texts(), std::vector<std::string>{kCompleteText});
  EXPECT_EQ(drive_->ReadHostFile("Brelvane\\Docs\\readme.txt"), "slashed");
}

// A link on the drive to a place outside it, where a module's folder or file
// goes: the run stops there, names the link, and changes nothing outside.
struct LinkCase {
  const char* name;
  ModuleSpec module;
  const char* link;    // on the drive
  const char* target;  // in the work folder: "outside" or its read-only "outside\\kept.txt"
};

void PrintTo(const LinkCase& row, std::ostream* out) { *out << row.name; }

class InstallMeetingALink : public InstallOnMachine,
                            public ::testing::WithParamInterface<LinkCase> {};

TEST_P(InstallMeetingALink, StopsWithoutWritingThroughIt) {
  const LinkCase& c = GetParam();
  Start({c.module});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  FileSystem& files = machine_->test().files();
  work_->MakeHostDirectory("outside");
  work_->WriteHostFile("outside\\kept.txt", "kept");
  ASSERT_TRUE(files.SetAttributes(work_->WinPath("outside\\kept.txt"), win::kAttrReadOnly));
  if (!MakeHostLink(files, drive_->HostPath(c.link), drive_->WinPath(c.link),
                    work_->HostPath(c.target))) {
    GTEST_SKIP() << "this host makes no links the platform reports";
  }
  machine_->prompts().QueueAnswer(win::kIdYes);  // should the run ask to overwrite

  EXPECT_FALSE(rig_->Apply());
  EXPECT_EQ(Texts(),
            (std::vector<std::string>{
                "The module \"" + c.module.fileName +
                    "\" cannot be installed safely: this is a symbolic link or junction,\r\n" +
                    drive_->WinPath(c.link) +
                    "\r\nand nothing is written through a link on the drive.\r\nIt is not "
                    "installed.",
                kCannotContinueText}));
  EXPECT_EQ(work_->ReadHostFile("outside\\kept.txt"), "kept");
  EXPECT_EQ(files.GetAttributes(work_->WinPath("outside\\kept.txt")),
            win::kAttrArchive | win::kAttrReadOnly);
  EXPECT_FALSE(work_->HostExists("outside\\Docs"));
}

INSTANTIATE_TEST_SUITE_P(Table, InstallMeetingALink,
                         ::testing::Values(LinkCase{"FolderLinkedOutside",
                                                    {"readme.txt", "x", "Brelvane\\Docs",
                                                     win::kAttrNormal, PredefinedSet::Ovin},
                                                    "Brelvane",
                                                    "outside"},
                                           LinkCase{"FileLinkedToAReadOnlyFileOutside",
                                                    {"m3.txt", "x", "", win::kAttrNormal,
                                                     PredefinedSet::Ovin},
                                                    "m3.txt",
                                                    "outside\\kept.txt"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A drive folder swapped for a link to an outside folder while the Overwrite
// question waits: the run looks again before it writes, names the link and
// changes nothing outside.
// Links on the drive: hosts where the test cannot make them skip, so these
// stay out of the Wine scenarios' InstallOnMachine filter.  A hard link to a
// file outside the drive exists only where the drive is a folder of a larger
// volume: on Windows, hard links never leave their volume.
using LinkedDrive = InstallOnMachine;

TEST_F(LinkedDrive, AFolderSwappedForALinkDuringTheQuestionStopsTheRun) {
  Start({{"readme.txt", "new", "Brelvane\\Docs", win::kAttrNormal, PredefinedSet::Ovin}});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  FileSystem& files = machine_->test().files();
  drive_->MakeHostDirectory("Brelvane");
  drive_->MakeHostDirectory("Brelvane\\Docs");
  drive_->WriteHostFile("Brelvane\\Docs\\readme.txt", "old");
  work_->MakeHostDirectory("outside");
  work_->MakeHostDirectory("outside\\Docs");
  work_->WriteHostFile("outside\\Docs\\readme.txt", "kept");
  ASSERT_TRUE(files.SetAttributes(work_->WinPath("outside\\Docs\\readme.txt"), win::kAttrReadOnly));
  bool linked = false;
  machine_->prompts().WhileNextBoxIsUp([&] {
    std::filesystem::rename(drive_->HostPath("Brelvane"), drive_->HostPath("moved"));
    linked = MakeHostLink(files, drive_->HostPath("Brelvane"), drive_->WinPath("Brelvane"),
                          work_->HostPath("outside"));
  });
  machine_->prompts().QueueAnswer(win::kIdYes);

  EXPECT_FALSE(rig_->Apply());
  if (!linked) GTEST_SKIP() << "this host makes no links the platform reports";
  EXPECT_EQ(Texts(), (std::vector<std::string>{
                         OverwriteQuestion("E:\\Brelvane\\Docs\\readme.txt"),
                         "The module \"readme.txt\" cannot be installed safely: this is a symbolic "
                         "link or junction,\r\nE:\\Brelvane\r\nand nothing is written through a "
                         "link on the drive.\r\nIt is not installed.",
                         kCannotContinueText}));
  EXPECT_EQ(work_->ReadHostFile("outside\\Docs\\readme.txt"), "kept");
  EXPECT_EQ(files.GetAttributes(work_->WinPath("outside\\Docs\\readme.txt")),
            win::kAttrArchive | win::kAttrReadOnly);
  EXPECT_EQ(testing::StagingFilesIn(work_->HostPath("outside")), 0);
  EXPECT_EQ(drive_->ReadHostFile("moved\\Docs\\readme.txt"), "old");
}

// A hard link at the destination to a read-only file outside the drive: the
// drive's name gets the module, the outside name keeps content and mode.
TEST_F(LinkedDrive, AHardLinkedDestinationLeavesItsOtherNameAlone) {
  Start({kM3});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  FileSystem& files = machine_->test().files();
  work_->WriteHostFile("kept.txt", "kept");
  ASSERT_TRUE(files.SetAttributes(work_->WinPath("kept.txt"), win::kAttrReadOnly));
  std::error_code error;
  std::filesystem::create_hard_link(work_->HostPath("kept.txt"), drive_->HostPath("m3.txt"), error);
  if (error) GTEST_SKIP() << "no hard links here: " << error.message();
  machine_->prompts().QueueAnswer(win::kIdYes);

  EXPECT_TRUE(rig_->Apply());
  EXPECT_EQ(drive_->ReadHostFile("m3.txt"), "third appended");
  EXPECT_EQ(work_->ReadHostFile("kept.txt"), "kept");
  EXPECT_EQ(files.GetAttributes(work_->WinPath("kept.txt")),
            win::kAttrArchive | win::kAttrReadOnly);
}

// The installer started from the drive, where one of its modules goes: it is
// never removed to make room, even when Yes is answered.
TEST_F(InstallOnMachine, TheInstallerItselfIsNeverReplaced) {
  Start({kM1, kM3});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  const std::string bytes = *work_->ReadHostFile("setup.exe");
  drive_->WriteHostFile("m1.exe", bytes);
  rig_ = std::make_unique<WizardRig>(*machine_, drive_->WinPath("m1.exe"));
  rig_->Accept();
  machine_->prompts().QueueAnswer(win::kIdYes);  // should the run ask to overwrite

  EXPECT_FALSE(rig_->Apply());
  EXPECT_EQ(Texts(), (std::vector<std::string>{
                         "The module \"m1.exe\" (folder \"\") cannot be installed safely: it would "
                         "replace this installer itself.\r\nIt is not installed.",
                         kCannotContinueText}));
  EXPECT_EQ(drive_->ReadHostFile("m1.exe"), bytes);
}

TEST_F(InstallOnMachine, DirectoryInPlaceOfTheFileIsNotAskedAboutAndStopsTheRun) {
  Start({kM1, kM3});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  drive_->MakeHostDirectory("m1.exe");

  EXPECT_FALSE(rig_->Apply());
  const std::vector<std::string> texts = Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].rfind("Unable to install file:\r\nE:\\m1.exe\r\n", 0), 0u) << texts[0];
  EXPECT_EQ(texts[1], kCannotContinueText);
  EXPECT_TRUE(std::filesystem::is_directory(drive_->HostPath("m1.exe")));
  // What came before the failure stays.
  EXPECT_EQ(drive_->ReadHostFile("m3.txt"), "third appended");
}

TEST_F(InstallOnMachine, SameDriveUnderAnotherLetterIsWrittenWhereItIsNow) {
  Start({kM1, kM2});
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs drive letters of its own";
  ASSERT_EQ(rig_->install().driveLetter(), 'E');
  // Re-plugged: the same disk now mounts at F:, and E: is gone.
  TestDrive moved(*machine_, 'F');
  if (!moved.usable()) GTEST_SKIP() << "needs drive letters of its own";
  std::string mounts = MachineFixtureText("ovin-e");
  mounts = mounts.substr(mounts.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\MountedDevices]"));
  const std::string letterE = "\"\\\\DosDevices\\\\E:\"";
  mounts.replace(mounts.find(letterE), letterE.size(), "\"\\\\DosDevices\\\\F:\"");
  machine_->Apply("REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\SYSTEM\\MountedDevices]\n\n" + mounts);
  machine_->SetDrivePresent('E', false);
  machine_->SetDrivePresent('F', true);

  ASSERT_TRUE(rig_->Apply());
  EXPECT_EQ(Texts(), std::vector<std::string>{kCompleteText});
  EXPECT_EQ(moved.ReadHostFile("m1.exe"), "first appended");
  EXPECT_EQ(moved.ReadHostFile("Brelvane\\m2.txt"), "second appended");
  EXPECT_FALSE(drive_->HostExists("m1.exe"));
  EXPECT_EQ(rig_->install().driveLetter(), 'F');
  // The page names the letter the files went to.
  EXPECT_EQ(rig_->installView.control(ids::kPluggedInLine).text, "Drive Mivora Plugged-in: F");
}

// A crafted module behind sound ones: the set is refused before anything
// is written, and nothing lands beside the drive.  (Which names are refused, and why, is tabled
// with the crafted packages.)
TEST_F(InstallOnMachine, HostileNamesWriteNothingOutsideTheirFolder) {
  const std::vector<ModuleSpec> hostile = {
      {"..\\escaped.exe", "x", "", win::kAttrNormal, PredefinedSet::Ovin},
      {"escaped.txt", "x", "Brelvane\\..\\..", win::kAttrNormal, PredefinedSet::Ovin},
  };
  for (const ModuleSpec& module : hostile) {
    SCOPED_TRACE(module.fileName + " in " + module.extractDir);
    // The hostile module is the oldest: the newer one would be installed first.
    Start({module, kM3});
    if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
    drive_->MakeHostDirectory("inner");

    EXPECT_FALSE(rig_->Apply());
    const auto& messages = machine_->prompts().messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].text.find("\"" + module.fileName + "\""), std::string::npos);
    EXPECT_EQ(messages[0].style, win::kMbIconHand);
    EXPECT_EQ(messages[1].text, kCannotContinueText);
    EXPECT_FALSE(drive_->HostExists("m3.txt"));
    // Nothing named "escaped" anywhere around the drive's folder.
    EXPECT_FALSE(drive_->HostExists("escaped.txt"));
    EXPECT_FALSE(drive_->HostExists("escaped.exe"));
    const std::string host = drive_->HostPath("");
    if (host.size() > 3) {  // a folder standing for the drive: look beside it too
      const std::string parent = host.substr(0, host.find_last_of("/\\", host.size() - 2));
      EXPECT_FALSE(std::ifstream(parent + "/escaped.txt").good());
      EXPECT_FALSE(std::ifstream(parent + "/escaped.exe").good());
    }
  }
}

TEST_F(InstallOnMachine, NothingIsStartedOnThe9xFamily) {
  Start({kM1}, "ovin-9x-f");
  if (!DriveOfItsOwn()) GTEST_SKIP() << "needs a drive letter of its own";
  TestDrive f(*machine_, 'F');
  if (!f.usable()) GTEST_SKIP() << "needs a drive letter of its own";
  EXPECT_FALSE(rig_->installView.control(ids::kLaunchCheckBox).visible);

  ASSERT_TRUE(rig_->Apply());
  EXPECT_EQ(Texts(), std::vector<std::string>{kCompleteText});
  EXPECT_EQ(f.ReadHostFile("m1.exe"), "first appended");
  EXPECT_TRUE(machine_->system().launched().empty());
}

}  // namespace
}  // namespace brelvane

// The install run under every single failing file-system call, and with
// packages crafted to write elsewhere than below the drive root: success is
// only ever claimed for a complete installation, a failure always ends with
// a message, no partial file stays, what was installed before a failure is
// intact, and nothing lands outside the drive.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "install/install_page.h"
#include "package/content_check.h"
#include "support/fault_sweep.h"
#include "support/wizard_machine.h"

namespace brelvane {
namespace {

using testing::BuildPackage;
using testing::FaultPoint;
using testing::FaultSweep;
using testing::ModuleSpec;
using testing::TempDrive;
using testing::TestDrive;
using testing::WizardMachine;
using testing::WizardRig;
using Op = testing::FaultyFileSystem::Op;
namespace fs = std::filesystem;

// The entries directly below a host folder (the drive roots of the Wine
// scenario included, where a status query of the root fails).
std::size_t EntriesBelow(const std::string& folder) {
  std::error_code error;
  std::size_t count = 0;
  for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    ++count;
  }
  return count;
}

void EmptyHostFolder(const std::string& folder) {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code ignored;
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    std::error_code ignored;
    fs::remove_all(it->path(), ignored);
  }
}

constexpr char kCannotContinueText[] = "Unable To Continue Installation!\r\nGood Bye!";
constexpr std::uint32_t kInjected = win::kErrorWriteProtect;

std::string Pattern(std::size_t size, int seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + seed) & 0xFF);
  return bytes;
}

// Appended in this order, installed newest first: m3, m2, m1.
const std::vector<ModuleSpec> kSet = {
    {"m1.exe", Pattern(1500, 1), "", win::kAttrNormal, PredefinedSet::Ovin},
    {"m2.txt", Pattern(300000, 2), "Brelvane\\Docs", win::kAttrReadOnly, PredefinedSet::Ovin},
    {"m3.dat", Pattern(10, 3), "", win::kAttrNormal, PredefinedSet::Ovin},
};
const char* const kDestinations[] = {"m1.exe", "Brelvane\\Docs\\m2.txt", "m3.dat"};

class InstallRun : public ::testing::Test {
 protected:
  InstallRun() {
    package_ = BuildPackage(machine_.test(), work_, "setup.exe", kSet);
    packageBytes_ = *work_.ReadHostFile("setup.exe");
    rig_ = std::make_unique<WizardRig>(machine_, package_);
    rig_->Accept();
  }
  // A drive with a file of the user's, an older version of every module
  // that the run asks to replace (m1 hidden, m2 read-only; every answer is
  // Yes), and a staging file that an interrupted run left.
  void Arrange() {
    EmptyHostFolder(drive_.HostPath(""));
    drive_.WriteHostFile("user.txt", "the user's own file");
    drive_.MakeHostDirectory("Brelvane");
    drive_.MakeHostDirectory("Brelvane\\Docs");
    for (int i = 0; i < 3; ++i) {
      drive_.WriteHostFile(kDestinations[i], kOlder[i]);
      SetBits(kDestinations[i], kOlderBits[i]);
    }
    drive_.WriteHostFile("Brelvane\\Docs\\~BV00000.TMP", "left by a crash");
    SetBits("Brelvane\\Docs\\~BV00000.TMP", win::kAttrHidden | win::kAttrSystem);
    machine_.prompts().ClearMessages();
    while (machine_.prompts().PendingAnswers() < 3) machine_.prompts().QueueAnswer(win::kIdYes);
  }
  void SetBits(const std::string& relative, std::uint32_t bits) {
    ASSERT_TRUE(machine_.test().files().SetAttributes(drive_.WinPath(relative), bits));
  }
  std::uint32_t Bits(int index) {
    return machine_.test().files().GetAttributes(drive_.WinPath(kDestinations[index])) &
           (win::kAttrReadOnly | win::kAttrHidden);
  }
  bool Installed(int index) {
    return drive_.ReadHostFile(kDestinations[index]) == kSet[index].content;
  }
  bool Untouched(int index) {
    return drive_.ReadHostFile(kDestinations[index]) == kOlder[index] &&
           Bits(index) == kOlderBits[index];
  }
  // m1's older file is larger than its module, so that a nearly full drive
  // can take the whole set.
  static inline const std::string kOlder[] = {std::string(2000, 'o'), "older m2", "older m3"};
  static constexpr std::uint32_t kOlderBits[] = {win::kAttrHidden, win::kAttrReadOnly, 0};

  WizardMachine machine_{"ovin-e"};
  TestDrive drive_{machine_, 'E'};
  TempDrive work_{machine_.test(), 'W'};
  std::string package_;
  std::string packageBytes_;
  std::unique_ptr<WizardRig> rig_;
};

TEST_F(InstallRun, EveryFailingCallEndsInAConsistentDrive) {
  if (!drive_.usable()) GTEST_SKIP() << "needs a drive letter of its own";
  std::set<Op> harmlessKinds;
  int failures = 0;
  FaultSweep sweep;
  sweep.arrange = [&] { Arrange(); };
  sweep.run = [&] { return rig_->Apply(); };
  sweep.check = [&](const FaultPoint& point, bool completed) {
    const std::vector<std::string> texts = machine_.prompts().texts();
    EXPECT_EQ(drive_.ReadHostFile("user.txt"), "the user's own file");
    EXPECT_EQ(work_.ReadHostFile("setup.exe"), packageBytes_) << "the package is only read";
    // No partial file and no lost one: each destination holds its module
    // whole, or the older file as it was, attributes included.
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(Installed(i) || Untouched(i))
          << kDestinations[i] << " " << testing::Describe(point);
    }
    // Only the planted leftover may survive, when the call that removes it
    // failed; the run's own staging file never does.
    EXPECT_LE(testing::StagingFilesIn(drive_.HostPath("")), 1) << testing::Describe(point);
    // Newest first, and nothing undone: a module on the drive means the
    // ones installed before it are there too.
    EXPECT_TRUE(!Installed(0) || Installed(1));
    EXPECT_TRUE(!Installed(1) || Installed(2));
    EXPECT_TRUE(machine_.prompts().WaitBalanced());
    if (!completed) {
      ++failures;
      ASSERT_FALSE(texts.empty());
      EXPECT_EQ(texts.back(), kCannotContinueText);
      return;
    }
    harmlessKinds.insert(point.op);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(Installed(i)) << kDestinations[i];
    EXPECT_EQ(Bits(1), win::kAttrReadOnly) << "the record's bits";
    EXPECT_EQ(texts.back(), "Thank you for using Quorvix product!\r\nInstallation Complete!");
  };
  const auto points = testing::RunFaultSweep(machine_.test().faults(), sweep, kInjected);
  EXPECT_GE(failures, 40);
  EXPECT_GT(points.size(), static_cast<std::size_t>(failures));
  // Harmless by design, each where a failing call can only answer "no"
  // truthfully or ends nothing: probes of folders that do not exist yet,
  // the existence test of a destination that is not there (an open),
  // closing read handles, the package's shared lock (it only makes a
  // reader wait for a writer), telling whether a destination that is not
  // there is the installer itself, asking for the free space (the copy
  // finds a full drive all the same), hiding the staging file, and the
  // search for leftovers and their removal (the next run removes them),
  // measuring a file the set replaces (it then counts as freeing nothing
  // and as differing from the module).
  for (const Op op : harmlessKinds) {
    EXPECT_TRUE(op == Op::Probe || op == Op::Open || op == Op::Close || op == Op::Lock ||
                op == Op::Length || op == Op::Identify || op == Op::FreeSpace ||
                op == Op::SetAttributes || op == Op::Find || op == Op::GetAttributes ||
                op == Op::Delete)
        << testing::Describe(FaultPoint{op, 0});
  }
  // Whatever a failure left, the next run takes away.
  sweep.arrange();
  EXPECT_TRUE(rig_->Apply());
  EXPECT_EQ(testing::StagingFilesIn(drive_.HostPath("")), 0);
}

// The run killed after each call that changes something, on a drive with
// room for the whole set staged and on one so full that a replace keeps a
// copy of the old file in the temporary folder: after the kill every file
// is the old one with its bits, the new one, or (while its kept copy
// stands) gone; the next run heals what was left, and installs the set
// whole, leaving nothing behind on the drive or in the temporary folder.
TEST_F(InstallRun, EveryKillIsHealedByTheNextRun) {
  if (!drive_.usable()) GTEST_SKIP() << "needs a drive letter of its own";
  testing::FaultyFileSystem& faults = machine_.test().faults();
  work_.MakeHostDirectory("temp");
  machine_.system().SetTempDirectory(work_.WinPath("temp\\"));
  for (const bool nearlyFull : {false, true}) {
    // Room for m2 and m1 in their old files' places, not beside them; a
    // volume that counts in bytes, as the fault double does.
    const auto fill = [&] {
      if (!nearlyFull) return;
      faults.ReportFreeBytes("E:", 299995);
      faults.ReportVolume({false, 1});
    };
    int kills = 0;
    int putBack = 0;  // heals that told the user a file was put back
    for (int n = 1;; ++n) {
      SCOPED_TRACE((nearlyFull ? "nearly full, killed after change " : "killed after change ") +
                   std::to_string(n));
      Arrange();
      fill();
      faults.DieAfterChanges(n);
      rig_->Apply();
      const bool killed = faults.Triggered();
      faults.Reset();
      for (int i = 0; i < 3; ++i) {
        const bool gone = !drive_.HostExists(kDestinations[i]);
        EXPECT_TRUE(Installed(i) || Untouched(i) || (gone && !work_.ListHost("temp").empty()))
            << kDestinations[i];
      }
      if (!killed) break;
      ++kills;
      fill();
      while (machine_.prompts().PendingAnswers() < 6) machine_.prompts().QueueAnswer(win::kIdYes);
      machine_.prompts().ClearMessages();
      ASSERT_TRUE(rig_->Apply()) << ::testing::PrintToString(machine_.prompts().texts());
      for (const std::string& text : machine_.prompts().texts()) {
        putBack += text.find("is put back from the copy it kept") != std::string::npos;
      }
      for (int i = 0; i < 3; ++i) EXPECT_TRUE(Installed(i)) << kDestinations[i];
      EXPECT_EQ(Bits(1), win::kAttrReadOnly);
      EXPECT_EQ(drive_.ReadHostFile("user.txt"), "the user's own file");
      EXPECT_EQ(testing::StagingFilesIn(drive_.HostPath("")), 0);
      EXPECT_EQ(work_.ListHost("temp"), std::vector<std::string>{});
      faults.Reset();
    }
    EXPECT_GE(kills, nearlyFull ? 12 : 8);
    EXPECT_EQ(putBack > 0, nearlyFull);
  }
}

// A kept copy is healed onto its own drive only: another stick of the same
// model at the same letter neither gets the file nor loses the copy, and
// the drive itself gets its file back once it is plugged in again.  The
// other stick is the drive's folder swapped for an empty one, which a real
// drive letter (the Wine scenarios') does not allow: this suite stays out of
// their InstallRun filter.
using KeptCopyOnAFolderDrive = InstallRun;

TEST_F(KeptCopyOnAFolderDrive, IsHealedOntoItsOwnDriveOnly) {
  if (!drive_.usable()) GTEST_SKIP() << "needs a drive letter of its own";
  testing::FaultyFileSystem& faults = machine_.test().faults();
  work_.MakeHostDirectory("temp");
  machine_.system().SetTempDirectory(work_.WinPath("temp\\"));
  const auto fill = [&] {
    faults.ReportFreeBytes("E:", 299995);
    faults.ReportVolume({false, 1});
  };
  // Killed after m1's old file went (the one the full drive replaces in
  // place), while only its kept copy holds it.
  bool keptOnly = false;
  for (int n = 1; n < 200 && !keptOnly; ++n) {
    std::filesystem::remove_all(work_.HostPath("temp"));
    work_.MakeHostDirectory("temp");
    Arrange();
    fill();
    faults.DieAfterChanges(n);
    rig_->Apply();
    faults.Reset();
    keptOnly = !drive_.HostExists(kDestinations[0]) && !work_.ListHost("temp").empty();
  }
  ASSERT_TRUE(keptOnly);
  // Another stick: the drive's folder set aside and an empty one in its
  // place.
  const std::string home = drive_.HostPath("");
  if (home.size() <= 3 && home.find(':') != std::string::npos) {
    GTEST_SKIP() << "the drive " << home << " is a real drive letter: no other stick here";
  }
  const std::string aside = home.substr(0, home.find_last_not_of("/\\") + 1) + "-aside";
  std::filesystem::rename(home, aside);
  std::filesystem::create_directory(home);
  machine_.prompts().ClearMessages();
  while (machine_.prompts().PendingAnswers() < 6) machine_.prompts().QueueAnswer(win::kIdYes);
  faults.ReportFreeBytes("E:", 1 << 20);  // the other stick is empty
  ASSERT_TRUE(rig_->Apply()) << ::testing::PrintToString(machine_.prompts().texts());
  faults.Reset();
  EXPECT_TRUE(Installed(0)) << "the other stick gets the set";
  for (const std::string& text : machine_.prompts().texts()) {
    EXPECT_EQ(text.find("interrupted"), std::string::npos) << text;
  }
  EXPECT_EQ(work_.ListHost("temp").size(), 2u) << "the copy and its note stay";

  std::filesystem::remove_all(home);
  std::filesystem::rename(aside, home);
  machine_.prompts().ClearMessages();
  while (machine_.prompts().PendingAnswers() > 0) machine_.prompts().Show(Message{});
  machine_.prompts().ClearMessages();
  fill();
  rig_->Apply();  // every question answered No: the put-back file is kept
  faults.Reset();
  EXPECT_TRUE(Untouched(0)) << "m1's old file is back, with its bits";
  EXPECT_EQ(work_.ListHost("temp"), std::vector<std::string>{});
}

// Every module of the set is checked before the first write: a damaged one
// leaves the drive as it was, the files before it in the set included.
TEST_F(InstallRun, ADamagedModuleIsNamedAndLeavesNoFile) {
  if (!drive_.usable()) GTEST_SKIP() << "needs a drive letter of its own";
  Arrange();
  // One byte of m2's content, in the plain part of its first chunk.
  std::string damaged = packageBytes_;
  const std::size_t m2Start = packageBytes_.size() - 3 * kRecordSize - 10 - 300000;
  damaged[m2Start + 700] = static_cast<char>(damaged[m2Start + 700] ^ 0x20);
  work_.WriteHostFile("setup.exe", damaged);

  EXPECT_FALSE(rig_->Apply());
  EXPECT_EQ(machine_.prompts().texts(),
            (std::vector<std::string>{
                "The module \"m2.txt\" in this installer is damaged: its content does not match "
                "its check.\r\nObtain a fresh copy of the installer.",
                kCannotContinueText}));
  EXPECT_EQ(machine_.prompts().messages()[0].style, win::kMbIconHand);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Untouched(i)) << kDestinations[i];
}

// Before the run, only what is proven a leftover of an interrupted run goes:
// a file named like a staging file with exactly a staging file's bits.  A
// user's own file of that name stays, whatever its bits, and so does every
// other name of a hard-linked one.
TEST_F(InstallRun, OnlyTheRunsOwnLeftoversAreRemoved) {
  if (!drive_.usable()) GTEST_SKIP() << "needs a drive letter of its own";
  const struct {
    const char* name;
    std::uint32_t bits;
    bool removed;
  } entries[] = {
      {"~BV00000.TMP", win::kAttrHidden | win::kAttrSystem, true},
      {"~BV00001.TMP", 0, false},
      {"~bv00002.tmp", win::kAttrReadOnly, false},
      {"~BV00003.TMP", win::kAttrHidden, false},
      {"~BV00004.TMP", win::kAttrHidden | win::kAttrSystem | win::kAttrReadOnly, false},
      {"~BV00005.TMP", win::kAttrSystem, false},
  };

  EmptyHostFolder(drive_.HostPath(""));
  drive_.MakeHostDirectory("Brelvane");
  drive_.MakeHostDirectory("Brelvane\\Docs");
  for (const auto& e : entries) {
    drive_.WriteHostFile(std::string("Brelvane\\Docs\\") + e.name, e.name);
    SetBits(std::string("Brelvane\\Docs\\") + e.name, e.bits);
  }
#ifndef _WIN32
  // A hard link on the drive to a read-only file of the user's elsewhere.
  work_.WriteHostFile("kept.txt", "the user's file");
  ASSERT_TRUE(machine_.test().files().SetAttributes(work_.WinPath("kept.txt"), win::kAttrReadOnly));
  fs::create_hard_link(work_.HostPath("kept.txt"), drive_.HostPath("Brelvane\\Docs\\~BV00006.TMP"));
#endif
  // A killed run's whole staging file whose bits were half set: its bytes
  // are m2's, so it goes before m2 is written afresh.
  drive_.WriteHostFile("Brelvane\\Docs\\~BV00008.TMP", kSet[1].content);
  // One that another run is writing right now: it holds the file open.
  FileSystem& files = machine_.test().files();
  const std::string writing = drive_.WinPath("Brelvane\\Docs\\~BV00007.TMP");
  ScopedFile held(files, files.CreateExclusive(writing));
  ASSERT_TRUE(held.valid());
  ASSERT_EQ(files.Write(held.get(), "A", 1), 1);
  ASSERT_TRUE(files.SetAttributes(writing, win::kAttrHidden | win::kAttrSystem));
  machine_.prompts().ClearMessages();
  ASSERT_TRUE(rig_->Apply());
  EXPECT_EQ(drive_.ReadHostFile("Brelvane\\Docs\\~BV00007.TMP"), "A") << "another run's";
  for (const auto& e : entries) {
    const std::string path = std::string("Brelvane\\Docs\\") + e.name;
    EXPECT_EQ(drive_.HostExists(path), !e.removed) << e.name;
    if (!e.removed) {
      EXPECT_EQ(drive_.ReadHostFile(path), e.name);
      EXPECT_EQ(machine_.test().files().GetAttributes(drive_.WinPath(path)) &
                    (win::kAttrReadOnly | win::kAttrHidden | win::kAttrSystem),
                e.bits)
          << e.name;
    }
  }
  EXPECT_FALSE(drive_.HostExists("Brelvane\\Docs\\~BV00008.TMP"));
  EXPECT_TRUE(Installed(1));
#ifndef _WIN32
  EXPECT_EQ(work_.ReadHostFile("kept.txt"), "the user's file");
  EXPECT_EQ(machine_.test().files().GetAttributes(work_.WinPath("kept.txt")) & win::kAttrReadOnly,
            win::kAttrReadOnly);
  EXPECT_TRUE(drive_.HostExists("Brelvane\\Docs\\~BV00006.TMP"));
#endif
}

// The host paths below a folder, folders marked with a trailing '/'.
std::set<std::string> TreeBelow(const std::string& folder) {
  std::set<std::string> tree;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    tree.insert(fs::relative(it->path(), folder).generic_string() +
                (it->is_directory() ? "/" : ""));
  }
  return tree;
}

// One flipped bit in any byte of any record: the run installs exactly what
// the sound package installs, or nothing at all and says why; never another
// name, folder, set or attributes reported as success.
TEST_F(InstallRun, AFlippedRecordByteInstallsExactlyOrNothing) {
  if (!drive_.usable()) GTEST_SKIP() << "needs a drive letter of its own";
  const std::set<std::string> exact = {"m1.exe", "m3.dat", "Brelvane/", "Brelvane/Docs/",
                                       "Brelvane/Docs/m2.txt"};
  const std::size_t end = packageBytes_.size();
  const std::size_t records[] = {end - kRecordSize, end - 2 * kRecordSize - 10,
                                 end - 3 * kRecordSize - 10 - 300000};
  int refused = 0;
  for (std::size_t record : records) {
    for (std::size_t i = 0; i < kRecordSize; ++i) {
      std::string damaged = packageBytes_;
      damaged[record + i] = static_cast<char>(damaged[record + i] ^ 0x01);
      work_.WriteHostFile("setup.exe", damaged);
      EmptyHostFolder(drive_.HostPath(""));
      machine_.prompts().ClearMessages();
      const bool completed = rig_->Apply();
      SCOPED_TRACE("record at " + std::to_string(record) + ", byte " + std::to_string(i));
      if (completed) {
        ASSERT_EQ(TreeBelow(drive_.HostPath("")), exact);
        ASSERT_TRUE(Installed(0) && Installed(1) && Installed(2));
        ASSERT_EQ(Bits(0) | Bits(2), 0u);
        ASSERT_EQ(Bits(1), win::kAttrReadOnly);
      } else {
        ++refused;
        ASSERT_TRUE(TreeBelow(drive_.HostPath("")).empty());
        ASSERT_EQ(machine_.prompts().texts().back(), kCannotContinueText);
      }
    }
  }
  // Only a flip in a record check's own tag leaves a record that reads as an
  // older writer's, whole and sound.
  EXPECT_EQ(refused, 3 * (kRecordSize - 8));
}

// ---- Crafted packages ---------------------------------------------------------

struct HostileCase {
  const char* label;
  std::string fileName;
  std::string extractDir;
  const char* reason;  // the end of the refusal's first line
};

void PrintTo(const HostileCase& row, std::ostream* out) { *out << row.label; }

class HostilePackage : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostilePackage, IsRefusedBeforeAnythingIsWritten) {
  const HostileCase& row = GetParam();
  WizardMachine machine("ovin-e");
  TestDrive drive(machine, 'E');
  if (!drive.usable()) GTEST_SKIP() << "needs a drive letter of its own";
  TempDrive work(machine.test(), 'W');
  // A harmless module first in the file: the crafted one, newest, comes first.
  const std::string package = BuildPackage(
      machine.test(), work, "setup.exe",
      {{"fine.txt", "fine", "", win::kAttrNormal, PredefinedSet::Ovin},
       {row.fileName, "payload", row.extractDir, win::kAttrNormal, PredefinedSet::Ovin}});
  WizardRig rig(machine, package);
  rig.Accept();
  machine.prompts().ClearMessages();
  const std::size_t workBefore = EntriesBelow(work.HostPath(""));

  EXPECT_FALSE(rig.Apply());
  const std::vector<std::string> texts = machine.prompts().texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].rfind("The module \"", 0), 0u) << texts[0];
  EXPECT_NE(texts[0].find(std::string(row.reason) + ".\r\nIt is not installed."), std::string::npos)
      << texts[0];
  EXPECT_EQ(machine.prompts().messages()[0].style, win::kMbIconHand);
  EXPECT_EQ(texts[1], kCannotContinueText);
  EXPECT_EQ(EntriesBelow(drive.HostPath("")), 0u) << "nothing on the drive";
  EXPECT_EQ(EntriesBelow(work.HostPath("")), workBefore) << "nothing beside the package";
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostilePackage,
    ::testing::Values(
        HostileCase{"ParentName", "..", "", "the name climbs to the parent folder"},
        HostileCase{"ParentFolder", "evil.exe", "..\\..",
                    "the folder's part \"..\" climbs to the parent folder"},
        HostileCase{"ClimbingName", "..\\evil.exe", "", "the name holds a path separator"},
        HostileCase{"DriveLetterName", "C:evil.exe", "",
                    "the name holds a colon (a drive letter or an alternate data stream)"},
        HostileCase{"StreamName", "m.exe:hidden", "",
                    "the name holds a colon (a drive letter or an alternate data stream)"},
        HostileCase{
            "AbsoluteFolder", "evil.exe", "C:\\Windows",
            "the folder is an absolute path on drive C:, not a folder below the drive root"},
        HostileCase{"NetworkRoot", "evil.exe", "\\\\server\\share",
                    "the folder starts at a network or device root"},
        HostileCase{
            "TrailingDot", "a.", "",
            "the name ends in a dot or a blank, which Windows drops (\"..\" is the parent folder)"},
        // A part ending in a blank is taken as Windows takes it; one made only
        // of dots and blanks would name its parent or itself.
        HostileCase{"FolderPartOfDotsAndBlanks", "a.txt", "docs\\. .",
                    "the folder's part \". .\" ends in a dot or a blank, which Windows drops "
                    "(\"..\" is the parent folder)"},
        HostileCase{"DeviceCon", "CON", "", "the name is a reserved device name"},
        HostileCase{"DeviceWithExtension", "con.txt", "", "the name is a reserved device name"},
        HostileCase{
            "DeviceWithBlank", "NUL ", "",
            "the name ends in a dot or a blank, which Windows drops (\"..\" is the parent folder)"},
        HostileCase{"DevicePort", "COM1", "", "the name is a reserved device name"},
        HostileCase{"DeviceFolder", "x.txt", "lpt1",
                    "the folder's part \"lpt1\" is a reserved device name"},
        HostileCase{"Name259", std::string(259, 'n'), "", "the name is longer than 255 characters"},
        HostileCase{"Name260", std::string(260, 'n'), "", "the name is longer than 255 characters"},
        HostileCase{"PathTooLong", std::string(200, 'n'), std::string(100, 'd'),
                    "the path on the drive would be longer than 259 characters"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace brelvane

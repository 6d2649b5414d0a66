// Package operations under injected file-system failures: nothing is lost,
// no partial file stays, and the cause is left in the last error.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>

#include "package/append_journal.h"
#include "package/content_check.h"
#include "package/package.h"
#include "package/pe_signature.h"
#include "support/fault_sweep.h"
#include "support/temp_drive.h"

namespace brelvane {
namespace {

using testing::FaultPoint;
using testing::FaultSweep;
using testing::FaultyFileSystem;
using testing::TempDrive;
using testing::TestPlatform;
using Op = FaultyFileSystem::Op;

constexpr std::size_t kImage = 4096;
constexpr std::uint32_t kInjected = win::kErrorReadFault;

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return bytes;
}

class PackageFaults : public ::testing::Test {
 protected:
  PackageFaults() {
    drive_.WriteHostFile("setup.exe", std::string(kImage, '\0'));
    // An older module, so a damaged tail would also hide it.
    drive_.WriteHostFile("old.txt", "older module");
    EXPECT_TRUE(AppendFile("old.txt"));
    drive_.WriteHostFile("big.bin", Pattern(2 * kCopyBlockSize + 3000));
    package_ = *drive_.ReadHostFile("setup.exe");
  }

  Platform platform() { return test_.platform(); }
  FaultyFileSystem& faults() { return test_.faults(); }
  PackageRef Package() { return PackageRef{drive_.WinPath("setup.exe"), kRecordSize}; }

  bool AppendFile(const std::string& name) {
    ModuleRecord record;
    if (!BuildModuleRecord(platform(), drive_.WinPath(name), record, "", std::nullopt))
      return false;
    return AppendModule(platform(), drive_.WinPath(name), drive_.WinPath("setup.exe"), record) ==
           AppendResult::Appended;
  }

  // The package as it was before the failed operation, and still readable.
  void ExpectPackageUnchanged() {
    EXPECT_EQ(drive_.ReadHostFile("setup.exe"), package_);
    const WalkResult walk = WalkModules(platform(), Package());
    EXPECT_EQ(walk.end, WalkEnd::Image);
    ASSERT_EQ(walk.modules.size(), 1u);
    EXPECT_EQ(walk.modules[0].record.fileName, "old.txt");
  }

  TestPlatform test_;
  TempDrive drive_{test_};
  std::string package_;
};

// Every single failing call of an append: false with the cause in the last
// error and the package byte for byte as before, or (harmless by design)
// true with the module complete.
TEST_F(PackageFaults, EveryFailingCallOfAnAppendLeavesThePackageAsItWas) {
  ModuleRecord record;
  ASSERT_TRUE(BuildModuleRecord(platform(), drive_.WinPath("big.bin"), record, "", std::nullopt));
  const std::string package = drive_.WinPath("setup.exe");
  std::set<std::string> harmless;
  FaultSweep sweep;
  // A read-only package, so clearing its bit is among the calls.
  sweep.arrange = [&] {
    ASSERT_TRUE(test_.files().SetAttributes(package, win::kAttrNormal));
    drive_.WriteHostFile("setup.exe", package_);
    ASSERT_TRUE(test_.files().SetAttributes(package, win::kAttrReadOnly));
  };
  sweep.run = [&] {
    return AppendModule(platform(), drive_.WinPath("big.bin"), package, record) ==
           AppendResult::Appended;
  };
  sweep.check = [&](const FaultPoint& point, bool appended) {
    const std::uint32_t error = test_.system().LastError();  // before any host call
    if (!appended) {
      EXPECT_EQ(error, kInjected);
      ExpectPackageUnchanged();
      return;
    }
    harmless.insert(testing::Describe(point));
    const WalkResult walk = WalkModules(platform(), Package());
    ASSERT_EQ(walk.modules.size(), 2u);
    EXPECT_EQ(CheckModuleContent(platform(), Package(), walk.modules[0]), ContentState::Sound);
  };
  const auto points = testing::RunFaultSweep(test_.faults(), sweep, kInjected);
  EXPECT_GE(points.size(), 12u);
  // Harmless by design: asking whether a journal is there, before the walk
  // and before the roll-back (a failing probe answers no, and creating the
  // new journal then fails on the one left), releasing the lock (closing the
  // handle releases it too) and closing the files once every byte is
  // written.
  EXPECT_EQ(harmless,
            (std::set<std::string>{"probe #1", "probe #2", "lock #2", "close #2", "close #3"}));
  ASSERT_TRUE(test_.files().SetAttributes(package, win::kAttrNormal));
}

struct DiskCase {
  const char* label;
  std::int64_t roomLeft;  // bytes the disk takes before it is full
};

class AppendOnAFullDisk : public PackageFaults, public ::testing::WithParamInterface<DiskCase> {};

TEST_P(AppendOnAFullDisk, CutsThePackageBack) {
  faults().LimitWrites(GetParam().roomLeft);
  EXPECT_FALSE(AppendFile("big.bin"));
  EXPECT_EQ(test_.system().LastError(), win::kErrorDiskFull);
  faults().Reset();
  ExpectPackageUnchanged();
}

INSTANTIATE_TEST_SUITE_P(
    Room, AppendOnAFullDisk,
    ::testing::Values(DiskCase{"Nothing", 0}, DiskCase{"InsideTheFirstBlock", 100},
                      DiskCase{"AfterTheFirstBlock", static_cast<std::int64_t>(kCopyBlockSize)},
                      DiskCase{"InsideTheRecord", 2 * kCopyBlockSize + 3000 + 10}),
    [](const auto& info) { return std::string(info.param.label); });

struct EarlyFailureCase {
  const char* label;
  Op op;
  const char* path;  // fails every call of `op` on paths holding this
};

class AppendFailsBeforeWriting : public PackageFaults,
                                 public ::testing::WithParamInterface<EarlyFailureCase> {};

TEST_P(AppendFailsBeforeWriting, LeavesThePackageAlone) {
  const EarlyFailureCase& c = GetParam();
  ModuleRecord record;
  ASSERT_TRUE(BuildModuleRecord(platform(), drive_.WinPath("big.bin"), record, "", std::nullopt));
  faults().FailPath(c.op, c.path, win::kErrorAccessDenied);
  EXPECT_EQ(
      AppendModule(platform(), drive_.WinPath("big.bin"), drive_.WinPath("setup.exe"), record),
      AppendResult::Failed);
  EXPECT_EQ(test_.system().LastError(), win::kErrorAccessDenied);
  faults().Reset();
  ExpectPackageUnchanged();
}

INSTANTIATE_TEST_SUITE_P(Points, AppendFailsBeforeWriting,
                         ::testing::Values(EarlyFailureCase{"PackageAttributes", Op::GetAttributes,
                                                            "setup.exe"},
                                           EarlyFailureCase{"SourceOpen", Op::Open, "big.bin"},
                                           EarlyFailureCase{"PackageOpen", Op::Open, "setup.exe"}),
                         [](const auto& info) { return std::string(info.param.label); });

// An append that dies half-way: the disk fills and the package cannot be cut
// back either, as when the process is killed.  Its journal stays; readers
// still reach every earlier module and the next append first cuts the tail
// away.  A journal left beside a package since replaced by another never cuts
// the new one.
struct InterruptedCase {
  const char* label;
  bool packageReplaced;
};

class InterruptedAppend : public PackageFaults,
                          public ::testing::WithParamInterface<InterruptedCase> {};

TEST_P(InterruptedAppend, HidesNoModuleAndIsCutBackByTheNextAppend) {
  const bool replaced = GetParam().packageReplaced;
  faults().LimitWrites(static_cast<std::int64_t>(kCopyBlockSize) + 100);
  faults().FailAll(Op::Truncate, kInjected);
  EXPECT_FALSE(AppendFile("big.bin"));
  faults().Reset();
  ASSERT_TRUE(drive_.HostExists("setup.exe-journal"));
  ASSERT_GT(drive_.ReadHostFile("setup.exe")->size(), package_.size());
  const std::string older = replaced ? "other.txt" : "old.txt";
  if (replaced) {
    // Another build of the installer, longer than the length the journal
    // records, takes the package's place.
    drive_.WriteHostFile("new.exe", std::string(kImage + 2 * kCopyBlockSize, '\x01'));
    drive_.WriteHostFile("other.txt", "a module of the new build");
    ModuleRecord record;
    ASSERT_TRUE(
        BuildModuleRecord(platform(), drive_.WinPath("other.txt"), record, "", std::nullopt));
    ASSERT_EQ(
        AppendModule(platform(), drive_.WinPath("other.txt"), drive_.WinPath("new.exe"), record),
        AppendResult::Appended);
    drive_.WriteHostFile("setup.exe", *drive_.ReadHostFile("new.exe"));
  }
  const WalkResult before = WalkModules(platform(), Package());
  EXPECT_EQ(before.end, WalkEnd::Image);
  ASSERT_EQ(before.modules.size(), 1u);
  EXPECT_EQ(before.modules[0].record.fileName, older);
  EXPECT_EQ(before.interruptedAppend > 0, !replaced);
  EXPECT_GT(FindModule(platform(), Package(), older, nullptr, false, nullptr, 0), 0);

  ASSERT_TRUE(AppendFile("big.bin"));
  EXPECT_FALSE(drive_.HostExists("setup.exe-journal"));
  const WalkResult after = WalkModules(platform(), Package());
  EXPECT_EQ(after.end, WalkEnd::Image);
  EXPECT_EQ(after.interruptedAppend, 0);
  ASSERT_EQ(after.modules.size(), 2u);
  EXPECT_EQ(after.modules[0].record.fileName, "big.bin");
  EXPECT_EQ(after.modules[1].record.fileName, older);
  for (const WalkedModule& module : after.modules) {
    EXPECT_EQ(CheckModuleContent(platform(), Package(), module), ContentState::Sound);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, InterruptedAppend,
                         ::testing::Values(InterruptedCase{"ThenResumed", false},
                                           InterruptedCase{"ThenPackageReplaced", true}),
                         [](const auto& info) { return std::string(info.param.label); });

// A journal that does not mark an interrupted append: planted (its check is
// the CRC-32 of bytes anyone can read) or left by a killed add beside a
// package since replaced by a copy with one more whole module.  It hides
// no module, and the next append removes it and cuts nothing.
struct StaleCase {
  const char* label;
  std::int64_t formerLength;  // -1: left by a killed add, then the longer copy
};

class StaleJournal : public PackageFaults, public ::testing::WithParamInterface<StaleCase> {
 protected:
  // A journal for `formerLength`, written as a writer writes one.
  void PlantJournal(std::int64_t formerLength) {
    FileSystem& files = test_.files();
    ScopedFile package(files, files.OpenRead(drive_.WinPath("setup.exe")));
    ASSERT_TRUE(BeginJournal(platform(), drive_.WinPath("setup.exe"), package.get(), formerLength));
  }
};

TEST_P(StaleJournal, HidesNoModuleAndIsRemovedByTheNextAppend) {
  std::vector<std::string> names = {"old.txt"};
  if (GetParam().formerLength >= 0) {
    PlantJournal(GetParam().formerLength);
  } else {
    faults().LimitWrites(static_cast<std::int64_t>(kCopyBlockSize) + 100);
    faults().FailAll(Op::Truncate, kInjected);
    EXPECT_FALSE(AppendFile("big.bin"));
    faults().Reset();
    drive_.WriteHostFile("copy.exe", package_);
    drive_.WriteHostFile("new.txt", "one more module");
    ModuleRecord record;
    ASSERT_TRUE(BuildModuleRecord(platform(), drive_.WinPath("new.txt"), record, "", std::nullopt));
    ASSERT_EQ(
        AppendModule(platform(), drive_.WinPath("new.txt"), drive_.WinPath("copy.exe"), record),
        AppendResult::Appended);
    drive_.WriteHostFile("setup.exe", *drive_.ReadHostFile("copy.exe"));
    names.insert(names.begin(), "new.txt");
  }
  ASSERT_TRUE(drive_.HostExists("setup.exe-journal"));
  const WalkResult before = WalkModules(platform(), Package());
  EXPECT_EQ(before.journal, JournalState::Stale);
  EXPECT_EQ(before.interruptedAppend, 0);
  ASSERT_EQ(before.modules.size(), names.size());
  EXPECT_EQ(before.modules[0].record.fileName, names[0]);
  EXPECT_GT(FindModule(platform(), Package(), names[0], nullptr, false, nullptr, 0), 0);

  const std::size_t length = drive_.ReadHostFile("setup.exe")->size();
  ASSERT_TRUE(AppendFile("old.txt"));
  EXPECT_FALSE(drive_.HostExists("setup.exe-journal"));
  EXPECT_EQ(drive_.ReadHostFile("setup.exe")->size(), length + 12 + kRecordSize);
  EXPECT_EQ(WalkModules(platform(), Package()).modules.size(), names.size() + 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, StaleJournal,
                         ::testing::Values(StaleCase{"PlantedAtTheStart", 0},
                                           StaleCase{"PlantedAtTheImageEnd", kImage},
                                           StaleCase{"PlantedInsideTheLastModule", kImage + 5},
                                           StaleCase{"KilledAddThenALongerCopy", -1}),
                         [](const auto& info) { return std::string(info.param.label); });

// Only a journal is ever removed.  Another file at its name stops every
// writer before anything is written, and is named as the journal; so does
// a journal that cannot be read or created.  What a writer killed while
// creating its journal leaves (part of it) is a journal, and goes.
TEST_F(PackageFaults, OnlyAJournalIsRemovedAndAFailingOneIsNamed) {
  struct Case {
    const char* label;
    std::function<void()> arrange;
    AppendResult result;  // Appended: the name is free again
    std::uint32_t error;  // the system's code of a Failed append
  };
  const std::string journal = "setup.exe-journal";
  const Case cases[] = {
      {"a text file", [&] { drive_.WriteHostFile(journal, "my notes"); }, AppendResult::NotAJournal,
       0},
      {"longer than a journal, beginning with its tag",
       [&] { drive_.WriteHostFile(journal, "BRVJRNL1" + std::string(30, 'x')); },
       AppendResult::NotAJournal, 0},
      {"a FIFO (it cannot be opened as a file)",
       [&] {
         drive_.WriteHostFile(journal, "");
         faults().FailPath(Op::Open, journal, win::kErrorBadFileType);
       },
       AppendResult::Failed, win::kErrorBadFileType},
      {"a folder that takes no new file",
       [&] { faults().FailPath(Op::Open, journal, win::kErrorAccessDenied); }, AppendResult::Failed,
       win::kErrorAccessDenied},
      {"empty: killed while creating it", [&] { drive_.WriteHostFile(journal, ""); },
       AppendResult::Appended, 0},
      {"torn after its tag", [&] { drive_.WriteHostFile(journal, "BRVJRNL1\0\0"); },
       AppendResult::Appended, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    c.arrange();
    const bool file = std::filesystem::is_regular_file(drive_.HostPath(journal));
    const std::string left = file ? *drive_.ReadHostFile(journal) : "";
    ModuleRecord record;
    ASSERT_TRUE(BuildModuleRecord(platform(), drive_.WinPath("old.txt"), record, "", std::nullopt));
    FailedFile failed = FailedFile::Package;
    EXPECT_EQ(AppendModule(platform(), drive_.WinPath("old.txt"), drive_.WinPath("setup.exe"),
                           record, {}, &failed),
              c.result);
    if (c.result == AppendResult::Appended) {
      EXPECT_FALSE(drive_.HostExists(journal));
      drive_.WriteHostFile("setup.exe", package_);
      continue;
    }
    if (c.result == AppendResult::Failed) { EXPECT_EQ(test_.system().LastError(), c.error); }
    EXPECT_EQ(failed, FailedFile::Journal);
    ExpectPackageUnchanged();
    // Unsign, on an unsigned package, leaves it alone too.
    const UnsignResult unsign = c.result == AppendResult::NotAJournal ? UnsignResult::NotAJournal
                                : drive_.HostExists(journal)          ? UnsignResult::Failed
                                                                      : UnsignResult::NotSigned;
    EXPECT_EQ(UnsignPackage(platform(), drive_.WinPath("setup.exe"), nullptr, &failed), unsign);
    if (file) { EXPECT_EQ(drive_.ReadHostFile(journal), left); }
    faults().Reset();
    std::filesystem::remove(drive_.HostPath(journal));
  }
}

TEST_F(PackageFaults, AReadOnlyBitThatCannotBeClearedStopsTheAppend) {
  ASSERT_TRUE(test_.files().SetAttributes(drive_.WinPath("setup.exe"), win::kAttrReadOnly));
  faults().FailAll(Op::SetAttributes, win::kErrorAccessDenied);
  EXPECT_FALSE(AppendFile("big.bin"));
  faults().Reset();
  ASSERT_TRUE(test_.files().SetAttributes(drive_.WinPath("setup.exe"), win::kAttrNormal));
  ExpectPackageUnchanged();
}

// ---- Extraction ---------------------------------------------------------------

class ExtractFaults : public PackageFaults {
 protected:
  ExtractFaults() {
    EXPECT_TRUE(AppendFile("big.bin"));
    offset_ = static_cast<std::int32_t>(package_.size());
  }
  bool Extract() {
    return ExtractModule(platform(), Package(), drive_.WinPath("out.bin"), offset_,
                         static_cast<std::uint32_t>(2 * kCopyBlockSize + 3000), 0x80);
  }
  std::int32_t offset_ = 0;
};

// Every single failing call of an extraction: nothing under the final name
// and no staging file left, ever.  Harmless: closing the package's read
// handle, its lock, asking for the free space and hiding the staging file.
TEST_F(ExtractFaults, EveryFailingCallLeavesNoPartialFile) {
  const std::string expected = Pattern(2 * kCopyBlockSize + 3000);
  std::set<std::string> harmless;
  FaultSweep sweep;
  sweep.arrange = [&] {
    if (drive_.HostExists("out.bin")) {
      ASSERT_TRUE(test_.files().SetAttributes(drive_.WinPath("out.bin"), win::kAttrNormal));
      ASSERT_TRUE(test_.files().DeleteFile(drive_.WinPath("out.bin")));
    }
    test_.prompts().ClearMessages();
  };
  sweep.run = [&] {
    return ExtractModule(platform(), Package(), drive_.WinPath("out.bin"), offset_,
                         static_cast<std::uint32_t>(expected.size()), win::kAttrReadOnly);
  };
  sweep.check = [&](const FaultPoint& point, bool extracted) {
    const std::uint32_t error = test_.system().LastError();  // before any host call
    EXPECT_TRUE(test_.prompts().messages().empty());
    EXPECT_TRUE(test_.prompts().WaitBalanced());
    const auto written = drive_.ReadHostFile("out.bin");
    EXPECT_EQ(testing::StagingFilesIn(drive_.HostPath("")), 0);
    if (!extracted) {
      EXPECT_EQ(error, kInjected);
      EXPECT_FALSE(written) << testing::Describe(point);
      return;
    }
    harmless.insert(testing::Describe(point));
    ASSERT_TRUE(written);
    EXPECT_NE(test_.files().GetAttributes(drive_.WinPath("out.bin")) & win::kAttrReadOnly, 0u);
  };
  const auto points = testing::RunFaultSweep(test_.faults(), sweep, kInjected);
  // Two opens (the staging file is created with its bits in one call), the
  // shared lock and its release, the free space, a seek, three block reads
  // and the record's, three writes, the flush, two closes, the final bits
  // and the rename.  The reader's lock only makes it wait for a writer:
  // without it the file is read all the same.
  EXPECT_EQ(points.size(), 18u);
  EXPECT_EQ(harmless, (std::set<std::string>{"close #1", "free-space #1", "lock #1", "lock #2"}));
  sweep.arrange();
}

TEST_F(ExtractFaults, AFullDiskLeavesNoFile) {
  faults().LimitWrites(1000);
  EXPECT_FALSE(Extract());
  EXPECT_EQ(test_.system().LastError(), win::kErrorDiskFull);
  EXPECT_FALSE(drive_.HostExists("out.bin"));
}

// The old file stays, content and read-only bit, until the new one is
// complete, flushed and renamed over it; any failure before keeps it.
TEST_F(ExtractFaults, AFailedReplaceKeepsTheOldFile) {
  drive_.WriteHostFile("out.bin", "old");
  ASSERT_TRUE(test_.files().SetAttributes(drive_.WinPath("out.bin"), win::kAttrReadOnly));
  ExtractOptions replace;
  replace.replaceExisting = true;
  for (const Op op : {Op::Write, Op::Flush, Op::SetAttributes, Op::Replace}) {
    faults().Reset();
    faults().FailAll(op, win::kErrorWriteProtect);
    EXPECT_FALSE(ExtractModule(platform(), Package(), drive_.WinPath("out.bin"), offset_,
                               2 * kCopyBlockSize + 3000, win::kAttrNormal, replace));
    EXPECT_EQ(drive_.ReadHostFile("out.bin"), "old");
    EXPECT_NE(test_.files().GetAttributes(drive_.WinPath("out.bin")) & win::kAttrReadOnly, 0u);
    EXPECT_EQ(testing::StagingFilesIn(drive_.HostPath("")), 0);
  }
  faults().Reset();
  EXPECT_TRUE(ExtractModule(platform(), Package(), drive_.WinPath("out.bin"), offset_,
                            2 * kCopyBlockSize + 3000, win::kAttrNormal, replace));
  EXPECT_EQ(drive_.ReadHostFile("out.bin"), Pattern(2 * kCopyBlockSize + 3000));
  EXPECT_EQ(test_.files().GetAttributes(drive_.WinPath("out.bin")) & win::kAttrReadOnly, 0u);
}

// ---- How FindModule learns the package's length ------------------------------

TEST_F(PackageFaults, TheNtFamilyTakesTheLengthFromTheOpenFile) {
  faults().FailAll(Op::Length, kInjected);
  EXPECT_EQ(FindModule(platform(), Package(), "old.txt", nullptr, false, nullptr, 0), -1);
}

TEST_F(PackageFaults, TheNinexFamilyCountsTheLengthInKilobyteReads) {
  test_.system().SetPlatformId(win::kVerPlatformWin32Windows);
  faults().FailAll(Op::Length, kInjected);  // never asked
  const std::int32_t found =
      FindModule(platform(), Package(), "old.txt", nullptr, false, nullptr, 0);
  EXPECT_EQ(found, static_cast<std::int32_t>(kImage));
  // Reading through: one read per 1024 bytes plus the one that meets the end.
  EXPECT_GE(faults().Count(Op::Read), static_cast<int>(package_.size() / 1024 + 1));
  EXPECT_FALSE(faults().Triggered());
}

TEST_F(PackageFaults, TheNinexFamilyGivesMinusOneWhenItCannotSeekBack) {
  test_.system().SetPlatformId(win::kVerPlatformWin32Windows);
  faults().Reset();
  faults().FailNth(Op::Seek, 1, kInjected);
  EXPECT_EQ(FindModule(platform(), Package(), "old.txt", nullptr, false, nullptr, 0), -1);
}

}  // namespace
}  // namespace brelvane

namespace brelvane {
namespace {

// Passes every call through and remembers the largest read asked for.
class ReadSizeSpy : public FileSystem {
 public:
  explicit ReadSizeSpy(FileSystem& inner) : inner_(inner) {}
  std::size_t largest = 0;

  FileHandle OpenRead(const std::string& p) override { return inner_.OpenRead(p); }
  FileHandle OpenReadExclusive(const std::string& p) override {
    return inner_.OpenReadExclusive(p);
  }
  FileHandle CreateExclusive(const std::string& p) override { return inner_.CreateExclusive(p); }
  FileHandle OpenAppend(const std::string& p) override { return inner_.OpenAppend(p); }
  FileHandle OpenUpdate(const std::string& p) override { return inner_.OpenUpdate(p); }
  std::int64_t Read(FileHandle f, void* b, std::size_t n) override {
    largest = std::max(largest, n);
    return inner_.Read(f, b, n);
  }
  std::int64_t Write(FileHandle f, const void* b, std::size_t n) override {
    return inner_.Write(f, b, n);
  }
  std::int64_t Seek(FileHandle f, std::int64_t o, SeekFrom w) override {
    return inner_.Seek(f, o, w);
  }
  std::int64_t Length(FileHandle f) override { return inner_.Length(f); }
  bool Truncate(FileHandle f, std::int64_t n) override { return inner_.Truncate(f, n); }
  bool Lock(FileHandle f, LockMode m) override { return inner_.Lock(f, m); }
  bool Unlock(FileHandle f) override { return inner_.Unlock(f); }
  bool Flush(FileHandle f) override { return inner_.Flush(f); }
  bool Close(FileHandle f) override { return inner_.Close(f); }
  std::uint32_t GetAttributes(const std::string& p) override { return inner_.GetAttributes(p); }
  bool SetAttributes(const std::string& p, std::uint32_t a) override {
    return inner_.SetAttributes(p, a);
  }
  bool DeleteFile(const std::string& p) override { return inner_.DeleteFile(p); }
  bool CreateDirectory(const std::string& p) override { return inner_.CreateDirectory(p); }
  bool RemoveDirectory(const std::string& p) override { return inner_.RemoveDirectory(p); }
  std::optional<std::vector<DirEntry>> FindFiles(const std::string& p) override {
    return inner_.FindFiles(p);
  }
  bool Exists(const std::string& p) override { return inner_.Exists(p); }
  bool IsDirectory(const std::string& p) override { return inner_.IsDirectory(p); }
  std::optional<FileId> Identify(const std::string& p) override { return inner_.Identify(p); }
  bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace) override {
    return inner_.MoveIntoPlace(from, to, replace);
  }
  std::optional<std::uint64_t> FreeBytes(const std::string& f) override {
    return inner_.FreeBytes(f);
  }
  std::optional<VolumeFacts> DescribeVolume(const std::string& f) override {
    return inner_.DescribeVolume(f);
  }

 private:
  FileSystem& inner_;
};

// A record that claims to be 1 GiB long: the readers step back over it but
// read only its fixed fields.
TEST(CraftedRecordSize, IsSteppedOverWithoutReadingItWhole) {
  TestPlatform test;
  TempDrive drive(test);
  constexpr std::uint32_t kClaimed = 1u << 30;
  std::string head(4096, '\0');
  // The fixed fields at the start of the claimed record (content size 0).
  const std::string marker = "QRVX_OEM_INSTALLER";
  head.replace(1000 + 4, marker.size(), marker);
  head.replace(1000 + 132, 8, std::string("huge.txt"));
  drive.WriteHostFile("sparse.exe", head);
  std::filesystem::resize_file(drive.HostPath("sparse.exe"), 1000 + kClaimed);
  {
    std::fstream tail(drive.HostPath("sparse.exe"),
                      std::ios::in | std::ios::out | std::ios::binary);
    tail.seekp(1000 + kClaimed - 4);
    const char size[4] = {0x40, 0, 0, 0};
    tail.write(size, 4);
  }
  ReadSizeSpy spy(test.files());
  const Platform platform{spy, test.system(), test.registry(), test.prompts()};
  const PackageRef package{drive.WinPath("sparse.exe"), kRecordSize};
  ModuleRecord record;
  EXPECT_EQ(FindModule(platform, package, "huge", nullptr, false, &record, 0), 1000);
  EXPECT_EQ(record.fileName, "huge.txt");
  const WalkResult walk = WalkModules(platform, package);
  ASSERT_EQ(walk.modules.size(), 1u);
  EXPECT_EQ(walk.modules[0].contentOffset, 1000);
  // The fixed fields of a record, or the PE headers that tell whether the
  // package is signed: never the 1 GiB the record claims.
  EXPECT_LE(spy.largest, std::max<std::size_t>(kRecordSize, kPeHeaderWindow));
}

}  // namespace
}  // namespace brelvane

#ifndef _WIN32
#include <sys/mount.h>
#include <unistd.h>

namespace brelvane {
namespace {

// A real, small file system that fills up: a tmpfs of `kib` KiB mounted on a
// fresh folder.  Mounting needs root; usable() says whether it worked.
class TinyDisk {
 public:
  explicit TinyDisk(int kib) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "brelvane-tiny-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    const std::string options = "size=" + std::to_string(kib) + "k";
    mounted_ =
        ::geteuid() == 0 && ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  TinyDisk(const TinyDisk&) = delete;
  TinyDisk& operator=(const TinyDisk&) = delete;
  ~TinyDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    if (!folder_.empty()) ::rmdir(folder_.c_str());
  }
  bool usable() const { return mounted_; }
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

class FullDisk : public ::testing::Test {
 protected:
  FullDisk() {
    if (disk_.usable()) test_.host().files().drives().Map('F', disk_.folder());
  }
  ~FullDisk() override {
    if (disk_.usable()) test_.host().files().drives().Unmap('F');
  }
  std::string OnDisk(const std::string& name) const { return disk_.folder() + "/" + name; }
  static std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Append(const std::string& source, const std::string& package) {
    ModuleRecord record;
    return BuildModuleRecord(test_.platform(), source, record, "", std::nullopt) &&
           AppendModule(test_.platform(), source, package, record) == AppendResult::Appended;
  }

  TinyDisk disk_{64};
  TestPlatform test_;
  TempDrive work_{test_};
};

TEST_F(FullDisk, AnAppendThatRunsOutOfSpaceLeavesThePackageAsItWas) {
  if (!disk_.usable()) GTEST_SKIP() << "mounting a tmpfs needs root";
  {
    std::ofstream image(OnDisk("setup.exe"), std::ios::binary);
    image << std::string(kImage, '\0');
  }
  work_.WriteHostFile("small.txt", "fits");
  ASSERT_TRUE(Append(work_.WinPath("small.txt"), "F:\\setup.exe"));
  const std::string before = ReadWhole(OnDisk("setup.exe"));
  work_.WriteHostFile("large.bin", Pattern(200 * 1024));

  EXPECT_FALSE(Append(work_.WinPath("large.bin"), "F:\\setup.exe"));
  EXPECT_EQ(test_.system().LastError(), win::kErrorDiskFull);
  EXPECT_EQ(ReadWhole(OnDisk("setup.exe")), before);
  const WalkResult walk = WalkModules(test_.platform(), PackageRef{"F:\\setup.exe", kRecordSize});
  ASSERT_EQ(walk.modules.size(), 1u);
  EXPECT_EQ(CheckModuleContent(test_.platform(), PackageRef{"F:\\setup.exe", kRecordSize},
                               walk.modules[0]),
            ContentState::Sound);
}

TEST_F(FullDisk, AnExtractionThatRunsOutOfSpaceLeavesNoFile) {
  if (!disk_.usable()) GTEST_SKIP() << "mounting a tmpfs needs root";
  work_.WriteHostFile("setup.exe", std::string(kImage, '\0'));
  work_.WriteHostFile("large.bin", Pattern(200 * 1024));
  ASSERT_TRUE(Append(work_.WinPath("large.bin"), work_.WinPath("setup.exe")));

  EXPECT_FALSE(ExtractModule(test_.platform(), PackageRef{work_.WinPath("setup.exe"), kRecordSize},
                             "F:\\large.bin", static_cast<std::int32_t>(kImage), 200 * 1024,
                             win::kAttrNormal));
  EXPECT_EQ(test_.system().LastError(), win::kErrorDiskFull);
  EXPECT_FALSE(std::filesystem::exists(OnDisk("large.bin")));
  EXPECT_TRUE(std::filesystem::is_empty(disk_.folder()));
  EXPECT_TRUE(test_.prompts().messages().empty());
}

}  // namespace
}  // namespace brelvane
#endif

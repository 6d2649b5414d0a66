// Package operations under injected file-system failures: nothing is lost,
// no partial file stays, and the cause is left in the last error.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "package/package.h"
#include "support/temp_drive.h"

namespace brelvane {
namespace {

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
    if (!BuildModuleRecord(platform(), drive_.WinPath(name), record, "", false, 0)) return false;
    return AppendModule(platform(), drive_.WinPath(name), drive_.WinPath("setup.exe"), record);
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

// Fails each write of an append in turn (the content blocks, then the record).
TEST_F(PackageFaults, EveryFailedWriteOfAnAppendLeavesThePackageByteIdentical) {
  int visited = 0;
  for (int nth = 1;; ++nth) {
    faults().Reset();
    faults().FailNth(Op::Write, nth, kInjected);
    const bool appended = AppendFile("big.bin");
    if (!faults().Triggered()) {
      EXPECT_TRUE(appended);
      break;
    }
    ++visited;
    EXPECT_FALSE(appended) << "write " << nth;
    EXPECT_EQ(test_.system().LastError(), kInjected) << "write " << nth;
    ExpectPackageUnchanged();
  }
  EXPECT_EQ(visited, 4) << "three content blocks and the record";
}

TEST_F(PackageFaults, EveryFailedReadOfAnAppendLeavesThePackageByteIdentical) {
  int visited = 0;
  for (int nth = 1;; ++nth) {
    faults().Reset();
    faults().FailNth(Op::Read, nth, kInjected);
    const bool appended = AppendFile("big.bin");
    if (!faults().Triggered()) {
      EXPECT_TRUE(appended);
      break;
    }
    ++visited;
    EXPECT_FALSE(appended) << "read " << nth;
    ExpectPackageUnchanged();
  }
  EXPECT_GE(visited, 3);
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
  ASSERT_TRUE(BuildModuleRecord(platform(), drive_.WinPath("big.bin"), record, "", false, 0));
  faults().FailPath(c.op, c.path, win::kErrorAccessDenied);
  EXPECT_FALSE(AppendModule(platform(), drive_.WinPath("big.bin"), drive_.WinPath("setup.exe"), record));
  EXPECT_EQ(test_.system().LastError(), win::kErrorAccessDenied);
  faults().Reset();
  ExpectPackageUnchanged();
}

INSTANTIATE_TEST_SUITE_P(
    Points, AppendFailsBeforeWriting,
    ::testing::Values(EarlyFailureCase{"PackageAttributes", Op::GetAttributes, "setup.exe"},
                      EarlyFailureCase{"SourceOpen", Op::Open, "big.bin"},
                      EarlyFailureCase{"PackageOpen", Op::Open, "setup.exe"}),
    [](const auto& info) { return std::string(info.param.label); });

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

TEST_F(ExtractFaults, EveryFailedReadOrWriteLeavesNoFile) {
  for (const Op op : {Op::Read, Op::Write}) {
    int visited = 0;
    for (int nth = 1;; ++nth) {
      faults().Reset();
      faults().FailNth(op, nth, kInjected);
      const bool extracted = Extract();
      if (!faults().Triggered()) {
        EXPECT_TRUE(extracted);
        break;
      }
      ++visited;
      EXPECT_FALSE(extracted);
      EXPECT_EQ(test_.system().LastError(), kInjected);
      EXPECT_FALSE(drive_.HostExists("out.bin")) << "call " << nth;
    }
    // One call per block, and for reads the record behind the content.
    EXPECT_EQ(visited, op == Op::Read ? 4 : 3);
    ASSERT_TRUE(test_.files().DeleteFile(drive_.WinPath("out.bin")));
  }
  EXPECT_TRUE(test_.prompts().messages().empty());
  EXPECT_TRUE(test_.prompts().WaitBalanced());
}

TEST_F(ExtractFaults, AFullDiskLeavesNoFile) {
  faults().LimitWrites(1000);
  EXPECT_FALSE(Extract());
  EXPECT_EQ(test_.system().LastError(), win::kErrorDiskFull);
  EXPECT_FALSE(drive_.HostExists("out.bin"));
}

TEST_F(ExtractFaults, AFailedSeekLeavesNoFile) {
  faults().FailAll(Op::Seek, kInjected);
  EXPECT_FALSE(Extract());
  EXPECT_FALSE(drive_.HostExists("out.bin"));
}

TEST_F(ExtractFaults, AttributesThatCannotBeSetFailButKeepTheWrittenFile) {
  faults().FailAll(Op::SetAttributes, win::kErrorAccessDenied);
  EXPECT_FALSE(ExtractModule(platform(), Package(), drive_.WinPath("out.bin"), offset_,
                             2 * kCopyBlockSize + 3000, win::kAttrReadOnly));
  EXPECT_EQ(drive_.ReadHostFile("out.bin"), Pattern(2 * kCopyBlockSize + 3000));
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
  FileHandle OpenReadExclusive(const std::string& p) override { return inner_.OpenReadExclusive(p); }
  FileHandle CreateExclusive(const std::string& p) override { return inner_.CreateExclusive(p); }
  FileHandle OpenAppend(const std::string& p) override { return inner_.OpenAppend(p); }
  std::int64_t Read(FileHandle f, void* b, std::size_t n) override {
    largest = std::max(largest, n);
    return inner_.Read(f, b, n);
  }
  std::int64_t Write(FileHandle f, const void* b, std::size_t n) override { return inner_.Write(f, b, n); }
  std::int64_t Seek(FileHandle f, std::int64_t o, SeekFrom w) override { return inner_.Seek(f, o, w); }
  std::int64_t Length(FileHandle f) override { return inner_.Length(f); }
  bool Truncate(FileHandle f, std::int64_t n) override { return inner_.Truncate(f, n); }
  bool Lock(FileHandle f) override { return inner_.Lock(f); }
  bool Unlock(FileHandle f) override { return inner_.Unlock(f); }
  bool Close(FileHandle f) override { return inner_.Close(f); }
  std::uint32_t GetAttributes(const std::string& p) override { return inner_.GetAttributes(p); }
  bool SetAttributes(const std::string& p, std::uint32_t a) override { return inner_.SetAttributes(p, a); }
  bool DeleteFile(const std::string& p) override { return inner_.DeleteFile(p); }
  bool CreateDirectory(const std::string& p) override { return inner_.CreateDirectory(p); }
  bool RemoveDirectory(const std::string& p) override { return inner_.RemoveDirectory(p); }
  std::optional<std::vector<DirEntry>> FindFiles(const std::string& p) override { return inner_.FindFiles(p); }
  bool Exists(const std::string& p) override { return inner_.Exists(p); }
  bool IsDirectory(const std::string& p) override { return inner_.IsDirectory(p); }

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
    std::fstream tail(drive.HostPath("sparse.exe"), std::ios::in | std::ios::out | std::ios::binary);
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
  EXPECT_LE(spy.largest, static_cast<std::size_t>(kRecordSize));
}

}  // namespace
}  // namespace brelvane

// Signed packages: the certificate table a signer appends, found from
// crafted PE headers, and what readers, writers and unsign do with it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "package/package.h"
#include "package/pe_signature.h"
#include "support/signed_image.h"
#include "support/temp_drive.h"

namespace brelvane {
namespace {

using testing::TempDrive;
using testing::TestPlatform;
using namespace testing::pe;

std::optional<CertificateTable> Parse(const std::string& bytes, std::int64_t length = -1) {
  return ParseCertificateTable(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                               length < 0 ? static_cast<std::int64_t>(bytes.size()) : length);
}

TEST(CertificateTableParse, FindsATableThatEndsTheFile) {
  const std::string bytes = Signed("abc");
  const auto table = Parse(bytes);
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(table->offset, 0x408);
  EXPECT_EQ(table->size, 0x48);
  EXPECT_EQ(table->entryOffset, static_cast<std::int64_t>(kSecurityEntry));
  EXPECT_EQ(table->checksumOffset, static_cast<std::int64_t>(kChecksum));

  std::string pe32 = bytes;  // the 32-bit layout: directories 16 bytes earlier
  Put16(pe32, kOptional, 0x10B);
  Put32(pe32, kOptional + 92, 16);
  pe32.replace(kSecurityEntry - 16, 8, bytes.substr(kSecurityEntry, 8));
  ASSERT_TRUE(Parse(pe32).has_value());
  EXPECT_EQ(Parse(pe32)->entryOffset, static_cast<std::int64_t>(kSecurityEntry - 16));
}

// Each crafted header reads as "not signed": the file is walked as it is.
TEST(CertificateTableParse, CraftedHeadersAreNotSigned) {
  struct Case {
    const char* what;
    void (*craft)(std::string&);
    std::int64_t length;  // -1: the bytes' own length
  };
  const Case cases[] = {
      {"no table", [](std::string& b) { Put32(b, kSecurityEntry + 4, 0); }, -1},
      {"ends before the end of the file", [](std::string& b) { b += "x"; }, -1},
      {"reaches beyond the end of the file", [](std::string&) {}, 0x408 + 0x40},
      {"begins inside the last section",
       [](std::string& b) {
         Put32(b, kSecurityEntry, 0x3F8);
         Put32(b, kSecurityEntry + 4, 0x58);
       },
       -1},
      {"begins inside the headers",
       [](std::string& b) {
         Put32(b, kSection + 16, 0);
         Put32(b, kOptional + 60, 0x410);
       },
       -1},
      {"begins inside the section table",
       [](std::string& b) {
         Put32(b, kSection + 16, 0);
         Put32(b, kOptional + 60, 0);
         Put32(b, kSecurityEntry, 0x100);
         Put32(b, kSecurityEntry + 4, static_cast<std::uint32_t>(b.size() - 0x100));
       },
       -1},
      {"offset and size overflow 32 bits",
       [](std::string& b) {
         Put32(b, kSecurityEntry, 0xFFFFFF00u);
         Put32(b, kSecurityEntry + 4, static_cast<std::uint32_t>(b.size() + 0x100));
       },
       -1},
      {"four directories only", [](std::string& b) { Put32(b, kOptional + 108, 4); }, -1},
      {"optional header too short for the entry",
       [](std::string& b) { Put16(b, kHeader + 20, 144); }, -1},
      {"section table beyond the headers read",
       [](std::string& b) { Put16(b, kHeader + 6, 0xFFFF); }, -1},
      {"header offset beyond the file", [](std::string& b) { Put32(b, 0x3C, 0x7FFFFFF0); }, -1},
      {"no PE signature", [](std::string& b) { b[kHeader] = 'N'; }, -1},
      {"unknown optional header", [](std::string& b) { Put16(b, kOptional, 0x107); }, -1},
  };
  for (const Case& c : cases) {
    std::string bytes = Signed("abc");
    c.craft(bytes);
    EXPECT_FALSE(Parse(bytes, c.length).has_value()) << c.what;
  }
}

TEST(PeChecksumValue, MatchesTheStandardSum) {
  // Words 0x0201 + 0x0403 + the odd byte 0x05, plus the length 5.
  const std::uint8_t bytes[] = {1, 2, 3, 4, 5};
  PeChecksum sum;
  sum.Update(bytes, sizeof bytes);
  EXPECT_EQ(sum.Value(), 0x0201u + 0x0403u + 0x05u + 5u);
  // Carries fold back into the low 16 bits.
  const std::uint8_t high[] = {0xFF, 0xFF, 0x02, 0x00};
  PeChecksum folded;
  folded.Update(high, sizeof high);
  EXPECT_EQ(folded.Value(), 0x0002u + 4u);
}

class SignedPackage : public ::testing::Test {
 protected:
  Platform platform() { return test_.platform(); }
  std::string Win(const std::string& name) { return drive_.WinPath(name); }

  // The image with one module "m.txt" appended by the product, then signed.
  std::string MakeSigned(const std::string& name) {
    drive_.WriteHostFile(name, Image());
    drive_.WriteHostFile("m.txt", "module text");
    ModuleRecord record;
    EXPECT_TRUE(BuildModuleRecord(platform(), Win("m.txt"), record, "", std::nullopt));
    EXPECT_TRUE(AppendModule(platform(), Win("m.txt"), Win(name), record));
    unsigned_ = drive_.ReadHostFile(name).value();
    const std::string bytes = Signed(unsigned_.substr(kImageSize));
    drive_.WriteHostFile(name, bytes);
    return bytes;
  }

  TestPlatform test_;
  TempDrive drive_{test_};
  std::string unsigned_;
};

TEST_F(SignedPackage, IsReadFromBeforeItsTable) {
  MakeSigned("s.exe");
  const WalkResult walk = WalkModules(platform(), PackageRef{Win("s.exe")});
  EXPECT_EQ(walk.end, WalkEnd::Image);
  ASSERT_EQ(walk.modules.size(), 1u);
  EXPECT_EQ(walk.modules[0].record.fileName, "m.txt");
  EXPECT_EQ(walk.certificateTable, 0x48);
  EXPECT_EQ(walk.interruptedAppend, 0);
  EXPECT_EQ(FindModule(platform(), PackageRef{Win("s.exe")}, "m.txt", nullptr, false, nullptr, 0),
            static_cast<std::int32_t>(kImageSize));
  EXPECT_EQ(CheckModuleContent(platform(), PackageRef{Win("s.exe")}, walk.modules[0]),
            ContentState::Sound);
}

TEST_F(SignedPackage, RefusesAnAppendAndStaysUnchanged) {
  const std::string bytes = MakeSigned("s.exe");
  ModuleRecord record;
  ASSERT_TRUE(BuildModuleRecord(platform(), Win("m.txt"), record, "", std::nullopt));
  EXPECT_FALSE(AppendModule(platform(), Win("m.txt"), Win("s.exe"), record));
  EXPECT_EQ(test_.system().LastError(), kErrorPackageSigned);
  EXPECT_EQ(drive_.ReadHostFile("s.exe"), bytes);
}

TEST_F(SignedPackage, UnsignGivesBackTheUnsignedPackage) {
  MakeSigned("s.exe");
  std::int64_t removed = 0;
  ASSERT_EQ(UnsignPackage(platform(), Win("s.exe"), &removed), UnsignOutcome::Unsigned);
  std::string expected = unsigned_;
  const std::string after = drive_.ReadHostFile("s.exe").value();
  ASSERT_EQ(after.size(), expected.size());
  EXPECT_EQ(removed, static_cast<std::int64_t>(Signed(unsigned_.substr(kImageSize)).size() -
                                               expected.size()));
  // Only the checksum differs: it is that of the unsigned file.
  PeChecksum sum;
  sum.Update(reinterpret_cast<const std::uint8_t*>(expected.data()), expected.size());
  Put32(expected, kChecksum, sum.Value());
  EXPECT_EQ(after, expected);
  EXPECT_FALSE(drive_.HostExists("s.exe-journal"));
  EXPECT_EQ(UnsignPackage(platform(), Win("s.exe")), UnsignOutcome::NotSigned);
}

// A crash between the header write and the cut: the header says unsigned,
// the old table is still there.  Readers see every module, and the next
// append cuts the table away before it appends.
TEST_F(SignedPackage, UnsignCutShortLeavesEveryModuleInReach) {
  MakeSigned("s.exe");
  test_.faults().FailAll(testing::FaultyFileSystem::Op::Truncate, win::kErrorWriteProtect);
  EXPECT_EQ(UnsignPackage(platform(), Win("s.exe")), UnsignOutcome::Failed);
  test_.faults().Reset();
  const WalkResult walk = WalkModules(platform(), PackageRef{Win("s.exe")});
  ASSERT_EQ(walk.modules.size(), 1u);
  EXPECT_EQ(walk.certificateTable, 0);
  EXPECT_GT(walk.interruptedAppend, 0);

  ModuleRecord record;
  ASSERT_TRUE(BuildModuleRecord(platform(), Win("m.txt"), record, "", std::nullopt));
  ASSERT_TRUE(AppendModule(platform(), Win("m.txt"), Win("s.exe"), record));
  const WalkResult after = WalkModules(platform(), PackageRef{Win("s.exe")});
  EXPECT_EQ(after.modules.size(), 2u);
  EXPECT_EQ(after.interruptedAppend, 0);
  EXPECT_EQ(drive_.ReadHostFile("s.exe")->size(), 2 * unsigned_.size() - kImageSize);
}

}  // namespace
}  // namespace brelvane

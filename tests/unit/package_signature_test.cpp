// Signed packages: the certificate table a signer appends, found from
// crafted PE headers, and what readers, writers and unsign do with it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "package/content_check.h"
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

// The table's own header: a WIN_CERTIFICATE as a signer writes it, or none.
TEST(CertificateHeader, OnlyASignersTableCounts) {
  struct Case {
    const char* what;
    void (*craft)(std::string&);
    bool counts;
  };
  const Case cases[] = {
      {"as made", [](std::string&) {}, true},
      {"dwLength unpadded, the entry rounding it up",
       [](std::string& t) {
         Put32(t, 0, 0x41);
         t[11] = static_cast<char>(0x41 - 12);
       },
       true},
      {"dwLength shorter than the entry's padding", [](std::string& t) { Put32(t, 0, 0x40); },
       false},
      {"dwLength beyond the entry", [](std::string& t) { Put32(t, 0, 0x50); }, false},
      {"revision 1.0", [](std::string& t) { Put16(t, 4, 0x0100); }, false},
      {"an X.509 certificate, not PKCS #7", [](std::string& t) { Put16(t, 6, 1); }, false},
      {"no DER SEQUENCE", [](std::string& t) { t[8] = 0x31; }, false},
      {"a SEQUENCE longer than dwLength", [](std::string& t) { t[11] = 0x40; }, false},
      {"a SEQUENCE 8 bytes short of dwLength", [](std::string& t) { t[11] = 0x48 - 12 - 8; },
       false},
      {"a five-byte DER length", [](std::string& t) { t[9] = static_cast<char>(0x85); }, false},
      {"an indefinite DER length", [](std::string& t) { t[9] = static_cast<char>(0x80); }, false},
  };
  for (const Case& c : cases) {
    std::string table = Certificate(0x48);
    c.craft(table);
    EXPECT_EQ(IsCertificateHeader(reinterpret_cast<const std::uint8_t*>(table.data()),
                                  kCertificateHeaderSize, 0x48),
              c.counts)
        << c.what;
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
    EXPECT_EQ(AppendModule(platform(), Win("m.txt"), Win(name), record), AppendResult::Appended);
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
  EXPECT_EQ(AppendModule(platform(), Win("m.txt"), Win("s.exe"), record), AppendResult::Signed);
  EXPECT_EQ(drive_.ReadHostFile("s.exe"), bytes);
}

TEST_F(SignedPackage, UnsignGivesBackTheUnsignedPackage) {
  MakeSigned("s.exe");
  std::int64_t removed = 0;
  ASSERT_EQ(UnsignPackage(platform(), Win("s.exe"), &removed), UnsignResult::Unsigned);
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
  EXPECT_EQ(UnsignPackage(platform(), Win("s.exe")), UnsignResult::NotSigned);
}

// A crash between the header write and the cut: the header says unsigned,
// the old table is still there.  Readers see every module, and the next
// append cuts the table away before it appends.
TEST_F(SignedPackage, UnsignCutShortLeavesEveryModuleInReach) {
  MakeSigned("s.exe");
  test_.faults().FailAll(testing::FaultyFileSystem::Op::Truncate, win::kErrorWriteProtect);
  EXPECT_EQ(UnsignPackage(platform(), Win("s.exe")), UnsignResult::Failed);
  test_.faults().Reset();
  const WalkResult walk = WalkModules(platform(), PackageRef{Win("s.exe")});
  ASSERT_EQ(walk.modules.size(), 1u);
  EXPECT_EQ(walk.certificateTable, 0);
  EXPECT_GT(walk.interruptedAppend, 0);

  ModuleRecord record;
  ASSERT_TRUE(BuildModuleRecord(platform(), Win("m.txt"), record, "", std::nullopt));
  ASSERT_EQ(AppendModule(platform(), Win("m.txt"), Win("s.exe"), record), AppendResult::Appended);
  const WalkResult after = WalkModules(platform(), PackageRef{Win("s.exe")});
  EXPECT_EQ(after.modules.size(), 2u);
  EXPECT_EQ(after.interruptedAppend, 0);
  EXPECT_EQ(drive_.ReadHostFile("s.exe")->size(), 2 * unsigned_.size() - kImageSize);
}

// A security entry that names the end of the file but no signer's table
// there: a table over the last module, or inside its record.  It is no
// signature: every module is read, and unsign cuts nothing.
TEST_F(SignedPackage, AnEntryOverAModuleIsNoSignature) {
  struct Case {
    const char* what;
    std::uint32_t size;  // from the end of the file
  };
  const Case cases[] = {{"over the last module", 664}, {"inside the last record", 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MakeSigned("s.exe");
    std::string bytes = unsigned_;
    Put32(bytes, kSecurityEntry, static_cast<std::uint32_t>(bytes.size() - c.size));
    Put32(bytes, kSecurityEntry + 4, c.size);
    drive_.WriteHostFile("s.exe", bytes);
    const WalkResult walk = WalkModules(platform(), PackageRef{Win("s.exe")});
    EXPECT_EQ(walk.certificateTable, 0);
    ASSERT_EQ(walk.modules.size(), 1u);
    EXPECT_EQ(walk.strayBytes, 0);
    EXPECT_EQ(UnsignPackage(platform(), Win("s.exe")), UnsignResult::NoCertificate);
    EXPECT_EQ(drive_.ReadHostFile("s.exe"), bytes);
  }
}

// Bytes that are no whole module behind a program's image: a killed add's
// tail that a copy kept, the zeros a tool padded with, bytes before the
// first module.  The walk counts them; no writer goes on behind them.
TEST_F(SignedPackage, StrayBytesAreCountedAndRefusedByEveryWriter) {
  struct Case {
    const char* what;
    std::string bytes;   // the package
    std::int64_t stray;  // bytes behind the last whole module
    std::size_t whole;   // whole modules before them
  };
  MakeSigned("s.exe");
  const auto length = static_cast<std::int64_t>(unsigned_.size());
  const std::string moduleBytes = unsigned_.substr(kImageSize);
  std::string paddedSigned = unsigned_ + std::string(16, '\0');
  paddedSigned.append((8 - paddedSigned.size() % 8) % 8, '\0');
  Put32(paddedSigned, kSecurityEntry, static_cast<std::uint32_t>(paddedSigned.size()));
  Put32(paddedSigned, kSecurityEntry + 4, 0x48);
  paddedSigned += Certificate(0x48);
  const std::int64_t padded = static_cast<std::int64_t>(paddedSigned.size()) - 0x48 - 7 - length;
  const Case cases[] = {
      {"a sound program", unsigned_, 0, 1},
      {"a killed add's tail", unsigned_ + std::string(1000, 'Z'), 1000, 1},
      {"zeros behind the last module", unsigned_ + std::string(100, '\0'), 100, 1},
      {"more than 7 zero bytes before a signature", paddedSigned, padded, 1},
      {"bytes before the first module", Image() + "junk" + moduleBytes,
       static_cast<std::int64_t>(moduleBytes.size()) + 4, 0},
      {"no program: nothing is counted", std::string(kImageSize, '\0') + moduleBytes + "tail", 0,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    drive_.WriteHostFile("s.exe", c.bytes);
    const WalkResult walk = WalkModules(platform(), PackageRef{Win("s.exe")});
    EXPECT_EQ(walk.strayBytes, c.stray);
    // The installer's lookup holds a program to the same rule: a walk that
    // meets stray bytes fails with the CRC code instead of ending quietly.
    EXPECT_EQ(FindModule(platform(), PackageRef{Win("s.exe")}, "no such module", nullptr, false,
                         nullptr, 0),
              c.stray == 0 ? 0 : -1);
    if (c.stray == 0) continue;
    EXPECT_EQ(test_.system().LastError(), kErrorCrc);
    EXPECT_EQ(walk.wholeModules, c.whole);
    EXPECT_EQ(walk.wholeModulesEnd, c.whole == 0 ? kImageSize : length);
    ModuleRecord record;
    ASSERT_TRUE(BuildModuleRecord(platform(), Win("m.txt"), record, "", std::nullopt));
    EXPECT_EQ(AppendModule(platform(), Win("m.txt"), Win("s.exe"), record),
              AppendResult::StrayBytes);
    EXPECT_EQ(UnsignPackage(platform(), Win("s.exe")), UnsignResult::StrayBytes);
    EXPECT_EQ(drive_.ReadHostFile("s.exe"), c.bytes);
    EXPECT_FALSE(drive_.HostExists("s.exe-journal"));
  }
}

// Repair cuts a program back to its last whole module: stray bytes, and a
// signature over them.  It shows its plan first; the modules before stay.
TEST_F(SignedPackage, RepairCutsBackToTheLastWholeModule) {
  MakeSigned("s.exe");
  const auto length = static_cast<std::int64_t>(unsigned_.size());
  struct Case {
    const char* what;
    std::string bytes;
    std::int64_t table;
  };
  const Case cases[] = {
      {"a killed add's tail", unsigned_ + std::string(1000, 'Z'), 0},
      {"a signature over stray bytes", Signed(unsigned_.substr(kImageSize) + "stray"), 0x48},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    drive_.WriteHostFile("s.exe", c.bytes);
    std::vector<RepairPlan> shown;
    ASSERT_EQ(RepairPackage(platform(), Win("s.exe"),
                            [&](const RepairPlan& plan) {
                              shown.push_back(plan);
                              EXPECT_EQ(drive_.ReadHostFile("s.exe"), c.bytes);  // not yet cut
                            }),
              RepairResult::Repaired);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].keptEnd, length);
    EXPECT_EQ(shown[0].modulesKept, 1u);
    EXPECT_EQ(shown[0].certificateTable, c.table);
    const std::string after = drive_.ReadHostFile("s.exe").value();
    ASSERT_EQ(static_cast<std::int64_t>(after.size()), length);
    EXPECT_EQ(after.substr(kImageSize), unsigned_.substr(kImageSize));
    const WalkResult walk = WalkModules(platform(), PackageRef{Win("s.exe")});
    EXPECT_EQ(walk.strayBytes, 0);
    EXPECT_EQ(walk.certificateTable, 0);
    ASSERT_EQ(walk.modules.size(), 1u);
    EXPECT_EQ(CheckModuleContent(platform(), PackageRef{Win("s.exe")}, walk.modules[0]),
              ContentState::Sound);
    EXPECT_FALSE(drive_.HostExists("s.exe-journal"));
    EXPECT_EQ(RepairPackage(platform(), Win("s.exe")), RepairResult::Sound);
  }
  drive_.WriteHostFile("plain.bin", std::string(2000, '\x01'));
  EXPECT_EQ(RepairPackage(platform(), Win("plain.bin")), RepairResult::NotAProgram);
}

// A repair whose cut fails, as when the process dies: its journal holds
// readers to the last whole module, and the next add cuts the rest first.
TEST_F(SignedPackage, RepairCutShortLeavesEveryModuleInReach) {
  MakeSigned("s.exe");
  drive_.WriteHostFile("s.exe", unsigned_ + std::string(1000, 'Z'));
  test_.faults().FailAll(testing::FaultyFileSystem::Op::Truncate, win::kErrorWriteProtect);
  FailedFile failed = FailedFile::Journal;
  EXPECT_EQ(RepairPackage(platform(), Win("s.exe"), {}, &failed), RepairResult::Failed);
  EXPECT_EQ(failed, FailedFile::Package);
  test_.faults().Reset();
  ASSERT_TRUE(drive_.HostExists("s.exe-journal"));
  const WalkResult walk = WalkModules(platform(), PackageRef{Win("s.exe")});
  EXPECT_EQ(walk.strayBytes, 0);
  EXPECT_EQ(walk.interruptedAppend, 1000);
  ASSERT_EQ(walk.modules.size(), 1u);

  ModuleRecord record;
  ASSERT_TRUE(BuildModuleRecord(platform(), Win("m.txt"), record, "", std::nullopt));
  ASSERT_EQ(AppendModule(platform(), Win("m.txt"), Win("s.exe"), record), AppendResult::Appended);
  EXPECT_EQ(drive_.ReadHostFile("s.exe")->size(), 2 * unsigned_.size() - kImageSize);
  EXPECT_EQ(WalkModules(platform(), PackageRef{Win("s.exe")}).modules.size(), 2u);
}

}  // namespace
}  // namespace brelvane

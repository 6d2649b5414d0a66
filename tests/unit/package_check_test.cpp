// The content check in a record's reserved bytes: the CRC itself, its place
// in the record, and what extraction and verification make of damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "package/content_check.h"
#include "package/package.h"
#include "support/temp_drive.h"

namespace brelvane {
namespace {

using testing::TempDrive;
using testing::TestPlatform;

std::uint32_t CrcOf(const std::string& text) {
  Crc32 crc;
  crc.Update(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return crc.Value();
}

TEST(Crc32, MatchesTheStandardCheckValues) {
  const struct {
    std::string text;
    std::uint32_t crc;
  } cases[] = {{"", 0x00000000u},
               {"a", 0xE8B7BE43u},
               {"123456789", 0xCBF43926u},
               {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
               {std::string(1024, '\0'), 0xEFB5AF2Eu}};
  for (const auto& c : cases) EXPECT_EQ(CrcOf(c.text), c.crc) << '"' << c.text.substr(0, 20) << '"';
}

// Bit by bit, as the polynomial defines it.
std::uint32_t BitwiseCrc(const std::uint8_t* data, std::size_t length) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) {
    c ^= data[i];
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return ~c;
}

std::vector<std::uint8_t> PseudoRandomBytes(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t state = 2463534242u;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(state >> 23);
  }
  return bytes;
}

TEST(Crc32, MatchesTheBitwiseDefinitionForEveryLengthAndStart) {
  const std::vector<std::uint8_t> bytes = PseudoRandomBytes(4096 + 16);
  std::vector<std::size_t> lengths;
  for (std::size_t n = 1; n <= 200; ++n) lengths.push_back(n);
  for (std::size_t n : {255u, 256u, 511u, 512u, 1000u, 1024u, 4096u}) lengths.push_back(n);
  for (std::size_t start = 0; start < 16; ++start) {
    for (std::size_t length : lengths) {
      Crc32 crc;
      crc.Update(bytes.data() + start, length);
      ASSERT_EQ(crc.Value(), BitwiseCrc(bytes.data() + start, length))
          << "start " << start << ", length " << length;
    }
  }
}

TEST(Crc32, GivesTheSameValueFedInPieces) {
  const std::vector<std::uint8_t> bytes = PseudoRandomBytes(5000);
  const std::uint32_t whole = BitwiseCrc(bytes.data(), bytes.size());
  for (std::size_t piece : {1u, 3u, 15u, 16u, 63u, 64u, 65u, 200u, 1024u, 4999u}) {
    Crc32 pieces;
    for (std::size_t done = 0; done < bytes.size(); done += piece) {
      pieces.Update(bytes.data() + done, std::min(piece, bytes.size() - done));
      pieces.Update(bytes.data() + done, 0);
    }
    EXPECT_EQ(pieces.Value(), whole) << "pieces of " << piece;
  }
}

// Sealed, the reserved bytes hold the content check, then the record
// check over everything else, and zeros; the fields around stay.
TEST(ContentCheck, SitsInTheReservedBytesAndReadsBack) {
  for (const bool withContent : {true, false}) {
    std::array<std::uint8_t, kRecordSize> record{};
    record.fill(0xCD);
    SealRecord(record.data(),
               withContent ? std::optional<std::uint32_t>(0x01020304u) : std::nullopt);
    const std::string content(record.begin() + 68, record.begin() + 80);
    EXPECT_EQ(content,
              withContent ? std::string("BRVCRC32\x01\x02\x03\x04", 12) : std::string(12, '\0'));
    EXPECT_EQ(std::string(record.begin() + 80, record.begin() + 88), "BRVREC32");
    for (std::size_t i = 92; i < 132; ++i) EXPECT_EQ(record[i], 0) << i;
    EXPECT_EQ(record[67], 0xCD) << "the marker field is not touched";
    EXPECT_EQ(record[132], 0xCD) << "the name field is not touched";
    EXPECT_EQ(LoadContentCheck(record.data()),
              withContent ? std::optional<std::uint32_t>(0x01020304u) : std::nullopt);
    EXPECT_EQ(CheckRecord(record.data()), RecordCheck::Sound);
  }
}

TEST(ContentCheck, IsAbsentWithoutTheWholeTag) {
  for (const std::string& reserved :
       {std::string(64, '\0'), std::string(64, '\xCD'), "BRVCRC3" + std::string(57, '\0'),
        "brvcrc32" + std::string(56, '\0'), "XBRVCRC32" + std::string(55, '\0')}) {
    std::array<std::uint8_t, kRecordSize> record{};
    std::copy(reserved.begin(), reserved.end(), record.begin() + 68);
    EXPECT_FALSE(LoadContentCheck(record.data()).has_value()) << reserved.substr(0, 9);
  }
}

// ---- Extraction and verification of damaged packages -------------------------

constexpr std::size_t kImage = 2048;
constexpr std::size_t kContent = 3000;

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 11 + 5) & 0xFF);
  return bytes;
}

struct DamageCase {
  const char* label;
  std::size_t offset;          // from the first content byte; the record follows at kContent
  bool wipeTag;                // the record carries no check (as an older writer left it)
  bool damaged;                // what extraction and verification must say
  bool recordDamaged = false;  // the record fails its own check: the walk stops there
};

class DamagedPackage : public ::testing::TestWithParam<DamageCase> {
 protected:
  DamagedPackage() {
    drive_.WriteHostFile("setup.exe", std::string(kImage, '\0'));
    drive_.WriteHostFile("module.bin", Pattern(kContent));
    ModuleRecord record;
    EXPECT_TRUE(BuildModuleRecord(test_.platform(), drive_.WinPath("module.bin"), record, "",
                                  PredefinedSet::Ovin));
    EXPECT_EQ(AppendModule(test_.platform(), drive_.WinPath("module.bin"),
                           drive_.WinPath("setup.exe"), record),
              AppendResult::Appended);
  }
  PackageRef Package() { return PackageRef{drive_.WinPath("setup.exe"), kRecordSize}; }

  TestPlatform test_;
  TempDrive drive_{test_};
};

TEST_P(DamagedPackage, IsCaughtWhenTheRecordCarriesACheck) {
  const DamageCase& c = GetParam();
  std::string bytes = *drive_.ReadHostFile("setup.exe");
  if (c.offset != std::string::npos)
    bytes[kImage + c.offset] = static_cast<char>(bytes[kImage + c.offset] ^ 0x01);
  if (c.wipeTag)
    std::fill(bytes.begin() + kImage + kContent + 68, bytes.begin() + kImage + kContent + 132,
              '\xCD');
  drive_.WriteHostFile("setup.exe", bytes);

  const WalkResult walk = WalkModules(test_.platform(), Package());
  if (c.recordDamaged) {
    // Nothing the record says is read: no module, no lookup, the walk's end.
    EXPECT_TRUE(walk.modules.empty());
    EXPECT_EQ(walk.end, WalkEnd::DamagedRecord);
    EXPECT_EQ(walk.stopOffset, static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(FindModule(test_.platform(), Package(), MarkerOf(PredefinedSet::Ovin), nullptr, true,
                         nullptr, 0),
              -1);
    EXPECT_EQ(test_.system().LastError(), kErrorCrc);
  } else {
    ASSERT_EQ(walk.modules.size(), 1u);
    EXPECT_EQ(walk.modules[0].contentCheck.has_value(), !c.wipeTag);
    const ContentState expectedState = c.wipeTag   ? ContentState::Unchecked
                                       : c.damaged ? ContentState::Damaged
                                                   : ContentState::Sound;
    EXPECT_EQ(CheckModuleContent(test_.platform(), Package(), walk.modules[0]), expectedState);
  }

  ExtractReport report;
  const bool extracted =
      ExtractModule(test_.platform(), Package(), drive_.WinPath("out.bin"),
                    static_cast<std::int32_t>(kImage), kContent, win::kAttrNormal, {}, &report);
  const std::uint32_t error = test_.system().LastError();  // before any host call
  EXPECT_EQ(extracted, !c.damaged);
  EXPECT_EQ(report.result, c.damaged ? ExtractResult::Damaged : ExtractResult::Done);
  EXPECT_EQ(drive_.HostExists("out.bin"), !c.damaged) << "no partial file";
  if (c.damaged) { EXPECT_EQ(error, kErrorCrc); }
  EXPECT_TRUE(test_.prompts().messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, DamagedPackage,
    ::testing::Values(DamageCase{"Intact", std::string::npos, false, false},
                      DamageCase{"FirstByte", 0, false, true},
                      DamageCase{"PlainPartOfAChunk", 700, false, true},
                      DamageCase{"SecondChunk", 1024 + 3, false, true},
                      DamageCase{"LastByte", kContent - 1, false, true},
                      DamageCase{"TheContentCheckItself", kContent + 77, false, true, true},
                      DamageCase{"ContentSize", kContent + 3, false, true, true},
                      DamageCase{"Marker", kContent + 4 + 20, false, true, true},
                      DamageCase{"FileName", kContent + 132, false, true, true},
                      DamageCase{"ExtractDirTail", kContent + 392 + 200, false, true, true},
                      DamageCase{"Attributes", kContent + 655, false, true, true},
                      DamageCase{"RecordSize", kContent + 659, false, true, true},
                      DamageCase{"TheRecordCheckItself", kContent + 90, false, true, true},
                      // Without its tag the record reads as an older writer's.
                      DamageCase{"TheRecordCheckTag", kContent + 80, false, false},
                      DamageCase{"UncheckedIntact", std::string::npos, true, false},
                      DamageCase{"UncheckedDamagedAsBefore", 700, true, false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ContentCheckReads, ATruncatedOrMissingPackageIsDamagedOrUnreadable) {
  TestPlatform test;
  TempDrive drive(test);
  drive.WriteHostFile("short.exe", std::string(100, '\0'));
  WalkedModule module;
  module.record.contentSize = 500;
  module.contentOffset = 10;
  module.contentCheck = 0;
  EXPECT_EQ(CheckModuleContent(test.platform(), PackageRef{drive.WinPath("short.exe"), kRecordSize},
                               module),
            ContentState::Damaged);
  EXPECT_EQ(CheckModuleContent(test.platform(), PackageRef{drive.WinPath("gone.exe"), kRecordSize},
                               module),
            ContentState::Unreadable);
}

}  // namespace
}  // namespace brelvane

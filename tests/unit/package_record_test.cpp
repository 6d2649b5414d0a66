// The trailer record's byte layout, the content scrambling and the marker
// rules, on buffers built byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "package/module_record.h"

namespace brelvane {
namespace {

using Record = std::array<std::uint8_t, kRecordSize>;

// A record as the shipped package holds it: 0xCD filler in the reserved
// bytes, integers big-endian, names NUL-padded.
Record HandMadeRecord(std::uint32_t contentSize, const char* marker, const char* fileName,
                      const char* extractDir, std::uint32_t attributes) {
  Record bytes{};
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    bytes[at] = static_cast<std::uint8_t>(v >> 24);
    bytes[at + 1] = static_cast<std::uint8_t>(v >> 16);
    bytes[at + 2] = static_cast<std::uint8_t>(v >> 8);
    bytes[at + 3] = static_cast<std::uint8_t>(v);
  };
  put32(0, contentSize);
  std::memcpy(&bytes[4], marker, std::strlen(marker));
  std::fill(bytes.begin() + 68, bytes.begin() + 132, 0xCD);
  std::memcpy(&bytes[132], fileName, std::strlen(fileName));
  std::memcpy(&bytes[392], extractDir, std::strlen(extractDir));
  put32(652, attributes);
  put32(656, 660);
  return bytes;
}

TEST(RecordCodec, DecodesHandMadeRecord) {
  const Record bytes = HandMadeRecord(442368, "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_A",
                                      "Brelvane v1.0.exe", "tools\\lock", 0x81);
  ModuleRecord record;
  DecodeModuleRecord(bytes.data(), record);
  EXPECT_EQ(record.contentSize, 442368u);
  EXPECT_EQ(record.marker, "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_A");
  EXPECT_EQ(record.fileName, "Brelvane v1.0.exe");
  EXPECT_EQ(record.extractDir, "tools\\lock");
  EXPECT_EQ(record.attributes, 0x81u);
  EXPECT_EQ(record.recordSize, 660u);
}

TEST(RecordCodec, EncodesTheSameBytesAndKeepsTheReservedFiller) {
  const Record expected = HandMadeRecord(0x01020304, "QRVX_OEM_INSTALLER", "setup.exe", "", 0x03);
  ModuleRecord record;
  record.contentSize = 0x01020304;
  record.marker = "QRVX_OEM_INSTALLER";
  record.fileName = "setup.exe";
  record.attributes = 0x03;
  record.recordSize = 660;
  Record buffer;
  buffer.fill(0xCD);  // stale bytes everywhere: the encoder pads, except the reserved bytes
  EncodeModuleRecord(record, buffer.data());
  EXPECT_EQ(buffer, expected);
}

struct NameCase {
  const char* label;
  std::size_t storedLength;  // bytes written into the field, no NUL when >= 260
  std::size_t decodedLength;
};

class NameFieldTest : public ::testing::TestWithParam<NameCase> {};

// A decoded name is read up to its NUL or its field's end, never beyond.
TEST_P(NameFieldTest, DecodedNamesEndInsideTheirField) {
  const NameCase& c = GetParam();
  Record bytes = HandMadeRecord(0, "QRVX_OEM_INSTALLER", "", "", 0x80);
  std::fill_n(&bytes[132], c.storedLength, 'n');
  std::fill_n(&bytes[392], c.storedLength, 'd');
  ModuleRecord record;
  DecodeModuleRecord(bytes.data(), record);
  EXPECT_EQ(record.fileName, std::string(c.decodedLength, 'n'));
  EXPECT_EQ(record.extractDir, std::string(c.decodedLength, 'd'));
  EXPECT_EQ(record.attributes, 0x80u) << "a full name must not run into the next field";
}

INSTANTIATE_TEST_SUITE_P(Lengths, NameFieldTest,
                         ::testing::Values(NameCase{"empty", 0, 0}, NameCase{"short", 9, 9},
                                           NameCase{"fits", 259, 259},
                                           NameCase{"unterminated", 260, 260}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(RecordCodec, NameOf259BytesRoundTripsWithItsTerminator) {
  ModuleRecord record;
  record.marker = kBaseMarker;
  record.fileName = std::string(259, 'x');
  record.recordSize = 660;
  Record bytes;
  bytes.fill(0xEE);
  EncodeModuleRecord(record, bytes.data());
  EXPECT_EQ(bytes[132 + 258], 'x');
  EXPECT_EQ(bytes[132 + 259], 0) << "the last byte of the field is the terminator";
  ModuleRecord back;
  DecodeModuleRecord(bytes.data(), back);
  EXPECT_EQ(back.fileName, record.fileName);
}

TEST(RecordCodec, MarkerFillsItsWholeFieldWithoutSpillingIntoReserved) {
  ModuleRecord record;
  record.marker = std::string(100, 'M');
  Record bytes;
  bytes.fill(0xCD);
  EncodeModuleRecord(record, bytes.data());
  EXPECT_EQ(bytes[4 + 63], 'M');
  EXPECT_EQ(bytes[68], 0xCD);
  ModuleRecord back;
  DecodeModuleRecord(bytes.data(), back);
  EXPECT_EQ(back.marker, std::string(64, 'M'));
}

struct ScrambleCase {
  std::size_t length;
  std::size_t changedBytes;  // bytes 0 .. changedBytes-1 change, the rest stay
};

class ScrambleTest : public ::testing::TestWithParam<ScrambleCase> {};

TEST_P(ScrambleTest, ChangesOnlyTheWordsBelowAQuarterOfTheChunk) {
  const ScrambleCase& c = GetParam();
  std::vector<std::uint8_t> data(c.length, 0);
  ScrambleChunk(data.data(), data.size());
  // On zero bytes a scrambled word is the key itself, big-endian.
  const std::uint8_t keyBytes[4] = {0x00, 0xCF, 0x33, 0xEE};
  for (std::size_t i = 0; i < c.length; ++i) {
    const std::uint8_t expected = i < c.changedBytes ? keyBytes[i % 4] : 0;
    ASSERT_EQ(data[i], expected) << "byte " << i;
  }
}

TEST_P(ScrambleTest, TwiceRestoresTheInput) {
  std::vector<std::uint8_t> data(GetParam().length);
  std::iota(data.begin(), data.end(), std::uint8_t{7});
  const auto original = data;
  ScrambleChunk(data.data(), data.size());
  if (GetParam().changedBytes > 0) { EXPECT_NE(data, original); }
  ScrambleChunk(data.data(), data.size());
  EXPECT_EQ(data, original);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ScrambleTest,
                         ::testing::Values(ScrambleCase{3, 0}, ScrambleCase{4, 4},
                                           ScrambleCase{10, 4}, ScrambleCase{20, 8},
                                           ScrambleCase{200, 52}, ScrambleCase{1023, 256},
                                           ScrambleCase{1024, 256}),
                         [](const auto& info) { return "L" + std::to_string(info.param.length); });

struct MarkerCase {
  const char* marker;
  bool module;
  bool predefined;
  char suffix;
  std::optional<PredefinedSet> set = std::nullopt;
};

class MarkerTest : public ::testing::TestWithParam<MarkerCase> {};

TEST_P(MarkerTest, ClassifiesTheMarker) {
  const MarkerCase& c = GetParam();
  EXPECT_EQ(IsModuleMarker(c.marker), c.module);
  EXPECT_EQ(IsPredefinedMarker(c.marker), c.predefined);
  EXPECT_EQ(MarkerSuffix(c.marker), c.suffix);
  EXPECT_EQ(PredefinedSetOf(c.marker), c.set);
  if (c.set) { EXPECT_STREQ(MarkerOf(*c.set), std::string(c.marker).substr(0, 35).c_str()); }
}

INSTANTIATE_TEST_SUITE_P(
    Markers, MarkerTest,
    ::testing::Values(
        MarkerCase{"QRVX_OEM_INSTALLER", true, false, 0},
        MarkerCase{"QRVX_OEM_INSTALLER_PREDEFFILE_IDX_T", true, true, 'T', PredefinedSet::Kestrin},
        MarkerCase{"QRVX_OEM_INSTALLER_PREDEFFILE_IDX_A", true, true, 'A', PredefinedSet::Ovin},
        MarkerCase{"QRVX_OEM_INSTALLER_PREDEFFILE_IDX_G", true, true, 'G', PredefinedSet::Pellor},
        MarkerCase{"QRVX_OEM_INSTALLER_PREDEFFILE_IDX_4", true, true, '4',
                   PredefinedSet::KestrinOvin},
        // The set is read from the suffix alone, exactly, as the
        // install's lookup compares the first 35 characters.
        MarkerCase{"QRVX_OEM_INSTALLER_PREDEFFILE_IDX_Axyz", true, true, 'A', PredefinedSet::Ovin},
        MarkerCase{"QRVX_OEM_INSTALLER_PREDEFFILE_IDX_t", true, true, 't'},
        MarkerCase{"QRVX_OEM_INSTALLER_PREDEFFILE_IDX_Z", true, true, 'Z'},
        MarkerCase{"QRVX_OEM_INSTALLER_PREDEFFILE_IDX_", true, true, 0},
        MarkerCase{"QRVX_OEM_INSTALLERX", true, false, 0},
        MarkerCase{"QRVX_OEM_INSTALLE", false, false, 0},
        MarkerCase{"qrvx_oem_installer", false, false, 0}, MarkerCase{"", false, false, 0}));

}  // namespace
}  // namespace brelvane

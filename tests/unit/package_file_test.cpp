// Finding, appending and extracting modules of packages on a temporary drive.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "package/content_check.h"
#include "package/package.h"
#include "support/temp_drive.h"

namespace brelvane {
namespace {

using testing::TempDrive;
using testing::TestPlatform;

constexpr std::size_t kImage = 2048;  // a bare program: zero padding at its end

std::string Pattern(std::size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 131 + seed * 17 + (i >> 8)) & 0xFF);
  }
  return bytes;
}

// The format's scrambling written out byte by byte, independently of the
// product: in each 1024-byte chunk of L bytes, byte i belongs to a scrambled
// word when its word starts below L/4.
std::string Scrambled(const std::string& plain) {
  static const std::uint8_t key[4] = {0x00, 0xCF, 0x33, 0xEE};
  std::string out = plain;
  for (std::size_t chunk = 0; chunk < out.size(); chunk += 1024) {
    const std::size_t length = std::min<std::size_t>(1024, out.size() - chunk);
    for (std::size_t i = 0; i < length; ++i) {
      if ((i / 4) * 4 < length / 4) out[chunk + i] = static_cast<char>(out[chunk + i] ^ key[i % 4]);
    }
  }
  return out;
}

std::string BigEndian(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

// A trailer record written by hand, reserved bytes filled with 0xCD and the
// stored size in its last four bytes (`size` may exceed 660: the extra bytes
// lie between the fixed fields and the size).
std::string HandRecord(std::uint32_t contentSize, const std::string& marker,
                       const std::string& fileName, const std::string& extractDir,
                       std::uint32_t attributes, std::uint32_t size = 660) {
  std::string record(size, '\0');
  record.replace(0, 4, BigEndian(contentSize));
  record.replace(4, marker.size(), marker);
  record.replace(68, 64, std::string(64, '\xCD'));
  record.replace(132, fileName.size(), fileName);
  record.replace(392, extractDir.size(), extractDir);
  record.replace(652, 4, BigEndian(attributes));
  record.replace(656, 4, BigEndian(660));
  record.replace(size - 4, 4, BigEndian(size));
  return record;
}

class PackageFiles : public ::testing::Test {
 protected:
  PackageFiles() { drive_.WriteHostFile("setup.exe", std::string(kImage, '\0')); }

  Platform platform() { return test_.platform(); }
  PackageRef Package(const std::string& name = "setup.exe") {
    return PackageRef{drive_.WinPath(name), kRecordSize};
  }
  std::string Host(const std::string& name) {
    return drive_.ReadHostFile(name).value_or("<missing>");
  }

  // Writes `content` as `name` and appends it as a module.
  void Append(const std::string& name, const std::string& content,
              std::optional<PredefinedSet> set = std::nullopt, const std::string& dir = "",
              std::uint32_t attributes = win::kAttrNormal) {
    drive_.WriteHostFile(name, content);
    ModuleRecord record;
    ASSERT_TRUE(BuildModuleRecord(platform(), drive_.WinPath(name), record, dir, set));
    record.attributes = attributes;
    ASSERT_EQ(AppendModule(platform(), drive_.WinPath(name), drive_.WinPath("setup.exe"), record),
              AppendResult::Appended);
  }

  std::int32_t Find(const std::string& query, bool byMarker = false, std::uint32_t end = 0,
                    ModuleRecord* record = nullptr) {
    std::int32_t offset = -77;
    const std::int32_t result =
        FindModule(platform(), Package(), query, &offset, byMarker, record, end);
    if (result > 0) {
      EXPECT_EQ(offset, result);
    } else {
      EXPECT_EQ(offset, -77) << "outputs are written only on a find";
    }
    return result;
  }

  TestPlatform test_;
  TempDrive drive_{test_};
};

// ---- Round trips ----------------------------------------------------------

class RoundTrip : public PackageFiles, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(RoundTrip, AppendStoresScrambledContentAndExtractRestoresIt) {
  const std::size_t size = GetParam();
  const std::string content = Pattern(size);
  Append("module.bin", content);

  const std::string package = Host("setup.exe");
  ASSERT_EQ(package.size(), kImage + size + 660);
  EXPECT_EQ(package.substr(0, kImage), std::string(kImage, '\0')) << "the image is untouched";
  EXPECT_EQ(package.substr(kImage, size), Scrambled(content));
  const std::string record = package.substr(kImage + size);
  EXPECT_EQ(record.substr(0, 4), BigEndian(static_cast<std::uint32_t>(size)));
  EXPECT_EQ(record.substr(4, 64), std::string("QRVX_OEM_INSTALLER") + std::string(46, '\0'));
  Crc32 crc;
  crc.Update(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
  EXPECT_EQ(record.substr(68, 64).erase(20, 4),
            "BRVCRC32" + BigEndian(crc.Value()) + "BRVREC32" + std::string(40, '\0'))
      << "the reserved bytes hold the content and record checks, the rest zero";
  EXPECT_EQ(CheckRecord(reinterpret_cast<const std::uint8_t*>(record.data())), RecordCheck::Sound);
  EXPECT_EQ(record.substr(132, 11), std::string("module.bin") + '\0');
  EXPECT_EQ(record.substr(652, 8), BigEndian(0x80) + BigEndian(660));

  ModuleRecord found;
  ASSERT_EQ(Find("module.bin", false, 0, &found), static_cast<std::int32_t>(kImage));
  EXPECT_EQ(found.contentSize, size);
  ASSERT_TRUE(ExtractModule(platform(), Package(), drive_.WinPath("out.bin"), kImage,
                            found.contentSize, win::kAttrNormal));
  EXPECT_EQ(Host("out.bin"), content);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTrip,
                         ::testing::Values(0u, 1u, 3u, 4u, 1023u, 1024u, 1025u, 4103u,
                                           kCopyBlockSize + 1025u));

TEST_F(PackageFiles, ReadsAPackageWrittenByHand) {
  // 0xCD in the reserved bytes, as the shipped package holds it.
  const std::string content = Pattern(1500, 3);
  drive_.WriteHostFile("hand.exe", std::string(1000, '\0') + Scrambled(content) +
                                       HandRecord(1500, MarkerOf(PredefinedSet::Ovin),
                                                  "Brelvane v1.0.exe", "", 0x80));
  ModuleRecord record;
  std::int32_t offset = 0;
  ASSERT_EQ(FindModule(platform(), Package("hand.exe"), MarkerOf(PredefinedSet::Ovin), &offset,
                       true, &record, 0),
            1000);
  EXPECT_EQ(record.fileName, "Brelvane v1.0.exe");
  EXPECT_EQ(record.marker, MarkerOf(PredefinedSet::Ovin));
  ASSERT_TRUE(ExtractModule(platform(), Package("hand.exe"), drive_.WinPath("b.exe"), offset,
                            record.contentSize, record.attributes));
  EXPECT_EQ(Host("b.exe"), content);
}

TEST_F(PackageFiles, ARecordLargerThanTheFixedFieldsIsSteppedOverWhole) {
  const std::string older = HandRecord(0, kBaseMarker, "older.txt", "", 0x80);
  const std::string larger = HandRecord(2, kBaseMarker, "larger.txt", "", 0x80, 1000);
  drive_.WriteHostFile("big.exe", std::string(800, '\0') + older + "xy" + larger);
  const WalkResult walk = WalkModules(platform(), Package("big.exe"));
  ASSERT_EQ(walk.modules.size(), 2u);
  EXPECT_EQ(walk.modules[0].record.fileName, "larger.txt");
  EXPECT_EQ(walk.modules[0].contentOffset, 800 + 660);
  EXPECT_EQ(walk.modules[1].record.fileName, "older.txt");
  EXPECT_EQ(walk.end, WalkEnd::Image);
}

// ---- FindModule -------------------------------------------------------------

struct FindCase {
  const char* label;
  const char* query;
  bool byMarker;
  const char* startAfter;  // searchEnd: the content offset of this module's find, or none
  const char* expected;    // module expected, or nullptr for 0
};

class FindTest : public PackageFiles, public ::testing::WithParamInterface<FindCase> {
 protected:
  // Oldest to newest: setup (user), tool.exe (Ovin), setup.exe (Kestrin),
  // combo.dll (Kestrin and Ovin).
  void SetUp() override {
    drive_.MakeHostDirectory("sub");
    Append("setup", "A");
    Append("tool.exe", Pattern(1030), PredefinedSet::Ovin);
    Append("sub\\setup.exe", Pattern(7),
           PredefinedSet::Kestrin);  // beside the package, not over it
    Append("combo.dll", Pattern(2), PredefinedSet::KestrinOvin);
    const WalkResult walk = WalkModules(platform(), Package());
    ASSERT_EQ(walk.modules.size(), 4u);
    for (const WalkedModule& m : walk.modules) {
      offsets_[m.record.fileName] = static_cast<std::int32_t>(m.contentOffset);
    }
  }
  std::map<std::string, std::int32_t> offsets_;
};

TEST_P(FindTest, FindsTheNewestMatch) {
  const FindCase& c = GetParam();
  const std::uint32_t end = c.startAfter != nullptr ? offsets_.at(c.startAfter) : 0;
  const std::int32_t expected = c.expected != nullptr ? offsets_.at(c.expected) : 0;
  EXPECT_EQ(Find(c.query, c.byMarker, end), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, FindTest,
    ::testing::Values(
        FindCase{"ExactName", "setup.exe", false, nullptr, "setup.exe"},
        FindCase{"PrefixFindsTheNewest", "setup", false, nullptr, "setup.exe"},
        FindCase{"LongerQueryThanNameNeverMatches", "tool.exe2", false, nullptr, nullptr},
        FindCase{"NamesAreCaseSensitive", "TOOL.EXE", false, nullptr, nullptr},
        FindCase{"EmptyQueryFindsTheNewest", "", false, nullptr, "combo.dll"},
        FindCase{"SearchEndSkipsNewer", "setup", false, "setup.exe", "setup"},
        FindCase{"SearchEndAtTheOldestFindsNothing", "", false, "setup", nullptr},
        FindCase{"MarkerOfOvin", "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_A", true, nullptr, "tool.exe"},
        FindCase{"MarkerOfCombined", "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_4", true, nullptr,
                 "combo.dll"},
        FindCase{"BaseMarkerFindsOnlyUserDefined", "QRVX_OEM_INSTALLER", true, nullptr, "setup"},
        FindCase{"MarkerNeedsTheFlag", "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_A", false, nullptr,
                 nullptr},
        FindCase{"MarkerOfPellorIsAbsent", "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_G", true, nullptr,
                 nullptr}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(FindTest, SearchEndAtTheFileLengthIsTheWholeWalk) {
  const auto length = static_cast<std::uint32_t>(Host("setup.exe").size());
  EXPECT_EQ(Find("tool", false, length), offsets_.at("tool.exe"));
  EXPECT_EQ(Find("", false, length), offsets_.at("combo.dll"));
}

TEST_F(FindTest, TheNinexFamilyCountsTheLengthAndFindsTheSame) {
  test_.system().SetPlatformId(win::kVerPlatformWin32Windows);
  for (const char* name : {"combo.dll", "tool.exe", "setup.exe"}) {
    EXPECT_EQ(Find(name), offsets_.at(name)) << name;
  }
  EXPECT_EQ(Find("absent"), 0);
}

TEST_F(PackageFiles, TheSameSourceTwiceIsFoundAsTheLaterModule) {
  Append("twice.txt", "first");
  Append("twice.txt", "second!");
  ModuleRecord record;
  EXPECT_EQ(Find("twice.txt", false, 0, &record), static_cast<std::int32_t>(kImage + 5 + 660));
  EXPECT_EQ(record.contentSize, 7u);
}

// One installed set holds a destination once, as Windows compares names:
// a second module there is refused and the package is left as it was.  The
// same name in another set, or among user-defined modules, stays allowed.
TEST_F(PackageFiles, ASetTakesEachDestinationOnce) {
  Append("readme.txt", "first", PredefinedSet::Ovin, "Docs");
  Append("readme.txt", "the Kestrin set's", PredefinedSet::Kestrin, "Docs");
  Append("notes.txt", "user");
  Append("notes.txt", "user again");
  std::vector<std::pair<const char*, const char*>> twins = {{"README.TXT", "docs"},
                                                            {"readme.txt", "Docs/"},
                                                            {"readme.txt", "\\Docs"},
                                                            {"readme.txt", "Docs\\\\"}};
#ifndef _WIN32
  // Beyond ASCII as well: the simulation folds "\xc3\x89" and "\xc3\xa9" as
  // Windows does.  (The test's own host files take UTF-8 names only here.)
  Append("\xc3\xa9t\xc3\xa9.txt", "first", PredefinedSet::Ovin, "Docs");
  twins.emplace_back("\xc3\x89T\xc3\x89.TXT", "docs");
#endif
  const std::string before = Host("setup.exe");
  for (const auto& [name, dir] : twins) {
    drive_.WriteHostFile(name, "second");
    ModuleRecord record;
    ASSERT_TRUE(
        BuildModuleRecord(platform(), drive_.WinPath(name), record, dir, PredefinedSet::Ovin));
    EXPECT_EQ(AppendModule(platform(), drive_.WinPath(name), drive_.WinPath("setup.exe"), record),
              AppendResult::SameDestination)
        << name << " in " << dir;
  }
  EXPECT_EQ(Host("setup.exe"), before);
}

// ---- Packages that end early or hold something else -----------------------

struct TailCase {
  const char* label;
  std::string tail;    // bytes behind a 1000-byte zero image
  std::int32_t found;  // FindModule("") result
  WalkEnd walkEnd;
  std::size_t modules;
};

class TailTest : public PackageFiles, public ::testing::WithParamInterface<TailCase> {};

TEST_P(TailTest, WalksStopWhereNoPlausibleRecordEnds) {
  const TailCase& c = GetParam();
  drive_.WriteHostFile("odd.exe", std::string(1000, '\0') + c.tail);
  std::int32_t offset = -77;
  ModuleRecord record;
  record.fileName = "untouched";
  EXPECT_EQ(FindModule(platform(), Package("odd.exe"), "", &offset, false, &record, 0), c.found);
  if (c.found <= 0) {
    EXPECT_EQ(offset, -77);
    EXPECT_EQ(record.fileName, "untouched");
  }
  const WalkResult walk = WalkModules(platform(), Package("odd.exe"));
  EXPECT_EQ(walk.end, c.walkEnd);
  EXPECT_EQ(walk.modules.size(), c.modules);
}

const std::string kUserRecord = HandRecord(0, kBaseMarker, "a.txt", "", 0x80);
const std::string kForeignRecord = HandRecord(0, "SOMETHING_ELSE", "a.txt", "", 0x80);

INSTANTIATE_TEST_SUITE_P(
    Tails, TailTest,
    ::testing::Values(
        TailCase{"BareImage", "", 0, WalkEnd::Image, 0},
        TailCase{"SizeOf659", std::string(656, '\0') + BigEndian(659), 0, WalkEnd::Image, 0},
        TailCase{"SizeOf660", kUserRecord, 1000, WalkEnd::Image, 1},
        TailCase{"SizeBeyondTheFile", std::string(656, '\0') + BigEndian(0x7FFFFFF0), 0,
                 WalkEnd::Image, 0},
        TailCase{"SizeEqualToTheFile", std::string(656, '\0') + BigEndian(1660), 0, WalkEnd::Image,
                 0},
        TailCase{"ForeignNewestRecord", kUserRecord + kForeignRecord, -1, WalkEnd::ForeignRecord,
                 0},
        TailCase{"ForeignOlderRecord", kForeignRecord + kUserRecord, 1660, WalkEnd::ForeignRecord,
                 1},
        TailCase{"ContentBeginsBeforeTheFile", HandRecord(5000, kBaseMarker, "a.txt", "", 0x80), -1,
                 WalkEnd::ForeignRecord, 0},
        TailCase{"ContentSizeCraftedHuge", HandRecord(0xFFFFFFF0u, kBaseMarker, "a.txt", "", 0x80),
                 -1, WalkEnd::ForeignRecord, 0}),
    [](const auto& info) { return std::string(info.param.label); });

// A module whose content begins at the very start of the file has no image
// before it: its offset cannot be told from "not found", so FindModule
// answers 0 for it (never -1, which means a failure), and the walk lists it.
TEST_F(PackageFiles, AModuleAtTheFileStartIsNotAFind) {
  drive_.WriteHostFile("bare.exe",
                       "abc" + HandRecord(3, "QRVX_OEM_INSTALLER", "first.txt", "", 0x80));
  EXPECT_EQ(FindModule(platform(), Package("bare.exe"), "first.txt", nullptr, false, nullptr, 0),
            0);
  const WalkResult walk = WalkModules(platform(), Package("bare.exe"));
  ASSERT_EQ(walk.modules.size(), 1u);
  EXPECT_EQ(walk.modules[0].contentOffset, 0);
}

TEST_F(PackageFiles, ForeignNewestRecordHidesOlderModules) {
  Append("older.txt", "data");
  const std::string package = Host("setup.exe");
  drive_.WriteHostFile("setup.exe", package + kForeignRecord);
  EXPECT_EQ(Find("older.txt"), -1);
  const WalkResult walk = WalkModules(platform(), Package());
  EXPECT_EQ(walk.end, WalkEnd::ForeignRecord);
  EXPECT_EQ(walk.stopOffset, static_cast<std::int64_t>(package.size() + 660));
}

TEST_F(PackageFiles, AnUnopenablePackageGivesMinusOne) {
  ModuleRecord record;
  record.fileName = "untouched";
  std::int32_t offset = -77;
  EXPECT_EQ(FindModule(platform(), Package("missing.exe"), "", &offset, false, &record, 0), -1);
  EXPECT_EQ(offset, -77);
  EXPECT_EQ(record.fileName, "untouched");
  EXPECT_EQ(WalkModules(platform(), Package("missing.exe")).end, WalkEnd::ReadFailure);
}

// ---- BuildModuleRecord ------------------------------------------------------

struct BuildCase {
  const char* label;
  std::optional<PredefinedSet> set;  // none: user-defined
  std::size_t dirLength;
  const char* marker;  // nullptr: the build fails
};

class BuildTest : public PackageFiles, public ::testing::WithParamInterface<BuildCase> {};

TEST_P(BuildTest, DescribesTheSource) {
  const BuildCase& c = GetParam();
  drive_.WriteHostFile("src.bin", Pattern(1234));
  ModuleRecord record;
  record.fileName = "untouched";
  const std::string dir(c.dirLength, 'd');
  const bool built = BuildModuleRecord(platform(), drive_.WinPath("src.bin"), record, dir, c.set);
  if (c.marker == nullptr) {
    EXPECT_FALSE(built);
    EXPECT_EQ(record.fileName, "untouched");
    return;
  }
  ASSERT_TRUE(built);
  EXPECT_EQ(record.marker, c.marker);
  EXPECT_EQ(record.fileName, "src.bin");
  EXPECT_EQ(record.extractDir, dir);
  EXPECT_EQ(record.contentSize, 1234u);
  EXPECT_EQ(record.attributes, 0x80u);
  EXPECT_EQ(record.recordSize, 660u);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BuildTest,
    ::testing::Values(
        BuildCase{"UserDefined", std::nullopt, 0, kBaseMarker},
        BuildCase{"Kestrin", PredefinedSet::Kestrin, 3, MarkerOf(PredefinedSet::Kestrin)},
        BuildCase{"Ovin", PredefinedSet::Ovin, 0, MarkerOf(PredefinedSet::Ovin)},
        BuildCase{"Pellor", PredefinedSet::Pellor, 0, MarkerOf(PredefinedSet::Pellor)},
        BuildCase{"KestrinAndOvin", PredefinedSet::KestrinOvin, 0,
                  MarkerOf(PredefinedSet::KestrinOvin)},
        // Values that name no set: a suffix of no set, and none at all.
        BuildCase{"UnknownSetFails", static_cast<PredefinedSet>('5'), 0, nullptr},
        BuildCase{"SetZeroFails", static_cast<PredefinedSet>(0), 0, nullptr},
        // "X:\" + 243 + "\~BV00000.TMP": the longest path an install
        // opens is that of the staging file beside "src.bin".
        BuildCase{"DirOfTheLongestPathFits", std::nullopt, 243, kBaseMarker},
        BuildCase{"DirOfALongerPathIsRefused", std::nullopt, 244, nullptr},
        BuildCase{"DirOf260IsRefused", std::nullopt, 260, nullptr}),
    [](const auto& info) { return std::string(info.param.label); });

// What every install would refuse is never described, so never appended.
TEST_F(PackageFiles, BuildRefusesANameOrFolderThatAnInstallRefuses) {
  // "con.txt" need not exist (Windows cannot hold it): the name is judged first.
  drive_.WriteHostFile("m.bin", "module");
  const std::pair<const char*, const char*> cases[] = {{"con.txt", ""},
                                                       {"m.bin", "..\\..\\Windows"}};
  for (const auto& [name, dir] : cases) {
    ModuleRecord record;
    platform().system.SetLastError(0);
    EXPECT_FALSE(
        BuildModuleRecord(platform(), drive_.WinPath(name), record, dir, PredefinedSet::Ovin))
        << name;
    EXPECT_EQ(platform().system.LastError(), win::kErrorInvalidName) << name;
  }
}

TEST_F(PackageFiles, BuildFailsForAMissingSource) {
  ModuleRecord record;
  EXPECT_FALSE(BuildModuleRecord(platform(), drive_.WinPath("nope.bin"), record, "", std::nullopt));
}

TEST(FileNameFromPath, KeepsTheLastComponent) {
  TestPlatform test;
  const struct {
    const char* path;
    const char* name;
    bool result;
  } cases[] = {{"C:\\dir\\file.exe", "file.exe", true},
               {"file.exe", "file.exe", true},
               {"C:\\a\\b\\c", "c", true},
               {"", "", false}};
  for (const auto& c : cases) {
    std::string path = c.path;
    EXPECT_EQ(FileNameFromPath(test.system(), path), c.result) << c.path;
    EXPECT_EQ(path, c.name) << c.path;
  }
}

// ---- AppendModule -----------------------------------------------------------

TEST_F(PackageFiles, AReadOnlyPackageIsAppendedToAndStaysWritable) {
  ASSERT_TRUE(test_.files().SetAttributes(drive_.WinPath("setup.exe"), win::kAttrReadOnly));
  Append("m.txt", "content");
  EXPECT_EQ(test_.files().GetAttributes(drive_.WinPath("setup.exe")) & win::kAttrReadOnly, 0u);
  EXPECT_EQ(Find("m.txt"), static_cast<std::int32_t>(kImage));
}

TEST_F(PackageFiles, AppendingNeverCreatesAPackage) {
  drive_.WriteHostFile("m.txt", "content");
  ModuleRecord record;
  ASSERT_TRUE(BuildModuleRecord(platform(), drive_.WinPath("m.txt"), record, "", std::nullopt));
  EXPECT_EQ(AppendModule(platform(), drive_.WinPath("m.txt"), drive_.WinPath("new.exe"), record),
            AppendResult::Failed);
  EXPECT_FALSE(drive_.HostExists("new.exe"));
}

struct RefusedAppendCase {
  const char* label;
  std::string sourceAtAppend;  // the source's content when it is appended
  std::uint32_t recordSize;
};

class RefusedAppend : public PackageFiles,
                      public ::testing::WithParamInterface<RefusedAppendCase> {};

// A record that would not describe what lies before it is never written.
TEST_P(RefusedAppend, LeavesThePackageAsItWas) {
  const RefusedAppendCase& c = GetParam();
  Append("keep.txt", "kept");
  const std::string before = Host("setup.exe");
  drive_.WriteHostFile("m.bin", Pattern(3000));
  ModuleRecord record;
  ASSERT_TRUE(BuildModuleRecord(platform(), drive_.WinPath("m.bin"), record, "", std::nullopt));
  record.recordSize = c.recordSize;
  drive_.WriteHostFile("m.bin", c.sourceAtAppend);
  EXPECT_EQ(AppendModule(platform(), drive_.WinPath("m.bin"), drive_.WinPath("setup.exe"), record),
            AppendResult::Failed);
  EXPECT_EQ(Host("setup.exe"), before);
  EXPECT_EQ(Find("keep.txt"), static_cast<std::int32_t>(kImage));
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedAppend,
                         ::testing::Values(RefusedAppendCase{"SourceShrank", Pattern(2999), 660},
                                           RefusedAppendCase{"SourceGrew", Pattern(3001), 660},
                                           RefusedAppendCase{"RecordSizeNotTheFormats",
                                                             Pattern(3000), 1000},
                                           RefusedAppendCase{"RecordSizeZero", Pattern(3000), 0}),
                         [](const auto& info) { return std::string(info.param.label); });

// ---- ExtractModule ----------------------------------------------------------

constexpr std::uint32_t kAttrSystem = 0x04;

struct AttributeCase {
  std::uint32_t requested;
  std::uint32_t mustHave;
};

class ExtractAttributes : public PackageFiles,
                          public ::testing::WithParamInterface<AttributeCase> {};

TEST_P(ExtractAttributes, TheNewFileGetsTheRequestedBits) {
  Append("m.txt", "content");
  ASSERT_TRUE(ExtractModule(platform(), Package(), drive_.WinPath("out.txt"), kImage, 7,
                            GetParam().requested));
  const std::uint32_t bits = test_.files().GetAttributes(drive_.WinPath("out.txt"));
  EXPECT_EQ(bits & (win::kAttrReadOnly | win::kAttrHidden | kAttrSystem), GetParam().mustHave);
  EXPECT_EQ(Host("out.txt"), "content");
}

INSTANTIATE_TEST_SUITE_P(Bits, ExtractAttributes,
                         ::testing::Values(AttributeCase{0x80, 0}, AttributeCase{0x01, 0x01},
                                           AttributeCase{0x02, 0x02}, AttributeCase{0x03, 0x03},
                                           // Bits the format does not define never land.
                                           AttributeCase{0x06, 0x02}, AttributeCase{0x04, 0}));

TEST_F(PackageFiles, ExtractNeverReplacesAnExistingEntry) {
  Append("m.txt", "content");
  drive_.WriteHostFile("plain.txt", "old");
  drive_.WriteHostFile("locked.txt", "old");
  ASSERT_TRUE(test_.files().SetAttributes(drive_.WinPath("locked.txt"), win::kAttrReadOnly));
  drive_.MakeHostDirectory("folder");
  for (const char* name : {"plain.txt", "locked.txt", "folder"}) {
    EXPECT_FALSE(ExtractModule(platform(), Package(), drive_.WinPath(name), kImage, 7, 0x80))
        << name;
  }
  EXPECT_EQ(Host("plain.txt"), "old");
  EXPECT_EQ(Host("locked.txt"), "old");
  EXPECT_TRUE(test_.files().IsDirectory(drive_.WinPath("folder")));
  EXPECT_TRUE(test_.prompts().messages().empty());
}

TEST_F(PackageFiles, ExtractFromATruncatedPackageFailsAndLeavesNoFile) {
  Append("m.bin", Pattern(5000));
  const std::string package = Host("setup.exe");
  drive_.WriteHostFile("setup.exe", package.substr(0, kImage + 3000));
  ExtractReport report;
  EXPECT_FALSE(ExtractModule(platform(), Package(), drive_.WinPath("out.bin"), kImage, 5000, 0x80,
                             {}, &report));
  EXPECT_EQ(test_.system().LastError(), 38u) << "end of file";
  EXPECT_FALSE(drive_.HostExists("out.bin"));
  // A package cut short is the package's fault, not the drive's: the install
  // ends as with an unreadable package.
  EXPECT_EQ(report.result, ExtractResult::PackageUnreadable);

  // So does a read of the package that fails during the copy.
  drive_.WriteHostFile("setup.exe", package);
  test_.faults().FailNth(testing::FaultyFileSystem::Op::Read,
                         test_.faults().Count(testing::FaultyFileSystem::Op::Read) + 1,
                         win::kErrorWriteProtect);
  EXPECT_FALSE(ExtractModule(platform(), Package(), drive_.WinPath("out.bin"), kImage, 5000, 0x80,
                             {}, &report));
  EXPECT_EQ(report.result, ExtractResult::PackageUnreadable);
  EXPECT_FALSE(drive_.HostExists("out.bin"));
}

// Notes the bits each created file has when its writer lets go of it.
class ClosingWatch : public testing::FaultyFileSystem {
 public:
  using FaultyFileSystem::FaultyFileSystem;
  FileHandle CreateExclusive(const std::string& path) override {
    const FileHandle file = FaultyFileSystem::CreateExclusive(path);
    if (file != kNoFile) paths_[file] = path;
    return file;
  }
  FileHandle CreateExclusiveWithAttributes(const std::string& path,
                                           std::uint32_t attributes) override {
    const FileHandle file = FaultyFileSystem::CreateExclusiveWithAttributes(path, attributes);
    if (file != kNoFile) paths_[file] = path;
    return file;
  }
  bool Close(FileHandle file) override {
    if (auto it = paths_.find(file); it != paths_.end()) {
      bitsAtClose.push_back(GetAttributes(it->second));
      paths_.erase(it);
    }
    return FaultyFileSystem::Close(file);
  }
  std::vector<std::uint32_t> bitsAtClose;

 private:
  std::map<FileHandle, std::string> paths_;
};

// A staging file has its final bits before its writer lets go of it: from
// then on another run's cleanup sees no leftover in it.
TEST_F(PackageFiles, AStagingFileIsNeverLetGoWithItsStagingBits) {
  Append("m.txt", "content");
  ClosingWatch watch(test_.files(), test_.system());
  const Platform watched{watch, test_.system(), test_.registry(), test_.prompts()};
  ASSERT_TRUE(
      ExtractModule(watched, Package(), drive_.WinPath("o.txt"), kImage, 7, win::kAttrHidden));
  ASSERT_EQ(watch.bitsAtClose.size(), 1u);
  EXPECT_EQ(watch.bitsAtClose[0] & (win::kAttrHidden | win::kAttrSystem), win::kAttrHidden);
}

TEST_F(PackageFiles, ExtractShowsTheWaitCursorAndBalancesIt) {
  Append("m.txt", "content");
  ASSERT_TRUE(ExtractModule(platform(), Package(), drive_.WinPath("o.txt"), kImage, 7, 0x80));
  EXPECT_EQ(test_.prompts().wait_begins(), 1);
  EXPECT_TRUE(test_.prompts().WaitBalanced());
}

TEST_F(PackageFiles, ProgressReachesTheTotal) {
  const std::string content = Pattern(kCopyBlockSize * 2 + 10);
  drive_.WriteHostFile("m.bin", content);
  ModuleRecord record;
  ASSERT_TRUE(BuildModuleRecord(platform(), drive_.WinPath("m.bin"), record, "", std::nullopt));
  std::vector<std::uint64_t> seen;
  const ProgressFn progress = [&](std::uint64_t done, std::uint64_t total) {
    EXPECT_EQ(total, content.size());
    seen.push_back(done);
  };
  ASSERT_EQ(AppendModule(platform(), drive_.WinPath("m.bin"), drive_.WinPath("setup.exe"), record,
                         progress),
            AppendResult::Appended);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen.back(), content.size());
  seen.clear();
  ASSERT_TRUE(ExtractModule(platform(), Package(), drive_.WinPath("o.bin"), kImage,
                            record.contentSize, 0x80, {progress}));
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen.back(), content.size());
}

}  // namespace
}  // namespace brelvane

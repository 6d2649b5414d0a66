// The texts of the builder's module list, one row per record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/module_list.h"
#include "builder/predefined_modules.h"

namespace brelvane {
namespace {

struct RowCase {
  const char* label;
  const char* marker;
  std::uint32_t contentSize;
  const char* extractDir;
  std::uint32_t attributes;
  // Expected columns 1..4 and model.
  const char* predefined;
  const char* size;
  const char* extractTo;
  const char* attributeText;
  const char* model;
};

class ModuleRowTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(ModuleRowTest, ShowsTheColumnsOfTheRecord) {
  const RowCase& c = GetParam();
  ModuleRecord record;
  record.marker = c.marker;
  record.fileName = "module.bin";
  record.contentSize = c.contentSize;
  record.extractDir = c.extractDir;
  record.attributes = c.attributes;
  record.recordSize = 660;
  const ModuleRow row = MakeModuleRow(record);
  EXPECT_EQ(row.name, "module.bin");
  EXPECT_EQ(row.predefined, c.predefined);
  EXPECT_EQ(row.size, c.size);
  EXPECT_EQ(row.extractTo, c.extractTo);
  EXPECT_EQ(row.attributes, c.attributeText);
  if (c.model == nullptr) {
    EXPECT_EQ(row.model, nullptr);
  } else {
    ASSERT_NE(row.model, nullptr);
    EXPECT_STREQ(row.model, c.model);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ModuleRowTest,
    ::testing::Values(RowCase{"UserDefined", "QRVX_OEM_INSTALLER", 1234, "", 0x80, "", "1234",
                              "User Defined", "Normal", nullptr},
                      RowCase{"UserDefinedWithDir", "QRVX_OEM_INSTALLER", 0, "sub", 0x80, "", "0",
                              "User Definedsub", "Normal", nullptr},
                      RowCase{"Kestrin", "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_T", 5,
                              "windows\\desktop", 0x03, "Yes-KESTRIN", "5",
                              "Root\\windows\\desktop", "Read Only, Hidden", "kestrin"},
                      RowCase{"OvinAtRoot", "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_A", 442368, "", 0x80,
                              "Yes-OVIN", "442368", "Root\\", "Normal", "ovin"},
                      RowCase{"Pellor", "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_G", 7, "p", 0x81,
                              "Yes-PELLOR", "7", "Root\\p", "Normal, Read Only", "pellor"},
                      RowCase{"Combined", "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_4", 9, "", 0x83,
                              "Yes-KES+OVIN", "9", "Root\\", "Normal, Read Only, Hidden",
                              "kestrin+ovin"},
                      RowCase{"UnknownSuffix", "QRVX_OEM_INSTALLER_PREDEFFILE_IDX_Z", 1, "", 0x02,
                              "", "1", "Root\\", "Hidden", nullptr},
                      RowCase{"NoKnownBits", "QRVX_OEM_INSTALLER", 1, "", 0x20, "", "1",
                              "User Defined", "", nullptr},
                      RowCase{"SizeShownSigned", "QRVX_OEM_INSTALLER", 0x80000000u, "", 0, "",
                              "-2147483648", "User Defined", "", nullptr}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ModuleRows, KeepTheWalkOrderNewestFirst) {
  WalkResult walk;
  for (const char* name : {"newest.exe", "older.exe", "oldest.exe"}) {
    WalkedModule module;
    module.record.fileName = name;
    module.record.marker = kBaseMarker;
    if (name[1] == 'l') module.contentCheck = 7;  // the older two carry a check
    walk.modules.push_back(module);
  }
  walk.end = WalkEnd::ForeignRecord;
  const auto rows = ModuleRows(walk);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].name, "newest.exe");
  EXPECT_EQ(rows[2].name, "oldest.exe");
  EXPECT_FALSE(rows[0].checked);
  EXPECT_TRUE(rows[1].checked);
  EXPECT_TRUE(rows[2].checked);
}

TEST(SortedOrder, SizesByNumberTextsIgnoringCaseEqualRowsKeepTheirOrder) {
  std::vector<ModuleRow> rows(4);
  const char* names[] = {"b.txt", "A.txt", "a.txt", "C.txt"};
  const char* sizes[] = {"800", "5000", "-1", "800"};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i].name = names[i];
    rows[i].size = sizes[i];
  }
  using Order = std::vector<std::size_t>;
  EXPECT_EQ(SortedOrder(rows, 0, false), (Order{1, 2, 0, 3}));
  EXPECT_EQ(SortedOrder(rows, 0, true), (Order{3, 0, 1, 2}));
  EXPECT_EQ(SortedOrder(rows, 2, false), (Order{2, 0, 3, 1}));
  EXPECT_EQ(SortedOrder(rows, 2, true), (Order{1, 0, 3, 2}));
}

TEST(PredefinedChoice, ComboIndexGivesAttributeBits) {
  const struct {
    int index;
    std::uint32_t bits;
  } cases[] = {{-1, 0x80}, {0, 0x80}, {1, 0x01}, {2, 0x02}, {3, 0x03}, {4, 0x80}};
  for (const auto& c : cases) EXPECT_EQ(AttributesOfChoice(c.index), c.bits) << c.index;
}

}  // namespace
}  // namespace brelvane

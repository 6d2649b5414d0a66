// The device tables and the three matching rules.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "discovery/device_tables.h"

namespace brelvane {
namespace {

TEST(DeviceTables, CountsOverlapAndOneVendor) {
  EXPECT_EQ(KestrinIds.size(), 13u);
  EXPECT_EQ(KestrinExtraIds.size(), 4u);
  EXPECT_EQ(OvinIds.size(), 2u);
  EXPECT_EQ(OvinSecondaryIds.size(), 0u);
  EXPECT_EQ(PellorIds.size(), 2u);

  std::set<std::string> distinct, kestrin;
  for (auto table : {KestrinIds, KestrinExtraIds, OvinIds, OvinSecondaryIds, PellorIds})
    for (auto id : table) distinct.insert(AnsiLower(id));
  EXPECT_EQ(distinct.size(), 17u);
  for (auto id : KestrinIds) kestrin.insert(std::string(id));
  for (auto id : KestrinExtraIds) EXPECT_TRUE(kestrin.count(std::string(id))) << id;

  const std::string vendor = AnsiLower(KestrinIds[0].substr(0, 12));
  for (const std::string& id : distinct) EXPECT_EQ(id.substr(0, 12), vendor);
}

TEST(DeviceTables, FixedPartsAreWrittenInTheirOwnCase) {
  struct Spelling {
    const char* table;
    HardwareIdTable ids;
    std::size_t index;
    const char* vid;
    const char* pid;
  };
  const Spelling cases[] = {
      {"Kestrin", KestrinIds, 0, "USB\\Vid_", "&Pid_"},
      {"Kestrin", KestrinIds, 12, "USB\\Vid_", "&Pid_"},
      {"extra", KestrinExtraIds, 3, "USB\\Vid_", "&Pid_"},
      {"Ovin 1", OvinIds, 0, "USB\\VID_", "&PID_"},
      {"Ovin 2", OvinIds, 1, "USB\\Vid_", "&Pid_"},
      {"Pellor 1", PellorIds, 0, "USB\\VID_", "&PID_"},
      {"Pellor 2", PellorIds, 1, "USB\\VID_", "&PID_"},
  };
  for (const Spelling& c : cases) {
    SCOPED_TRACE(c.table);
    std::string_view id = c.ids[c.index];
    ASSERT_EQ(id.size(), 21u);
    EXPECT_EQ(id.substr(0, 8), c.vid);
    EXPECT_EQ(id.substr(12, 5), c.pid);
  }
}

struct MatchCase {
  const char* what;
  std::string candidate;
  std::string_view id;
  bool matches;
};

TEST(MatchingRules, HardwareIdIgnoresCaseOverTheIdsLength) {
  const std::string_view mixed = "USB\\Vid_2F1C&Pid_2202";
  const std::string_view upper = "USB\\VID_2F1C&PID_2201";
  const MatchCase cases[] = {
      {"upper-case candidate", "USB\\VID_2F1C&PID_2202", mixed, true},
      {"lower-case candidate", "usb\\vid_2f1c&pid_2202", mixed, true},
      {"lower-case candidate, upper-case id", "usb\\vid_2f1c&pid_2201", upper, true},
      {"instance id after the id", "USB\\VID_2F1C&PID_2202\\0123456789AB", mixed, true},
      {"anything after the id", "USB\\VID_2F1C&PID_2202XYZ", mixed, true},
      {"one character short", "USB\\VID_2F1C&PID_220", mixed, false},
      {"other product", "USB\\VID_2F1C&PID_2203\\1", mixed, false},
      {"other vendor", "USB\\VID_2F1D&PID_2202\\1", mixed, false},
      {"empty candidate", "", mixed, false},
      {"prefix mid-string", "X USB\\VID_2F1C&PID_2202", mixed, false},
      {"bytes above ASCII are compared as they are", "USB\\VID_2F1C&PID_220\xC4",
       "USB\\VID_2F1C&PID_220\xE4", false},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(MatchesHardwareId(c.candidate, c.id), c.matches);
  }
}

TEST(MatchingRules, TableMatchTriesEveryIdAndEmptyTableNone) {
  EXPECT_TRUE(MatchesAnyHardwareId("usb\\vid_2f1c&pid_2202\\9", OvinIds));
  EXPECT_TRUE(MatchesAnyHardwareId("USB\\VID_2F1C&PID_110D\\9", KestrinIds));
  EXPECT_FALSE(MatchesAnyHardwareId("USB\\VID_2F1C&PID_110D\\9", KestrinExtraIds));
  EXPECT_FALSE(MatchesAnyHardwareId("USB\\VID_2F1C&PID_2201\\9", OvinSecondaryIds));
  EXPECT_FALSE(MatchesAnyHardwareId("USB\\VID_2F1C&PID_2201\\9", PellorIds));
}

TEST(MatchingRules, DiskIdIsACaseSensitivePrefix) {
  const MatchCase cases[] = {
      {"with revision and instance", "USBSTOR\\Disk&Ven_Quorvix&Prod_OEM_Flash&Rev_1.00\\7&1&0",
       OemDiskId, true},
      {"product merely begins with OEM", "USBSTOR\\Disk&Ven_Quorvix&Prod_OEMX", OemDiskId, true},
      {"exactly the id", std::string(OemDiskId), OemDiskId, true},
      {"lower case", "usbstor\\disk&ven_quorvix&prod_oem_flash", OemDiskId, false},
      {"one byte short", "USBSTOR\\Disk&Ven_Quorvix&Prod_OE", OemDiskId, false},
      {"other product", "USBSTOR\\Disk&Ven_Quorvix&Prod_Pellor", OemDiskId, false},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(MatchesDiskId(c.candidate, c.id), c.matches);
  }
}

TEST(MatchingRules, ScsiIdComparesAllButTheRevision) {
  const MatchCase cases[] = {
      {"primary, revision 0", "SCSI\\QUORVIX_OEM_____________0\\X", OemScsiIdPrimary, true},
      {"primary, revision 1", "SCSI\\QUORVIX_OEM_____________1\\X", OemScsiIdPrimary, true},
      {"secondary, revision 0", "SCSI\\QUORVIX_OEM_____________0\\X", OemScsiIdSecondary, true},
      {"any revision", "SCSI\\QUORVIX_OEM_____________Z", OemScsiIdPrimary, true},
      {"no revision at all", "SCSI\\QUORVIX_OEM_____________", OemScsiIdPrimary, true},
      {"one underscore short", "SCSI\\QUORVIX_OEM____________", OemScsiIdPrimary, false},
      {"lower case", "scsi\\quorvix_oem_____________0", OemScsiIdPrimary, false},
      {"other product", "SCSI\\QUORVIX_PELLOR__________0", OemScsiIdSecondary, false},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(MatchesScsiId(c.candidate, c.id), c.matches);
  }
}

}  // namespace
}  // namespace brelvane

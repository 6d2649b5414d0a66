// The ids by which discovery recognises the supported drives, and the three
// rules by which registry strings are compared with them.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace brelvane {

// USB hardware ids ("USB\Vid_xxxx&Pid_xxxx", 21 characters), in the order
// they are tried.  An empty table holds no ids.
using HardwareIdTable = std::span<const std::string_view>;

extern const HardwareIdTable KestrinIds;
extern const HardwareIdTable KestrinExtraIds;  // each also in KestrinIds
extern const HardwareIdTable OvinIds;
extern const HardwareIdTable OvinSecondaryIds;  // none
extern const HardwareIdTable PellorIds;

// The Ovin drive's disk as the NT disk driver lists it.
inline constexpr std::string_view OemDiskId = "USBSTOR\\Disk&Ven_Quorvix&Prod_OEM";
// The same disk when the drive runs on USB Attached SCSI: the storage port
// driver lists it under the SCSI enumerator, with the same vendor and
// product fields.
inline constexpr std::string_view OemUasDiskId = "SCSI\\Disk&Ven_Quorvix&Prod_OEM";
// Its 9x hardware key: "SCSI\", vendor field, product field, revision.
inline constexpr std::string_view OemScsiIdPrimary = "SCSI\\QUORVIX_OEM_____________0";
inline constexpr std::string_view OemScsiIdSecondary = "SCSI\\QUORVIX_OEM_____________1";

static_assert(OemDiskId.size() == 33);
static_assert(OemScsiIdPrimary.size() == 30 && OemScsiIdSecondary.size() == 30);

// Lower-cases the bytes A-Z.  Stands for the C runtime's multibyte-aware
// lower-casing in the ANSI code page, which leaves lead and trail bytes
// of double-byte characters alone and only folds ASCII letters in the
// code pages the drives are sold with.
std::string AnsiLower(std::string_view text);

// Hardware-id rule: the candidate's first id.size() bytes equal the id,
// both lower-cased; whatever follows (the instance id) is not looked at.
bool MatchesHardwareId(std::string_view candidate, std::string_view id);
// The same over a table: true at the first id that matches.
bool MatchesAnyHardwareId(std::string_view candidate, HardwareIdTable table);
// Disk-id rule: case-sensitive, the candidate begins with the whole id.
bool MatchesDiskId(std::string_view candidate, std::string_view disk_id);
// SCSI-id rule: case-sensitive over the id less its revision character.
bool MatchesScsiId(std::string_view candidate, std::string_view scsi_id);

}  // namespace brelvane

// The three rules by which discovery compares registry strings with the ids
// of the supported drives (the ids are the drive models' catalogue's).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "common/drive_models.h"

namespace brelvane {

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

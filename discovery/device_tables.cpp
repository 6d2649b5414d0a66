#include "discovery/device_tables.h"

namespace brelvane {
namespace {

constexpr bool AllIdsAre21Long(HardwareIdTable ids) {
  for (auto id : ids)
    if (id.size() != 21) return false;
  return true;
}
constexpr bool EveryDetectionIdIs21Long() {
  for (const DriveModelRow& row : kDriveModels)
    for (HardwareIdTable table : row.detectionTables)
      if (!AllIdsAre21Long(table)) return false;
  return true;
}
static_assert(EveryDetectionIdIs21Long());
static_assert(OemDiskId.size() == 33);
static_assert(OemScsiIdPrimary.size() == 30 && OemScsiIdSecondary.size() == 30);

}  // namespace

std::string AnsiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool MatchesHardwareId(std::string_view candidate, std::string_view id) {
  if (id.empty() || candidate.size() < id.size()) return false;
  return AnsiLower(candidate.substr(0, id.size())) == AnsiLower(id);
}

bool MatchesAnyHardwareId(std::string_view candidate, HardwareIdTable table) {
  for (std::string_view id : table)
    if (MatchesHardwareId(candidate, id)) return true;
  return false;
}

bool MatchesDiskId(std::string_view candidate, std::string_view disk_id) {
  return candidate.starts_with(disk_id);
}

bool MatchesScsiId(std::string_view candidate, std::string_view scsi_id) {
  if (scsi_id.empty()) return false;
  return candidate.starts_with(scsi_id.substr(0, scsi_id.size() - 1));
}

}  // namespace brelvane

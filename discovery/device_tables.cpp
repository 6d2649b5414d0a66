#include "discovery/device_tables.h"

namespace brelvane {
namespace {

// The drive maker's USB vendor id is 2F1C for every model.  Product ids:
//   Kestrin  1101-110D (13 ids; 1102, 1105, 1108 and 110B are also the
//            "extra" Kestrin ids, the later hardware revisions)
//   Ovin     2201 and 2202
//   Pellor   3301 and 3302
// The fixed parts are written as the drivers' INF files spell them: the
// Kestrin ids "Vid_"/"Pid_", the first Ovin id and both Pellor ids
// "VID_"/"PID_".  Matching ignores letter case, so the spelling only
// documents where each id came from.
constexpr std::string_view kKestrin[] = {
    "USB\\Vid_2F1C&Pid_1101", "USB\\Vid_2F1C&Pid_1102", "USB\\Vid_2F1C&Pid_1103",
    "USB\\Vid_2F1C&Pid_1104", "USB\\Vid_2F1C&Pid_1105", "USB\\Vid_2F1C&Pid_1106",
    "USB\\Vid_2F1C&Pid_1107", "USB\\Vid_2F1C&Pid_1108", "USB\\Vid_2F1C&Pid_1109",
    "USB\\Vid_2F1C&Pid_110A", "USB\\Vid_2F1C&Pid_110B", "USB\\Vid_2F1C&Pid_110C",
    "USB\\Vid_2F1C&Pid_110D",
};
constexpr std::string_view kKestrinExtra[] = {
    "USB\\Vid_2F1C&Pid_1102",
    "USB\\Vid_2F1C&Pid_1105",
    "USB\\Vid_2F1C&Pid_1108",
    "USB\\Vid_2F1C&Pid_110B",
};
constexpr std::string_view kOvin[] = {"USB\\VID_2F1C&PID_2201", "USB\\Vid_2F1C&Pid_2202"};
constexpr std::string_view kPellor[] = {"USB\\VID_2F1C&PID_3301", "USB\\VID_2F1C&PID_3302"};

constexpr bool AllIdsAre21Long(std::span<const std::string_view> ids) {
  for (auto id : ids)
    if (id.size() != 21) return false;
  return true;
}
static_assert(AllIdsAre21Long(kKestrin) && AllIdsAre21Long(kKestrinExtra) &&
              AllIdsAre21Long(kOvin) && AllIdsAre21Long(kPellor));

}  // namespace

constinit const HardwareIdTable KestrinIds{kKestrin};
constinit const HardwareIdTable KestrinExtraIds{kKestrinExtra};
constinit const HardwareIdTable OvinIds{kOvin};
constinit const HardwareIdTable OvinSecondaryIds{};
constinit const HardwareIdTable PellorIds{kPellor};

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

#include <array>
#include <span>
#include <string>

#include "discovery/device_tables.h"
#include "discovery/discovery.h"
#include "discovery/registry_walks.h"

namespace brelvane {
namespace {

constexpr std::size_t kPresenceBuffer9x = 260;

enum Model { kKestrin, kOvin, kPellor, kModelCount };

// One pass a model: the tables tried, in order.
std::span<const HardwareIdTable> TablesOf(int model) {
  static const HardwareIdTable kestrin[] = {KestrinIds, KestrinExtraIds};
  static const HardwareIdTable ovin[] = {OvinIds, OvinSecondaryIds};
  static const HardwareIdTable pellor[] = {PellorIds};
  switch (model) {
    case kKestrin: return kestrin;
    case kOvin: return ovin;
    default: return pellor;
  }
}

bool MatchesModel(std::string_view candidate, int model) {
  for (HardwareIdTable table : TablesOf(model))
    if (MatchesAnyHardwareId(candidate, table)) return true;
  return false;
}

using Seen = std::array<bool, kModelCount>;

// NT family: the mass-storage driver's numbered list of USB devices, read
// anew in every pass.
bool DetectNt(Registry& registry, Seen* seen) {
  ScopedKey list(registry);
  if (!list.Open(kHkeyLocalMachine, kUsbStorEnumKey, win::kKeyRead)) return false;
  std::uint32_t count = ListedDeviceCount(ReadRegDword(registry, list.get(), "Count"));
  for (int model = 0; model < kModelCount; ++model) {
    for (std::uint32_t i = 0; i < count && !(*seen)[model]; ++i)
      (*seen)[model] = MatchesModel(ReadRegString(registry, list.get(), std::to_string(i)), model);
  }
  return true;
}

// 9x family: the configuration manager's list of present devices, opened
// anew in every pass; a pass that cannot open it ends the detection.
void Detect9x(Registry& registry, Seen* seen) {
  for (int model = 0; model < kModelCount; ++model) {
    ScopedKey list(registry);
    if (!list.Open(kHkeyDynData, kConfigManagerEnumKey, win::kKeyRead)) return;
    std::string hardware_key;
    for (std::uint32_t index = 0; !(*seen)[model]; ++index) {
      DeviceEntry entry =
          ReadDeviceEntry(registry, list.get(), index, kPresenceBuffer9x, &hardware_key);
      if (entry == DeviceEntry::EndOfList) break;
      // An entry without a readable hardware key is passed over.
      if (entry == DeviceEntry::HardwareKey) (*seen)[model] = MatchesModel(hardware_key, model);
    }
  }
}

ModelPresence PresenceOf(const Seen& seen) {
  bool k = seen[kKestrin], o = seen[kOvin], p = seen[kPellor];
  if (k && o && p) return 7;
  if (o && p) return 6;
  if (k && p) return 5;
  if (k && o) return 4;
  if (p) return 3;
  if (o) return 2;
  if (k) return 1;
  return 0;
}

}  // namespace

ModelPresence DetectSupportedModels(const Platform& platform, bool ntFamily) {
  Seen seen{};
  if (ntFamily) {
    if (!DetectNt(platform.registry, &seen)) return 0;
  } else {
    Detect9x(platform.registry, &seen);
  }
  return PresenceOf(seen);
}

}  // namespace brelvane

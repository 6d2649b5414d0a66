#include <span>
#include <string>
#include <vector>

#include "common/printable.h"
#include "discovery/device_tables.h"
#include "discovery/discovery.h"
#include "discovery/registry_walks.h"

namespace brelvane {
namespace {

constexpr std::size_t kPresenceBuffer9x = 260;

// A model is seen when a candidate matches an id of one of the tables its
// detection pass tries.
bool MatchesModel(std::string_view candidate, const DriveModelRow& row) {
  for (HardwareIdTable table : row.detectionTables)
    if (MatchesAnyHardwareId(candidate, table)) return true;
  return false;
}

// NT family: the numbered lists of the USB devices that the mass-storage
// driver and the USB Attached SCSI driver serve, read anew in every pass.
// Windows keeps a list only while its driver serves a device, so a missing
// one is empty; with neither, nothing is plugged in.
bool DetectNt(Registry& registry, ModelPresence* seen) {
  ScopedKey usbstor(registry), uasp(registry);
  bool has_usbstor = usbstor.Open(kHkeyLocalMachine, kUsbStorEnumKey, win::kKeyRead);
  bool has_uasp = uasp.Open(kHkeyLocalMachine, kUaspStorEnumKey, win::kKeyRead);
  if (!has_usbstor && !has_uasp) return false;
  struct List {
    RegKey key;
    std::uint32_t count;
  };
  std::vector<List> lists;
  for (const ScopedKey* key : {&usbstor, &uasp})
    if (key->get() != kNoKey)
      lists.push_back({key->get(), ListedDeviceCount(ReadRegDword(registry, key->get(), "Count"))});
  // One pass for each model, in the catalogue's order.
  for (const DriveModelRow& row : kDriveModels) {
    bool found = false;
    for (const List& list : lists)
      for (std::uint32_t i = 0; i < list.count && !found; ++i)
        found = MatchesModel(ReadRegString(registry, list.key, std::to_string(i)), row);
    if (found) seen->Add(row.model);
  }
  return true;
}

// 9x family: the configuration manager's list of present devices, opened
// anew in every pass; a pass that cannot open it ends the detection.
void Detect9x(Registry& registry, ModelPresence* seen) {
  for (const DriveModelRow& row : kDriveModels) {
    bool found = false;
    ScopedKey list(registry);
    if (!list.Open(kHkeyDynData, kConfigManagerEnumKey, win::kKeyRead)) return;
    std::string hardware_key;
    for (std::uint32_t index = 0; !found; ++index) {
      DeviceEntry entry =
          ReadDeviceEntry(registry, list.get(), index, kPresenceBuffer9x, &hardware_key);
      if (entry == DeviceEntry::EndOfList) break;
      // An entry without a readable hardware key is passed over.
      if (entry == DeviceEntry::HardwareKey) found = MatchesModel(hardware_key, row);
    }
    if (found) seen->Add(row.model);
  }
}

// The model a listed device matches, by the catalogue's detection tables.
const char* ModelMatching(std::string_view candidate) {
  for (const DriveModelRow& row : kDriveModels)
    if (MatchesModel(candidate, row)) return row.name;
  return nullptr;
}

// "VID 2F1C, PID 2201" from "USB\VID_2F1C&PID_2201\...", empty when the
// path holds no such ids.
std::string UsbIdsOf(std::string_view path) {
  const std::string lower = AnsiLower(path);
  const std::size_t vid = lower.find("vid_"), pid = lower.find("pid_");
  if (vid == std::string::npos || pid == std::string::npos) return {};
  return ", VID " + std::string(path.substr(vid + 4, 4)) + " PID " +
         std::string(path.substr(pid + 4, 4));
}

std::string DeviceLine(const std::string& where, const std::string& path) {
  const char* model = ModelMatching(path);
  return "USB storage device " + where + ": " + NameInMessage(path) + UsbIdsOf(path) + ", " +
         (model ? std::string("model ") + model : std::string("no supported model"));
}

}  // namespace

std::vector<std::string> DescribeUsbStorageDevices(const Platform& platform, bool ntFamily) {
  Registry& registry = platform.registry;
  std::vector<std::string> lines;
  if (!ntFamily) {
    // The list of present devices holds every device; those of a model are
    // the ones worth a line.
    ScopedKey list(registry);
    if (!list.Open(kHkeyDynData, kConfigManagerEnumKey, win::kKeyRead)) return lines;
    std::string key;
    for (std::uint32_t index = 0;; ++index) {
      DeviceEntry entry = ReadDeviceEntry(registry, list.get(), index, kPresenceBuffer9x, &key);
      if (entry == DeviceEntry::EndOfList) break;
      if (entry == DeviceEntry::HardwareKey && ModelMatching(key))
        lines.push_back(DeviceLine("at " + std::to_string(index), key));
    }
    return lines;
  }
  const struct {
    const char* key;
    const char* driver;
  } drivers[] = {{kUsbStorEnumKey, "USBSTOR"}, {kUaspStorEnumKey, "UASPStor"}};
  for (const auto& driver : drivers) {
    ScopedKey list(registry);
    if (!list.Open(kHkeyLocalMachine, driver.key, win::kKeyRead)) {
      lines.push_back(std::string("USB storage driver ") + driver.driver + ": no devices listed");
      continue;
    }
    std::uint32_t count = ListedDeviceCount(ReadRegDword(registry, list.get(), "Count"));
    // A "Count" beyond the entries there are (a damaged list) is one line,
    // not a line for each entry that is missing.
    std::uint32_t unreadable = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string path = ReadRegString(registry, list.get(), std::to_string(i));
      if (path.empty()) {
        ++unreadable;
        continue;
      }
      lines.push_back(
          DeviceLine(std::string("of ") + driver.driver + " " + std::to_string(i), path));
    }
    if (unreadable != 0)
      lines.push_back(std::string("USB storage driver ") + driver.driver + ": " +
                      std::to_string(unreadable) + " of its " + std::to_string(count) +
                      " numbered entries missing or unreadable");
  }
  return lines;
}

ModelPresence DetectSupportedModels(const Platform& platform, bool ntFamily) {
  ModelPresence seen;
  if (ntFamily) {
    if (!DetectNt(platform.registry, &seen)) return ModelPresence::None;
  } else {
    Detect9x(platform.registry, &seen);
  }
  return seen;
}

}  // namespace brelvane

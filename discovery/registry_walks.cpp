#include "discovery/registry_walks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "discovery/device_tables.h"

namespace brelvane {
namespace {

constexpr std::uint32_t kStringBuffer = 1024;       // ReadRegString's working buffer
constexpr std::uint32_t kParentIdPrefixRoom = 233;  // what is left of 260 after the prefix
constexpr std::uint32_t kMountEntryBuffer = 260;    // what a volume-path mount entry may fill
// A device-path mount entry holds "_??_", an instance path of up to 259
// characters, '#' and a 38-character GUID, as UTF-16: up to 604 bytes.
constexpr std::uint32_t kDevicePathEntryBuffer = 1024;
constexpr std::size_t kDeviceBuffer9x = 520;  // the 9x walk's name and data buffers

// The text of raw value data: up to the first zero byte or the data's end.
std::string TextOf(const std::uint8_t* data, std::uint32_t size) {
  const auto* end = std::find(data, data + size, std::uint8_t{0});
  return std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(end - data));
}

// Reads a value of any type into a buffer of `capacity` bytes; the text of
// its data, or nothing when it cannot be read.
bool ReadText(Registry& registry, RegKey key, const std::string& name, std::uint32_t capacity,
              std::string* text) {
  std::vector<std::uint8_t> buffer(capacity, 0);
  std::uint32_t type = 0;
  std::uint32_t size = capacity;
  if (registry.QueryValue(key, name, &type, buffer.data(), &size) != win::kErrorSuccess)
    return false;
  *text = TextOf(buffer.data(), std::min(size, capacity));
  return true;
}

// The volume path of the disk at `instance`: the removable-media prefix and
// the disk's ParentIdPrefix.  Empty when the disk key or value cannot be read.
std::string VolumePathOf(Registry& registry, const std::string& instance) {
  ScopedKey disk(registry);
  {
    ScopedKey devices(registry);
    if (!devices.Open(kHkeyLocalMachine, kDeviceEnumKey, win::kKeyRead)) return {};
    if (!disk.Open(devices.get(), instance, win::kKeyRead)) return {};
  }  // the parent is closed as soon as the disk's key is open
  std::string prefix;
  if (!ReadText(registry, disk.get(), "ParentIdPrefix", kParentIdPrefixRoom, &prefix)) return {};
  return kVolumePathPrefix + prefix;
}

// The first `count` UTF-16LE units of a mount entry, in the ANSI code page.
std::string MountEntryText(System& system, const std::uint8_t* data, std::size_t count) {
  std::vector<std::uint16_t> wide(count);
  for (std::size_t i = 0; i < count; ++i)
    wide[i] = static_cast<std::uint16_t>(data[2 * i] | data[2 * i + 1] << 8);
  return system.WideToAnsi(wide.data(), wide.size());
}

// How a mount entry can name the drive's volume.
struct VolumeNames {
  // Windows 2000 and XP: "\??\STORAGE#RemovableMedia#" and the disk's
  // ParentIdPrefix, compared case-sensitively.  Empty when the disk gives no
  // ParentIdPrefix (as most do since Windows 8).
  std::string volume_path;
  // Since Vista: the disk's own device path, its instance path with '\' as
  // '#' and a closing '#' (the interface GUID that follows is not compared),
  // lower-cased; behind "_??_" or "\??\".
  std::string device_path;
};

std::string DevicePathOf(const std::string& instance) {
  std::string path = AnsiLower(instance);
  std::replace(path.begin(), path.end(), '\\', '#');
  return path + '#';
}

bool NamesVolumePath(System& system, const std::uint8_t* data, std::uint32_t size,
                     const std::string& volume_path) {
  // This form is read into 260 bytes: a longer entry is not of it.
  if (volume_path.empty() || size > kMountEntryBuffer || size / 2 < volume_path.size())
    return false;
  return MountEntryText(system, data, volume_path.size()).starts_with(volume_path);
}

bool NamesDevicePathText(System& system, const std::uint8_t* data, std::uint32_t size,
                         const std::string& device_path) {
  constexpr std::size_t kPrefix = 4;  // "_??_" or "\??\"
  std::size_t units = kPrefix + device_path.size();
  if (size / 2 < units) return false;
  std::string text = MountEntryText(system, data, units);
  if (!text.starts_with("_??_") && !text.starts_with("\\??\\")) return false;
  return AnsiLower(std::string_view(text).substr(kPrefix)).starts_with(device_path);
}

// True when the mount entry `data` (UTF-16LE text) names the volume in
// either form.  Other entries (fixed disks' 12-byte MBR or "DMIO:ID:" GPT
// data, "\??\Volume{...}" names) name neither.
bool MountEntryNames(System& system, const std::uint8_t* data, std::uint32_t size,
                     const VolumeNames& names) {
  return NamesVolumePath(system, data, size, names.volume_path) ||
         NamesDevicePathText(system, data, size, names.device_path);
}

// Step 1 of the 9x walk: is a device with `usb_id` in the list of present
// devices?
bool UsbDevicePresent9x(Registry& registry, std::string_view usb_id) {
  ScopedKey list(registry);
  if (!list.Open(kHkeyDynData, kConfigManagerEnumKey, win::kKeyRead)) return false;
  std::string hardware_key;
  for (std::uint32_t index = 0;; ++index) {
    switch (ReadDeviceEntry(registry, list.get(), index, kDeviceBuffer9x, &hardware_key)) {
      case DeviceEntry::EndOfList: return false;
      case DeviceEntry::Unreadable: continue;
      case DeviceEntry::HardwareKey:
        if (MatchesHardwareId(hardware_key, usb_id)) return true;
    }
  }
}

// The letter assigned to the device at "Enum\<hardware key>", or 0.
char AssignedLetter9x(Registry& registry, const std::string& hardware_key) {
  ScopedKey device(registry);
  if (!device.Open(kHkeyLocalMachine, "Enum\\" + hardware_key, win::kKeyQueryValue)) return 0;
  std::string letter;
  if (!ReadText(registry, device.get(), "CurrentDriveLetterAssignment", kDeviceBuffer9x, &letter))
    return 0;
  return letter.empty() ? 0 : letter[0];
}

}  // namespace

std::string ReadRegString(Registry& registry, RegKey key, const std::string& name) {
  std::string text;
  if (!ReadText(registry, key, name, kStringBuffer, &text)) return {};
  if (text.size() > kMaxRegString) return {};
  return text;
}

std::uint32_t ReadRegDword(Registry& registry, RegKey key, const std::string& name) {
  std::array<std::uint8_t, 4> bytes{};
  std::uint32_t type = 0;
  std::uint32_t size = bytes.size();
  if (registry.QueryValue(key, name, &type, bytes.data(), &size) != win::kErrorSuccess) return 0;
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint32_t ListedDeviceCount(std::uint32_t count) { return std::min(count, kMaxListedDevices); }

std::string MountEntryName(char letter) { return std::string("\\DosDevices\\") + letter + ":"; }

bool ReadMountEntry(Registry& registry, RegKey mounts, char letter,
                    std::vector<std::uint8_t>* data) {
  data->assign(kDevicePathEntryBuffer, 0);
  std::uint32_t type = 0;
  std::uint32_t size = kDevicePathEntryBuffer;
  if (registry.QueryValue(mounts, MountEntryName(letter), &type, data->data(), &size) !=
      win::kErrorSuccess) {
    data->clear();
    return false;
  }
  data->resize(std::min(size, kDevicePathEntryBuffer));
  return true;
}

bool MountEntryNamesDevicePath(System& system, const std::uint8_t* data, std::uint32_t size,
                               const std::string& instance) {
  return NamesDevicePathText(system, data, size, DevicePathOf(instance));
}

std::vector<std::string> ListedDisks(Registry& registry) {
  std::vector<std::string> disks;
  ScopedKey list(registry);
  if (!list.Open(kHkeyLocalMachine, kDiskEnumKey, win::kKeyRead)) return disks;
  std::uint32_t count = ListedDeviceCount(ReadRegDword(registry, list.get(), "Count"));
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string path = ReadRegString(registry, list.get(), std::to_string(i));
    if (!path.empty()) disks.push_back(std::move(path));
  }
  return disks;
}

std::vector<std::string> FindDiskInstances(Registry& registry,
                                           const std::vector<std::string_view>& disk_ids) {
  std::vector<std::string> found;
  for (std::string& path : ListedDisks(registry)) {
    if (std::any_of(disk_ids.begin(), disk_ids.end(),
                    [&](std::string_view id) { return MatchesDiskId(path, id); }))
      found.push_back(std::move(path));
  }
  return found;
}

int FindDiskInstance(Registry& registry, std::string_view disk_id, std::string* instance) {
  ScopedKey disks(registry);
  if (!disks.Open(kHkeyLocalMachine, kDiskEnumKey, win::kKeyRead)) return -1;
  std::uint32_t count = ListedDeviceCount(ReadRegDword(registry, disks.get(), "Count"));
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string path = ReadRegString(registry, disks.get(), std::to_string(i));
    if (MatchesDiskId(path, disk_id)) {
      if (instance) *instance = path;
      return static_cast<int>(i);
    }
  }
  return -1;
}

char FindDriveLetterNt(const Platform& platform, std::string_view disk_id) {
  Registry& registry = platform.registry;
  std::string instance;
  if (FindDiskInstance(registry, disk_id, &instance) < 0) return 0;
  // A disk without a ParentIdPrefix can still be named by its device path.
  const VolumeNames names{VolumePathOf(registry, instance), DevicePathOf(instance)};

  ScopedKey mounts(registry);
  if (!mounts.Open(kHkeyLocalMachine, kMountedDevicesKey, win::kKeyRead)) return 0;
  std::uint32_t drives = platform.system.LogicalDrives();
  // A and B are floppy letters and never hold the drive.
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    std::vector<std::uint8_t> data;
    if (!ReadMountEntry(registry, mounts.get(), letter, &data)) continue;
    bool present = (drives >> (letter - 'A')) & 1u;
    // Mount entries outlive the drives they name: a matching one whose
    // letter is gone is passed over.
    if (present && MountEntryNames(platform.system, data.data(),
                                   static_cast<std::uint32_t>(data.size()), names))
      return letter;
  }
  return 0;
}

DeviceEntry ReadDeviceEntry(Registry& registry, RegKey list, std::uint32_t index,
                            std::size_t buffer_size, std::string* hardware_key) {
  std::string name;
  long rc = registry.EnumKey(list, index, buffer_size, &name);
  if (rc == win::kErrorMoreData) return DeviceEntry::Unreadable;
  if (rc != win::kErrorSuccess) return DeviceEntry::EndOfList;
  ScopedKey device(registry);
  if (!device.Open(list, name, win::kKeyRead)) return DeviceEntry::Unreadable;
  if (!ReadText(registry, device.get(), "HardWareKey", static_cast<std::uint32_t>(buffer_size),
                hardware_key))
    return DeviceEntry::Unreadable;
  return DeviceEntry::HardwareKey;
}

char FindDriveLetter9x(Registry& registry, std::string_view usb_id, std::string_view scsi_id) {
  if (!UsbDevicePresent9x(registry, usb_id)) return 0;
  ScopedKey list(registry);
  if (!list.Open(kHkeyDynData, kConfigManagerEnumKey, win::kKeyRead)) return 0;
  std::string hardware_key;
  for (std::uint32_t index = 0;; ++index) {
    switch (ReadDeviceEntry(registry, list.get(), index, kDeviceBuffer9x, &hardware_key)) {
      case DeviceEntry::EndOfList: return 0;
      case DeviceEntry::Unreadable: continue;
      case DeviceEntry::HardwareKey:
        if (!MatchesScsiId(hardware_key, scsi_id)) continue;
        // A matching disk without a letter (not yet mounted, or a stale
        // entry) does not hide a later one that has it.
        if (char letter = AssignedLetter9x(registry, hardware_key)) return letter;
    }
  }
}

}  // namespace brelvane

// The registry walks behind discovery: value readers, the NT-family path
// from disk to volume to mount entry, and the 9x-family path through the
// configuration manager's list of present devices.  They only read the
// registry and never report anything: a key or value that cannot be read
// means nothing was found.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace brelvane {

// NT-family places under HKEY_LOCAL_MACHINE.
inline constexpr char kUsbStorEnumKey[] = "System\\CurrentControlSet\\Services\\USBSTOR\\Enum";
// The USB Attached SCSI driver's list of the USB devices it serves.
inline constexpr char kUaspStorEnumKey[] = "System\\CurrentControlSet\\Services\\UASPStor\\Enum";
inline constexpr char kDiskEnumKey[] = "System\\CurrentControlSet\\Services\\Disk\\Enum";
inline constexpr char kDeviceEnumKey[] = "System\\CurrentControlSet\\Enum";
inline constexpr char kMountedDevicesKey[] = "System\\MountedDevices";
inline constexpr char kVolumePathPrefix[] = "\\??\\STORAGE#RemovableMedia#";
// 9x-family list of present devices, under HKEY_DYN_DATA.
inline constexpr char kConfigManagerEnumKey[] = "Config Manager\\Enum";

// The most numbered entries ("0", "1", ...) a device list is read for; a
// larger "Count" is taken as this many.
inline constexpr std::uint32_t kMaxListedDevices = 4096;

// Longest string a caller keeps (259 characters and the terminating zero
// make the 260-byte path buffer).
inline constexpr std::size_t kMaxRegString = 259;

// A value as text: its data up to the first zero byte.  Empty when the
// value is missing, cannot be read into 1024 bytes, or its text is longer
// than kMaxRegString (a cut-off device path would name another device).
std::string ReadRegString(Registry& registry, RegKey key, const std::string& name);

// A value as an unsigned 32-bit number (its first four bytes, little-endian,
// shorter data zero-filled).  0 when it is missing or cannot be read.
std::uint32_t ReadRegDword(Registry& registry, RegKey key, const std::string& name);

// How many numbered entries a list with this "Count" holds: the whole
// number, bounded by kMaxListedDevices.
std::uint32_t ListedDeviceCount(std::uint32_t count);

// The index of the first disk of the disk driver's list whose device
// instance path begins with `disk_id` (case-sensitive), its path copied into
// `instance` when given; -1 when none does.
int FindDiskInstance(Registry& registry, std::string_view disk_id, std::string* instance);

// The letter (C to Z) of the present drive whose mount entry names the
// volume of the first disk matching `disk_id`, 0 for none.  An entry names it
// by the removable-media volume path built from the disk's ParentIdPrefix
// (Windows 2000 and XP), or by the disk's own device path (Vista and later,
// where Windows 8 and later usually give no ParentIdPrefix).
char FindDriveLetterNt(const Platform& platform, std::string_view disk_id);

// Every disk of the disk driver's list, in list order (entries that cannot
// be read left out).
std::vector<std::string> ListedDisks(Registry& registry);

// Every disk of the disk driver's list whose device instance path begins
// with one of `disk_ids` (disk-id rule), in list order.
std::vector<std::string> FindDiskInstances(Registry& registry,
                                           const std::vector<std::string_view>& disk_ids);

// The name of a letter's mount entry ("\DosDevices\E:").
std::string MountEntryName(char letter);

// Reads the mount entry of `letter` from the open "System\MountedDevices"
// key; false when it is missing or longer than any entry can be.
bool ReadMountEntry(Registry& registry, RegKey mounts, char letter,
                    std::vector<std::uint8_t>* data);

// Whether a mount entry holds the device path of the disk at `instance`
// ("_??_" or "\??\", the instance path with '#' for '\', letter case
// ignored), as Vista and later write it for a removable volume.
bool MountEntryNamesDevicePath(System& system, const std::uint8_t* data, std::uint32_t size,
                               const std::string& instance);

// What one entry of the configuration manager's list gave.
enum class DeviceEntry { HardwareKey, Unreadable, EndOfList };

// Reads the "HardWareKey" of the subkey at `index` of the open list, with
// name and data buffers of `buffer_size` bytes.  Unreadable: the subkey's name
// does not fit, the subkey cannot be opened, or it has no readable
// HardWareKey (the walks go on with the next entry).  EndOfList: any other
// enumeration failure, normally the end of the list.
DeviceEntry ReadDeviceEntry(Registry& registry, RegKey list, std::uint32_t index,
                            std::size_t buffer_size, std::string* hardware_key);

// 9x family: 0 unless a device with `usb_id` (hardware-id rule) is present;
// then the letter assignment of the first present device whose hardware key
// matches `scsi_id` (SCSI-id rule) and has one, as the registry stores it.
char FindDriveLetter9x(Registry& registry, std::string_view usb_id, std::string_view scsi_id);

}  // namespace brelvane

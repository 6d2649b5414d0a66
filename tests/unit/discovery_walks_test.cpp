// The registry walks on simulated registries written inline: value readers,
// the NT disk-to-letter path, the 9x device list, and model presence.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "discovery/device_tables.h"
#include "discovery/discovery.h"
#include "discovery/disk_letters.h"
#include "discovery/registry_walks.h"
#include "platform/sim/sim_registry.h"
#include "support/temp_drive.h"

namespace brelvane {
namespace {

// ---- Registry text builders -------------------------------------------------

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

std::string HexBytes(const std::string& bytes) {
  std::string out;
  char part[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(part, sizeof part, "%02x", static_cast<unsigned char>(bytes[i]));
    if (i) out += ',';
    out += part;
  }
  return out;
}

std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

const std::string kHklm = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\";

// A numbered device list ("Count" and "0", "1", ...) under `key`.
std::string NumberedList(const std::string& key, std::uint32_t count,
                         const std::map<int, std::string>& entries) {
  char line[40];
  std::snprintf(line, sizeof line, "\"Count\"=dword:%08x\n", count);
  std::string out = "[" + key + "]\n" + line;
  for (const auto& [index, text] : entries)
    out.append("\"")
        .append(std::to_string(index))
        .append("\"=\"")
        .append(Escape(text))
        .append("\"\n");
  return out;
}

std::string UsbStor(const std::vector<std::string>& devices) {
  std::map<int, std::string> entries;
  for (std::size_t i = 0; i < devices.size(); ++i) entries[static_cast<int>(i)] = devices[i];
  return NumberedList(kHklm + "Services\\USBSTOR\\Enum", static_cast<std::uint32_t>(devices.size()),
                      entries);
}

std::string DiskKey(const std::string& instance, const std::string& parent_id_prefix) {
  return "[" + kHklm + "Enum\\" + instance + "]\n\"ParentIdPrefix\"=\"" + parent_id_prefix + "\"\n";
}

std::string VolumeText(const std::string& parent_id_prefix) {
  return "\\??\\STORAGE#RemovableMedia#" + parent_id_prefix +
         "&RM#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
}

// A volume's mount entry as Vista and later write it: the disk's device path.
std::string DevicePathText(std::string instance, const std::string& prefix = "_??_") {
  std::replace(instance.begin(), instance.end(), '\\', '#');
  return prefix + instance + "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

std::string Mounts(const std::map<char, std::string>& entries) {
  std::string out = "[HKEY_LOCAL_MACHINE\\SYSTEM\\MountedDevices]\n";
  for (const auto& [letter, data] : entries)
    out += std::string("\"\\\\DosDevices\\\\") + letter + ":\"=hex:" + HexBytes(data) + "\n";
  return out;
}

const std::string kOvinUsb = "USB\\VID_2F1C&PID_2201\\0123456789AB";
const std::string kOvinUsb2 = "USB\\Vid_2F1C&Pid_2202\\0000000002";
const std::string kKestrinUsb = "USB\\Vid_2F1C&Pid_1101\\KS07";
const std::string kKestrinExtraUsb = "USB\\VID_2F1C&PID_110B\\KS08";
const std::string kPellorUsb = "USB\\VID_2F1C&PID_3302\\PL42";
const std::string kOtherUsb = "USB\\VID_0781&PID_5567\\4C53";
const std::string kOvinDisk = "USBSTOR\\Disk&Ven_Quorvix&Prod_OEM_Flash&Rev_1.00\\7&1a2b&0";
const std::string kOvinDisk2 = "USBSTOR\\Disk&Ven_Quorvix&Prod_OEM_Flash&Rev_1.00\\7&3c4d&0";

// One Ovin disk, listed as disk 0, with its volume mounted at `letter`.
std::string OvinChain(char letter) {
  return NumberedList(kHklm + "Services\\Disk\\Enum", 1, {{0, kOvinDisk}}) +
         DiskKey(kOvinDisk, "8&aa&0") + Mounts({{letter, Utf16(VolumeText("8&aa&0"))}});
}

std::string Device9x(const std::string& subkey, const std::string& hardware_key) {
  return "[HKEY_DYN_DATA\\Config Manager\\Enum\\" + subkey + "]\n\"HardWareKey\"=\"" +
         Escape(hardware_key) + "\"\n";
}

std::string Letter9x(const std::string& hardware_key, const std::string& letter) {
  return "[HKEY_LOCAL_MACHINE\\Enum\\" + hardware_key + "]\n\"CurrentDriveLetterAssignment\"=\"" +
         letter + "\"\n";
}

const std::string kScsi0 = "SCSI\\QUORVIX_OEM_____________0\\DISK0";
const std::string kScsi1 = "SCSI\\QUORVIX_OEM_____________1\\DISK1";

// A registry that passes everything through but fails chosen opens of one
// key: the `nth` open of `subkey` (0-based) and every open after it.
class FailingOpens : public Registry {
 public:
  FailingOpens(Registry& inner, std::string subkey, int nth)
      : inner_(inner), subkey_(std::move(subkey)), nth_(nth) {}
  long OpenKey(RegKey parent, const std::string& subkey, std::uint32_t access,
               RegKey* out) override {
    if (subkey == subkey_ && opens_++ >= nth_) return win::kErrorAccessDenied;
    return inner_.OpenKey(parent, subkey, access, out);
  }
  long EnumKey(RegKey key, std::uint32_t index, std::size_t capacity, std::string* name) override {
    return inner_.EnumKey(key, index, capacity, name);
  }
  long QueryValue(RegKey key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                  std::uint32_t* size) override {
    return inner_.QueryValue(key, name, type, data, size);
  }
  long CloseKey(RegKey key) override { return inner_.CloseKey(key); }

 private:
  Registry& inner_;
  std::string subkey_;
  int nth_;
  int opens_ = 0;
};

// GetLogicalDrives' mask of present letters.
std::uint32_t MaskOf(const std::string& letters) {
  std::uint32_t mask = 0;
  for (char c : letters) mask |= 1u << (c - 'A');
  return mask;
}

class Walks : public ::testing::Test {
 protected:
  void Load(const std::string& text) {
    std::string error;
    ASSERT_TRUE(registry_.LoadText("REGEDIT4\n" + text, "walk.reg", &error)) << error;
    test_.UseRegistry(registry_);
  }
  // One table row's machine: its registry text and its present letters.
  void UseMachine(SimRegistry& registry, const std::string& text, const std::string& drives) {
    std::string error;
    ASSERT_TRUE(registry.LoadText("REGEDIT4\n" + text, "nt.reg", &error)) << error;
    test_.UseRegistry(registry);
    test_.system().SetLogicalDrives(MaskOf(drives));
  }
  // Every key a walk opened was closed again.
  void ExpectNoOpenKeys() { EXPECT_EQ(registry_.OpenHandleCount(), 0u); }

  SimRegistry registry_;
  testing::TestPlatform test_;
};

// ---- Value readers -----------------------------------------------------------

TEST_F(Walks, ReadRegStringTakesTextUpToTheFirstZeroAndRefusesOverlongText) {
  const std::string long259(259, 'x'), long260(260, 'x'), long1100(1100, 'x');
  Load(
      "[HKEY_LOCAL_MACHINE\\K]\n\"sz\"=\"text\"\n\"bin\"=hex:41,42\n\"inner\"=hex:41,00,42\n"
      "\"dw\"=dword:00434241\n\"l259\"=\"" +
      long259 + "\"\n\"l260\"=\"" + long260 + "\"\n\"l1100\"=\"" + long1100 +
      "\"\n\"empty\"=\"\"\n");
  struct Case {
    const char* name;
    std::string expected;
  };
  const Case cases[] = {
      {"sz", "text"}, {"bin", "AB"}, {"inner", "A"}, {"dw", "ABC"},   {"l259", long259},
      {"l260", ""},   {"l1100", ""}, {"empty", ""},  {"missing", ""},
  };
  ScopedKey key(registry_);
  ASSERT_TRUE(key.Open(kHkeyLocalMachine, "K", win::kKeyRead));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadRegString(registry_, key.get(), c.name), c.expected);
  }
}

TEST_F(Walks, ReadRegDwordIsLittleEndianAndZeroWhenUnreadable) {
  Load(
      "[HKEY_LOCAL_MACHINE\\K]\n\"dw\"=dword:0000012c\n\"two\"=hex:2c,01\n"
      "\"eight\"=hex:01,00,00,00,00,00,00,00\n\"big\"=dword:ffffffff\n");
  struct Case {
    const char* name;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"dw", 300}, {"two", 300}, {"eight", 0}, {"big", 0xFFFFFFFFu}, {"missing", 0}};
  ScopedKey key(registry_);
  ASSERT_TRUE(key.Open(kHkeyLocalMachine, "K", win::kKeyRead));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadRegDword(registry_, key.get(), c.name), c.expected);
  }
}

// ---- NT family: disk list and drive letter --------------------------------------

struct DiskListCase {
  const char* what;
  std::uint32_t count;
  std::map<int, std::string> disks;
  int expected;
};

TEST_F(Walks, FindDiskInstanceTakesTheFirstMatchWithinTheWholeCount) {
  const DiskListCase cases[] = {
      {"no disk matches",
       2,
       {{0, "IDE\\DiskST3500\\5&1"}, {1, "USBSTOR\\Disk&Ven_Other&Prod_X\\1"}},
       -1},
      {"letter case differs", 1, {{0, "USBSTOR\\DISK&VEN_QUORVIX&PROD_OEM_FLASH\\1"}}, -1},
      {"second of two entries", 2, {{0, "IDE\\DiskST3500\\5&1"}, {1, kOvinDisk}}, 1},
      {"two matching disks: lower index", 3, {{1, kOvinDisk2}, {2, kOvinDisk}}, 1},
      {"count 0", 0, {{0, kOvinDisk}}, -1},
      {"entry beyond the count", 1, {{1, kOvinDisk}}, -1},
      {"count 200 read whole", 200, {{199, kOvinDisk}}, 199},
      {"count 300 read whole", 300, {{150, kOvinDisk}}, 150},
      {"count bounded: last entry read", 0xFFFFFFFFu, {{4095, kOvinDisk}}, 4095},
      {"count bounded: beyond the bound", 0xFFFFFFFFu, {{4096, kOvinDisk}}, -1},
  };
  for (const DiskListCase& c : cases) {
    SCOPED_TRACE(c.what);
    SimRegistry registry;
    ASSERT_TRUE(registry.LoadText(
        "REGEDIT4\n" + NumberedList(kHklm + "Services\\Disk\\Enum", c.count, c.disks), "d.reg",
        nullptr));
    std::string instance = "untouched";
    EXPECT_EQ(FindDiskInstance(registry, OemDiskId, &instance), c.expected);
    EXPECT_EQ(instance, c.expected < 0 ? "untouched" : c.disks.at(c.expected));
    EXPECT_EQ(FindDiskInstance(registry, OemDiskId, nullptr), c.expected);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
  }
}

TEST_F(Walks, FindDiskInstanceWithoutTheListOrCount) {
  Load("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum]\n\"0\"=\"" +
       Escape(kOvinDisk) + "\"\n");
  EXPECT_EQ(FindDiskInstance(registry_, OemDiskId, nullptr), -1);
  SimRegistry empty;
  EXPECT_EQ(FindDiskInstance(empty, OemDiskId, nullptr), -1);
}

struct NtLetterCase {
  const char* what;
  std::string registry;
  std::string drives;  // present letters
  char expected;
};

TEST_F(Walks, FindDriveLetterNtFollowsDiskVolumeAndMountEntry) {
  const std::string list = NumberedList(kHklm + "Services\\Disk\\Enum", 1, {{0, kOvinDisk}});
  const std::string disk = DiskKey(kOvinDisk, "8&aa&0");
  const std::string volume = Utf16(VolumeText("8&aa&0"));
  const std::string bare_disk = "[" + kHklm + "Enum\\" + kOvinDisk + "]\n";
  const std::string device = Utf16(DevicePathText(kOvinDisk));
  const std::string long_disk = kOvinDisk + std::string(150, 's');
  const std::string long_list = NumberedList(kHklm + "Services\\Disk\\Enum", 1, {{0, long_disk}});
  const std::string gpt = "DMIO:ID:" + std::string(16, '\x5a');
  const NtLetterCase cases[] = {
      {"one drive", OvinChain('E'), "CE", 'E'},
      {"letter not present", OvinChain('E'), "CD", 0},
      {"stale entry passed over", list + disk + Mounts({{'D', volume}, {'F', volume}}), "CF", 'F'},
      {"first present letter in C..Z order", list + disk + Mounts({{'H', volume}, {'F', volume}}),
       "CFH", 'F'},
      {"A and B are never tried", list + disk + Mounts({{'A', volume}, {'B', volume}}), "ABC", 0},
      {"Z is tried", list + disk + Mounts({{'Z', volume}}), "CZ", 'Z'},
      {"short fixed-disk entry", list + disk + Mounts({{'E', "\xa1\xb2\xc3\xd4\x00\x7e\x00\x00"}}),
       "CE", 0},
      {"entry one unit shorter than the volume path",
       list + disk + Mounts({{'E', Utf16(VolumeText("8&aa&0").substr(0, 30))}}), "CE", 0},
      {"entry of another volume", list + disk + Mounts({{'E', Utf16(VolumeText("8&bb&0"))}}), "CE",
       0},
      {"ANSI entry does not match", list + disk + Mounts({{'E', VolumeText("8&aa&0")}}), "CE", 0},
      {"entry longer than 260 bytes skipped",
       list + disk + Mounts({{'E', volume + Utf16(std::string(60, 'x'))}, {'F', volume}}), "CEF",
       'F'},
      {"no ParentIdPrefix",
       list + "[" + kHklm + "Enum\\" + kOvinDisk + "]\n" + Mounts({{'E', volume}}), "CE", 0},
      {"volume path filling the whole 260-byte mount entry",
       list + DiskKey(kOvinDisk, std::string(103, 'p')) +
           Mounts({{'E', Utf16("\\??\\STORAGE#RemovableMedia#" + std::string(103, 'p'))}}),
       "CE", 'E'},
      {"ParentIdPrefix too long for its 233 bytes",
       list + DiskKey(kOvinDisk, std::string(233, 'p')) + Mounts({{'E', volume}}), "CE", 0},
      {"no device key for the disk", list + Mounts({{'E', volume}}), "CE", 0},
      {"no mount list", list + disk, "CE", 0},
      {"no disk list", disk + Mounts({{'E', volume}}), "CE", 0},
      {"volume path in another letter case",
       list + disk + Mounts({{'E', Utf16(AnsiLower(VolumeText("8&aa&0")))}}), "CE", 0},
      // Vista and later: the entry holds the disk's device path.
      {"device path with ParentIdPrefix", list + disk + Mounts({{'E', device}}), "CE", 'E'},
      {"device path without ParentIdPrefix", list + bare_disk + Mounts({{'E', device}}), "CE", 'E'},
      {"device path without the disk's device key", list + Mounts({{'E', device}}), "CE", 'E'},
      {"device path behind \\??\\",
       list + bare_disk + Mounts({{'E', Utf16(DevicePathText(kOvinDisk, "\\??\\"))}}), "CE", 'E'},
      {"device path in another letter case",
       list + bare_disk + Mounts({{'E', Utf16(AnsiLower(DevicePathText(kOvinDisk)))}}), "CE", 'E'},
      {"device path behind another prefix",
       list + bare_disk + Mounts({{'E', Utf16(DevicePathText(kOvinDisk, "##?#"))}}), "CE", 0},
      {"device path of another disk",
       list + bare_disk + Mounts({{'E', Utf16(DevicePathText(kOvinDisk2))}}), "CE", 0},
      {"device path of a disk whose instance path extends the drive's",
       list + bare_disk + Mounts({{'E', Utf16(DevicePathText(kOvinDisk + "1"))}}), "CE", 0},
      {"device path stale at an absent letter",
       list + bare_disk + Mounts({{'D', device}, {'F', device}}), "CF", 'F'},
      {"device path beyond 260 bytes",
       long_list + Mounts({{'C', gpt}, {'E', Utf16(DevicePathText(long_disk))}}), "CE", 'E'},
  };
  for (const NtLetterCase& c : cases) {
    SCOPED_TRACE(c.what);
    SimRegistry registry;
    UseMachine(registry, c.registry, c.drives);
    EXPECT_EQ(FindDriveLetterNt(test_.platform(), OemDiskId), c.expected);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
  }
}

// ---- Letters in the fixed-disk forms --------------------------------------------

// A 12-byte MBR mount entry: the disk's signature and the partition's offset.
std::string MbrEntry(std::uint32_t signature, std::uint64_t offset) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>(signature >> (8 * i) & 0xFF);
  for (int i = 0; i < 8; ++i) out += static_cast<char>(offset >> (8 * i) & 0xFF);
  return out;
}

// A disk instance with its partition manager id, the volumes Windows 7
// and later name "{DiskId}#<offset>", and, given a signature, a partition
// table cache holding the disk's first sector (0: a GPT disk's protective
// MBR, which has none).
std::string DiskWithVolumes(const std::string& instance, const std::string& disk_id,
                            const std::vector<std::uint64_t>& offsets,
                            std::optional<std::uint32_t> signature = std::nullopt) {
  std::string out = "[" + kHklm + "Enum\\" + instance + "\\Device Parameters\\Partmgr]\n" +
                    "\"DiskId\"=\"" + disk_id + "\"\n";
  if (signature) {
    std::string sector(512, '\0');
    for (int i = 0; i < 4; ++i) sector[440 + i] = static_cast<char>(*signature >> (8 * i) & 0xFF);
    sector[510] = '\x55';
    sector[511] = '\xAA';
    out += "\"PartitionTableCache\"=hex:";
    char byte[4];
    for (std::size_t i = 0; i < sector.size(); ++i) {
      std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(sector[i]));
      out += (i ? "," : "") + std::string(byte);
    }
    out += "\n";
  }
  char name[40];
  for (std::uint64_t offset : offsets) {
    std::snprintf(name, sizeof name, "#%016llx]\n", static_cast<unsigned long long>(offset));
    out += "[" + kHklm + "Enum\\STORAGE\\Volume\\" + disk_id + name + "\"Service\"=\"volume\"\n";
  }
  return out;
}

struct TieCase {
  const char* what;
  std::string registry;
  std::string drives;
  std::map<char, VolumeStorage> storage;
  char expected;
};

TEST_F(Walks, FindDiskLetterNtTiesFixedDiskFormsToTheDrivesDisk) {
  const std::string uas = "SCSI\\Disk&Ven_Quorvix&Prod_OEM_Flash\\7&3b9f&0&000000";
  const std::string other = "SCSI\\Disk&Ven_Kellin&Prod_Stick\\7&aa&0&000000";
  const std::string uas_list = NumberedList(kHklm + "Services\\disk\\Enum", 1, {{0, uas}});
  const std::string two_list =
      NumberedList(kHklm + "Services\\disk\\Enum", 2, {{0, other}, {1, uas}});
  const std::string id = "{9b27e4c0-1f3a-4d6e-8b52-c04a7e19d3f5}";
  const std::string vols = DiskWithVolumes(uas, id, {0x100000, 0x2000000}, 7);
  const std::string unsigned_vols = DiskWithVolumes(uas, id, {0x100000, 0x2000000});
  const std::string other_vols = DiskWithVolumes(other, "{aa}", {0x100000});
  const std::string gpt = "DMIO:ID:" + std::string(16, '\x5a');
  const VolumeStorage drive{win::kBusTypeUsb, "Quorvix", "OEM Flash", 1, 0x100000};
  VolumeStorage second_stick = drive;
  second_stick.disk_number = 2;
  second_stick.partition_offset = 0x8000;
  VolumeStorage on_sata = drive;
  on_sata.bus_type = 11;
  const VolumeStorage wine{1, "", "", 0, std::nullopt};  // what Wine answers for every drive
  const TieCase cases[] = {
      {"UAS disk, MBR entry at its volume",
       uas_list + vols + Mounts({{'E', MbrEntry(7, 0x100000)}}),
       "CE",
       {},
       'E'},
      {"UAS disk's device path",
       uas_list + Mounts({{'E', Utf16(DevicePathText(uas))}}),
       "CE",
       {},
       'E'},
      {"two partitions: the first on the disk, not the first letter",
       uas_list + vols + Mounts({{'E', MbrEntry(7, 0x2000000)}, {'F', MbrEntry(7, 0x100000)}}),
       "CEF",
       {},
       'F'},
      {"another disk's signature at the drive's offset: the recorded one decides",
       uas_list + vols + Mounts({{'E', MbrEntry(7, 0x100000)}, {'F', MbrEntry(9, 0x100000)}}),
       "CEF",
       {},
       'E'},
      {"the signature also where the disk has no volume",
       uas_list + vols + Mounts({{'E', MbrEntry(7, 0x100000)}, {'F', MbrEntry(7, 0x4000)}}),
       "CEF",
       {},
       0},
      {"MBR entry at an offset with no volume",
       uas_list + vols + Mounts({{'E', MbrEntry(7, 0x4000)}}),
       "CE",
       {},
       0},
      {"no partition manager id", uas_list + Mounts({{'E', MbrEntry(7, 0x100000)}}), "CE", {}, 0},
      {"no signature recorded for the drive's disk: no elimination",
       two_list + unsigned_vols + other_vols +
           Mounts({{'C', MbrEntry(3, 0x4000)},
                   {'E', MbrEntry(3, 0x100000)},
                   {'F', MbrEntry(9, 0x100000)}}),
       "CEF",
       {},
       0},
      {"a cloned stick: two letters carry the signature at one offset",
       two_list + vols + other_vols +
           Mounts({{'D', MbrEntry(7, 0x100000)}, {'E', MbrEntry(7, 0x100000)}}),
       "CDE",
       {},
       0},
      {"a copy whose disk records no partition table, the drive without a letter",
       two_list + vols + other_vols + Mounts({{'D', MbrEntry(7, 0x100000)}}),
       "CD",
       {},
       0},
      {"another disk's recorded table has no signature: the drive's letter stands",
       two_list + vols + DiskWithVolumes(other, "{aa}", {0x100000}, 0) +
           Mounts({{'D', MbrEntry(7, 0x100000)}}),
       "CD",
       {},
       'D'},
      {"another listed disk records the drive's signature",
       two_list + vols + DiskWithVolumes(other, "{aa}", {0x100000}, 7) +
           Mounts({{'D', MbrEntry(7, 0x100000)}}),
       "CD",
       {},
       0},
      {"GPT entry without a storage answer", uas_list + vols + Mounts({{'E', gpt}}), "CE", {}, 0},
      {"GPT entry, storage names the drive",
       uas_list + vols + Mounts({{'E', gpt}}),
       "CE",
       {{'E', drive}},
       'E'},
      {"storage names the drive on a bus that is not USB",
       uas_list + vols + Mounts({{'E', gpt}}),
       "CE",
       {{'E', on_sata}},
       0},
      {"storage naming no disk leaves it to the registry",
       uas_list + vols + Mounts({{'E', MbrEntry(7, 0x100000)}}),
       "CE",
       {{'C', wine}, {'E', wine}},
       'E'},
      {"storage: only the first disk's letters",
       uas_list + vols,
       "CEF",
       {{'E', drive}, {'F', second_stick}},
       'E'},
      {"storage names another maker's stick",
       two_list + vols + Mounts({{'E', gpt}}),
       "CE",
       {{'E', VolumeStorage{win::kBusTypeUsb, "Kellin", "Stick", 1, 0x100000}}},
       0},
  };
  for (const TieCase& c : cases) {
    SCOPED_TRACE(c.what);
    SimRegistry registry;
    UseMachine(registry, c.registry, c.drives);
    test_.system().NoVolumeStorage();
    for (const auto& [letter, storage] : c.storage)
      test_.system().SetVolumeStorage(letter, storage);
    EXPECT_EQ(FindDiskLetterNt(test_.platform(), {OemDiskId, OemUasDiskId}), c.expected);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
  }
}

TEST(MountEntries, SignatureInAPartitionTableCache) {
  std::vector<std::uint8_t> sector(512, 0);
  sector[440] = 0xc4, sector[441] = 0x91, sector[442] = 0x3a, sector[443] = 0x5d;
  sector[510] = 0x55, sector[511] = 0xaa;
  EXPECT_EQ(SignatureInCache(sector.data(), sector.size()), 0x5d3a91c4u);
  // Cut short, without its closing mark, or a GPT disk's protective MBR
  // (signature 0): no signature.
  EXPECT_EQ(SignatureInCache(sector.data(), 511), std::nullopt);
  sector[511] = 0;
  EXPECT_EQ(SignatureInCache(sector.data(), sector.size()), std::nullopt);
  sector[511] = 0xaa, sector[440] = sector[441] = sector[442] = sector[443] = 0;
  EXPECT_EQ(SignatureInCache(sector.data(), sector.size()), std::nullopt);
}

TEST(MountEntries, FormsAndDeviceFields) {
  const std::string mbr = MbrEntry(0xd4c3b2a1, 0x7e00);
  MountEntry e = DecodeMountEntry(reinterpret_cast<const std::uint8_t*>(mbr.data()), 12);
  EXPECT_EQ(e.form, MountEntry::Form::Mbr);
  EXPECT_EQ(e.signature, 0xd4c3b2a1u);
  EXPECT_EQ(e.offset, 0x7e00u);
  const std::string gpt = "DMIO:ID:" + std::string(15, '\x11') + "\x22";
  e = DecodeMountEntry(reinterpret_cast<const std::uint8_t*>(gpt.data()), 24);
  EXPECT_EQ(e.form, MountEntry::Form::Gpt);
  EXPECT_EQ(e.partition_id[15], 0x22);
  // 24 bytes of text and 13 bytes are neither fixed-disk form.
  const std::string text = Utf16("_??_USBSTOR#");
  EXPECT_EQ(DecodeMountEntry(reinterpret_cast<const std::uint8_t*>(text.data()), 24).form,
            MountEntry::Form::Text);
  EXPECT_EQ(DecodeMountEntry(reinterpret_cast<const std::uint8_t*>(gpt.data()), 13).form,
            MountEntry::Form::Text);

  const struct {
    const char* instance;
    const char* vendor;
    const char* product;
  } fields[] = {
      {"USBSTOR\\Disk&Ven_Quorvix&Prod_OEM_Flash&Rev_1.00\\0123456789AB&0", "Quorvix", "OEM_Flash"},
      {"SCSI\\Disk&Ven_&Prod_KX-1000\\5&2c&0&000000", "", "KX-1000"},
      {"SCSI\\Disk&Ven_Quorvix", "Quorvix", ""},
      {"no separator at all", "", ""},
  };
  for (const auto& f : fields) {
    std::string vendor = "x", product = "x";
    ParseVendorProduct(f.instance, &vendor, &product);
    EXPECT_EQ(vendor, f.vendor) << f.instance;
    EXPECT_EQ(product, f.product) << f.instance;
  }
}

// ---- 9x family -------------------------------------------------------------------

struct Letter9xCase {
  const char* what;
  std::string registry;
  char expected;
};

TEST_F(Walks, FindDriveLetter9xNeedsTheUsbDeviceThenTakesTheFirstDiskWithALetter) {
  const std::string usb = Device9x("A1", kOvinUsb);
  const std::string disk = Device9x("B1", kScsi0) + Letter9x(kScsi0, "F");
  const Letter9xCase cases[] = {
      {"device and disk", usb + disk, 'F'},
      {"disk listed before the device", Device9x("B0", kScsi0) + usb + Letter9x(kScsi0, "F"), 'F'},
      {"no USB device, disk present", disk, 0},
      {"USB device of another model", Device9x("A1", kPellorUsb) + disk, 0},
      {"USB device in lower case", Device9x("A1", "usb\\vid_2f1c&pid_2201\\x") + disk, 'F'},
      {"device but no disk", usb + Device9x("B1", "SCSI\\OTHER___DISK____________0\\X"), 0},
      {"disk key in lower case",
       usb + Device9x("B1", "scsi\\quorvix_oem_____________0\\d") +
           Letter9x("scsi\\quorvix_oem_____________0\\d", "F"),
       0},
      {"other revision matches", usb + Device9x("B1", kScsi1) + Letter9x(kScsi1, "G"), 'G'},
      {"two disks with letters: first listed",
       usb + Device9x("B0", kScsi1) + Letter9x(kScsi1, "H") + disk, 'H'},
      {"first disk without a letter is passed over",
       usb + Device9x("B0", kScsi1) + "[HKEY_LOCAL_MACHINE\\Enum\\" + kScsi1 + "]\n" + disk, 'F'},
      {"first disk without its Enum key is passed over", usb + Device9x("B0", kScsi1) + disk, 'F'},
      {"empty letter is no letter", usb + Device9x("B1", kScsi0) + Letter9x(kScsi0, ""), 0},
      {"letter kept as stored", usb + Device9x("B1", kScsi0) + Letter9x(kScsi0, "f:"), 'f'},
      {"entry without HardWareKey before the device",
       "[HKEY_DYN_DATA\\Config Manager\\Enum\\A0]\n\"Problem\"=dword:0\n" + usb + disk, 'F'},
      {"entry without HardWareKey before the disk",
       usb + "[HKEY_DYN_DATA\\Config Manager\\Enum\\B0]\n" + disk, 'F'},
      {"HardWareKey longer than 520 bytes passed over",
       Device9x("A0", kOvinUsb + std::string(520, 'x')) + usb + disk, 'F'},
      {"subkey name longer than 519 characters passed over",
       Device9x(std::string(520, 'n'), "x") + usb + disk, 'F'},
      {"no device list", Letter9x(kScsi0, "F"), 0},
  };
  for (const Letter9xCase& c : cases) {
    SCOPED_TRACE(c.what);
    SimRegistry registry;
    std::string error;
    ASSERT_TRUE(registry.LoadText("REGEDIT4\n" + c.registry, "9x.reg", &error)) << error;
    EXPECT_EQ(FindDriveLetter9x(registry, OvinIds[0], OemScsiIdPrimary), c.expected);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
  }
}

TEST_F(Walks, FindDriveLetter9xWhenTheSecondOpenOfTheListFails) {
  Load(Device9x("A1", kOvinUsb) + Device9x("B1", kScsi0) + Letter9x(kScsi0, "F"));
  FailingOpens failing(registry_, kConfigManagerEnumKey, 1);
  EXPECT_EQ(FindDriveLetter9x(failing, OvinIds[0], OemScsiIdPrimary), 0);
  ExpectNoOpenKeys();
}

// ---- Model presence ------------------------------------------------------------------

struct PresenceCase {
  const char* what;
  bool nt;
  std::string registry;
  ModelPresence expected;
};

std::string List9x(const std::vector<std::string>& hardware_keys) {
  std::string out;
  for (std::size_t i = 0; i < hardware_keys.size(); ++i)
    out += Device9x(std::string("D").append(std::to_string(i)), hardware_keys[i]);
  return out;
}

TEST_F(Walks, DetectSupportedModelsFormsOneCodeFromThePresentModels) {
  const std::string usbstor = kHklm + "Services\\USBSTOR\\Enum";
  using P = ModelPresence;
  const PresenceCase cases[] = {
      {"NT: nothing", true, UsbStor({kOtherUsb}), P::None},
      {"NT: Kestrin", true, UsbStor({kKestrinUsb}), P::Kestrin},
      {"NT: Kestrin by a later revision id", true, UsbStor({kKestrinExtraUsb}), P::Kestrin},
      {"NT: Ovin", true, UsbStor({kOtherUsb, kOvinUsb}), P::Ovin},
      {"NT: Pellor", true, UsbStor({kPellorUsb}), P::Pellor},
      {"NT: Kestrin and Ovin", true, UsbStor({kKestrinUsb, kOvinUsb}), P::KestrinOvin},
      {"NT: Ovin and Kestrin", true, UsbStor({kOvinUsb, kKestrinUsb}), P::KestrinOvin},
      {"NT: Kestrin and Pellor", true, UsbStor({kPellorUsb, kKestrinUsb}), P::KestrinPellor},
      {"NT: Ovin and Pellor", true, UsbStor({kPellorUsb, kOvinUsb}), P::OvinPellor},
      {"NT: all three", true, UsbStor({kOvinUsb2, kPellorUsb, kKestrinUsb}), P::AllThree},
      {"NT: two Ovin drives", true, UsbStor({kOvinUsb, kOvinUsb2}), P::Ovin},
      {"NT: lower-case device path", true, UsbStor({"usb\\vid_2f1c&pid_2201\\x"}), P::Ovin},
      {"NT: no Count", true, "[" + usbstor + "]\n\"0\"=\"" + Escape(kOvinUsb) + "\"\n", P::None},
      {"NT: Count 0", true, NumberedList(usbstor, 0, {{0, kOvinUsb}}), P::None},
      {"NT: Count 200 read whole", true, NumberedList(usbstor, 200, {{199, kOvinUsb}}), P::Ovin},
      {"NT: Count 300 read whole", true, NumberedList(usbstor, 300, {{200, kOvinUsb}}), P::Ovin},
      {"NT: gaps in the list", true, NumberedList(usbstor, 5, {{1, kKestrinUsb}, {4, kPellorUsb}}),
       P::KestrinPellor},
      {"NT: no USBSTOR list", true, List9x({kOvinUsb}), P::None},
      {"9x: Ovin", false, List9x({"Root\\*PNP0A03\\0000", kOvinUsb}), P::Ovin},
      {"9x: all three", false, List9x({kPellorUsb, kOvinUsb, kKestrinExtraUsb}), P::AllThree},
      {"9x: Kestrin and Ovin", false, List9x({kOvinUsb2, kKestrinUsb}), P::KestrinOvin},
      {"9x: entry without HardWareKey before Ovin", false,
       "[HKEY_DYN_DATA\\Config Manager\\Enum\\D0]\n" + Device9x("D1", kOvinUsb), P::Ovin},
      {"9x: overlong HardWareKey before Ovin (260-byte buffer)", false,
       List9x({kKestrinUsb + std::string(240, 'x'), kOvinUsb}), P::Ovin},
      {"9x: no device list", false, UsbStor({kOvinUsb}), P::None},
      {"9x ignores the NT list", false, UsbStor({kOvinUsb}) + List9x({kPellorUsb}), P::Pellor},
  };
  for (const PresenceCase& c : cases) {
    SCOPED_TRACE(c.what);
    SimRegistry registry;
    std::string error;
    ASSERT_TRUE(registry.LoadText("REGEDIT4\n" + c.registry, "p.reg", &error)) << error;
    test_.UseRegistry(registry);
    EXPECT_EQ(DetectSupportedModels(test_.platform(), c.nt), c.expected);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
  }
}

TEST_F(Walks, DetectSupportedModels9xStopsWhenTheListCannotBeOpenedAgain) {
  Load(List9x({kKestrinUsb, kOvinUsb, kPellorUsb}));
  struct Case {
    int failing_open;
    ModelPresence expected;
  };
  // Pass 0 looks for Kestrin, pass 1 for Ovin, pass 2 for Pellor.
  const Case cases[] = {{0, ModelPresence::None},
                        {1, ModelPresence::Kestrin},
                        {2, ModelPresence::KestrinOvin},
                        {3, ModelPresence::AllThree}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing_open);
    FailingOpens failing(registry_, kConfigManagerEnumKey, c.failing_open);
    test_.UseRegistry(failing);
    EXPECT_EQ(DetectSupportedModels(test_.platform(), false), c.expected);
    ExpectNoOpenKeys();
  }
}

}  // namespace
}  // namespace brelvane

#include "discovery/disk_letters.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "discovery/device_tables.h"
#include "discovery/registry_walks.h"

namespace brelvane {
namespace {

constexpr std::size_t kMbrEntrySize = 12;
constexpr std::size_t kGptEntrySize = 24;
constexpr char kGptEntryTag[] = "DMIO:ID:";
constexpr std::size_t kVolumeNameBuffer = 260;
constexpr std::size_t kOffsetDigits = 16;

std::uint64_t LittleEndian(const std::uint8_t* bytes, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = count; i-- > 0;) value = value << 8 | bytes[i];
  return value;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AnsiLower(a) == AnsiLower(b);
}

// 16 hexadecimal digits: the offset a volume's name ends in.
std::optional<std::uint64_t> HexOffset(std::string_view digits) {
  if (digits.size() != kOffsetDigits) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
    if (digit < 0) return std::nullopt;
    value = value << 4 | static_cast<std::uint64_t>(digit);
  }
  return value;
}

// The partition manager's id of the disk ("{...}"), empty when it has none.
std::string DiskIdOf(Registry& registry, const std::string& instance) {
  ScopedKey partmgr(registry);
  if (!partmgr.Open(kHkeyLocalMachine,
                    std::string(kDeviceEnumKey) + "\\" + instance + "\\" + kPartmgrKey,
                    win::kKeyRead))
    return {};
  return ReadRegString(registry, partmgr.get(), "DiskId");
}

// The offsets of the volumes named "{DiskId}#<offset>" in the device tree.
std::vector<std::uint64_t> VolumeOffsetsOf(Registry& registry, const std::string& disk_id) {
  std::vector<std::uint64_t> offsets;
  if (disk_id.empty()) return offsets;
  ScopedKey volumes(registry);
  if (!volumes.Open(kHkeyLocalMachine, kVolumeEnumKey, win::kKeyRead)) return offsets;
  const std::string prefix = disk_id + "#";
  std::string name;
  for (std::uint32_t index = 0;; ++index) {
    long rc = registry.EnumKey(volumes.get(), index, kVolumeNameBuffer, &name);
    if (rc == win::kErrorMoreData) continue;
    if (rc != win::kErrorSuccess) break;
    if (name.size() != prefix.size() + kOffsetDigits ||
        !EqualIgnoringCase(std::string_view(name).substr(0, prefix.size()), prefix))
      continue;
    if (auto offset = HexOffset(std::string_view(name).substr(prefix.size())))
      offsets.push_back(*offset);
  }
  return offsets;
}

DiskRecord ReadDiskRecord(Registry& registry, const std::string& instance) {
  DiskRecord disk;
  disk.instance = instance;
  ParseVendorProduct(instance, &disk.vendor, &disk.product);
  disk.volume_offsets = VolumeOffsetsOf(registry, DiskIdOf(registry, instance));
  return disk;
}

// One present letter as the registry and the storage stack see it.
struct LetterFacts {
  char letter;
  std::vector<std::uint8_t> entry;  // empty: no mount entry
  std::optional<VolumeStorage> storage;
};

// A storage answer that names no disk (as Wine gives for every drive) tells
// nothing about which disk a letter sits on.
bool NamesSomeDisk(const std::optional<VolumeStorage>& storage) {
  return storage && (!storage->vendor.empty() || !storage->product.empty());
}

bool IsDrivesDisk(const VolumeStorage& storage, const DiskRecord& disk) {
  return storage.bus_type == win::kBusTypeUsb && StorageNamesDisk(storage, disk);
}

// Rule 1: the storage stack's letters on the disk of the first of them.
std::vector<DiskLetter> LettersByStorage(const std::vector<LetterFacts>& facts,
                                         const DiskRecord& disk) {
  std::vector<DiskLetter> letters;
  std::optional<std::uint32_t> disk_number;
  for (const LetterFacts& f : facts) {
    if (!NamesSomeDisk(f.storage) || !IsDrivesDisk(*f.storage, disk)) continue;
    if (!disk_number) disk_number = f.storage->disk_number;
    if (f.storage->disk_number == *disk_number)
      letters.push_back({f.letter, f.storage->partition_offset});
  }
  return letters;
}

bool HasVolumeAt(const DiskRecord& disk, std::uint64_t offset) {
  return std::find(disk.volume_offsets.begin(), disk.volume_offsets.end(), offset) !=
         disk.volume_offsets.end();
}

// Rule 2: what the registry ties to the disk, for the letters the storage
// stack says nothing of.
std::vector<DiskLetter> LettersByRegistry(System& system, const std::vector<LetterFacts>& facts,
                                          const DiskRecord& disk) {
  std::vector<DiskLetter> letters;
  std::vector<std::pair<char, MountEntry>> mbr;  // the letters' MBR entries
  std::set<std::uint32_t> signatures;            // carried at one of the disk's volumes
  std::set<std::uint32_t> elsewhere;             // carried at an offset the disk has no volume at
  for (const LetterFacts& f : facts) {
    if (NamesSomeDisk(f.storage) || f.entry.empty()) continue;
    const auto size = static_cast<std::uint32_t>(f.entry.size());
    MountEntry entry = DecodeMountEntry(f.entry.data(), size);
    if (entry.form == MountEntry::Form::Text) {
      if (MountEntryNamesDevicePath(system, f.entry.data(), size, disk.instance))
        letters.push_back({f.letter, std::nullopt});
    } else if (entry.form == MountEntry::Form::Mbr) {
      (HasVolumeAt(disk, entry.offset) ? signatures : elsewhere).insert(entry.signature);
      mbr.emplace_back(f.letter, entry);
    }
  }
  std::erase_if(signatures, [&](std::uint32_t s) { return elsewhere.count(s) != 0; });
  // Two disks whose partitions start where the drive's do cannot be told
  // apart by the registry: then none of theirs is taken.
  if (signatures.size() == 1) {
    for (const auto& [letter, entry] : mbr)
      if (entry.signature == *signatures.begin()) letters.push_back({letter, entry.offset});
  }
  std::sort(letters.begin(), letters.end(),
            [](const DiskLetter& a, const DiskLetter& b) { return a.letter < b.letter; });
  return letters;
}

}  // namespace

MountEntry DecodeMountEntry(const std::uint8_t* data, std::uint32_t size) {
  MountEntry entry;
  if (size == kMbrEntrySize) {
    entry.form = MountEntry::Form::Mbr;
    entry.signature = static_cast<std::uint32_t>(LittleEndian(data, 4));
    entry.offset = LittleEndian(data + 4, 8);
  } else if (size == kGptEntrySize && std::memcmp(data, kGptEntryTag, 8) == 0) {
    entry.form = MountEntry::Form::Gpt;
    std::copy(data + 8, data + kGptEntrySize, entry.partition_id.begin());
  }
  return entry;
}

void ParseVendorProduct(std::string_view instance, std::string* vendor, std::string* product) {
  vendor->clear();
  product->clear();
  // "ENUMERATOR\Disk&Ven_X&Prod_Y&Rev_Z\instance": the fields of the middle part.
  std::size_t first = instance.find('\\');
  if (first == std::string_view::npos) return;
  std::string_view device = instance.substr(first + 1);
  device = device.substr(0, device.find('\\'));
  while (!device.empty()) {
    std::size_t amp = device.find('&');
    std::string_view field = device.substr(0, amp);
    if (field.starts_with("Ven_")) *vendor = std::string(field.substr(4));
    else if (field.starts_with("Prod_")) *product = std::string(field.substr(5));
    if (amp == std::string_view::npos) break;
    device.remove_prefix(amp + 1);
  }
}

bool StorageNamesDisk(const VolumeStorage& storage, const DiskRecord& disk) {
  auto underscored = [](std::string text) {
    std::replace(text.begin(), text.end(), ' ', '_');
    return text;
  };
  return !disk.vendor.empty() && EqualIgnoringCase(underscored(storage.vendor), disk.vendor) &&
         EqualIgnoringCase(underscored(storage.product), disk.product);
}

std::vector<DiskLetter> FindDiskLetters(const Platform& platform, const std::string& instance) {
  Registry& registry = platform.registry;
  const DiskRecord disk = ReadDiskRecord(registry, instance);

  std::vector<LetterFacts> facts;
  {
    ScopedKey mounts(registry);
    bool has_mounts = mounts.Open(kHkeyLocalMachine, kMountedDevicesKey, win::kKeyRead);
    std::uint32_t drives = platform.system.LogicalDrives();
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
      if (!((drives >> (letter - 'A')) & 1u)) continue;
      LetterFacts f{letter, {}, platform.system.QueryVolumeStorage(letter)};
      if (has_mounts) ReadMountEntry(registry, mounts.get(), letter, &f.entry);
      facts.push_back(std::move(f));
    }
  }
  std::vector<DiskLetter> letters = LettersByStorage(facts, disk);
  if (!letters.empty()) return letters;
  return LettersByRegistry(platform.system, facts, disk);
}

char ChooseInstallLetter(const std::vector<DiskLetter>& letters) {
  const DiskLetter* chosen = nullptr;
  for (const DiskLetter& candidate : letters) {
    if (!chosen) {
      chosen = &candidate;
    } else if (candidate.offset && (!chosen->offset || *candidate.offset < *chosen->offset)) {
      chosen = &candidate;
    }
  }
  return chosen ? chosen->letter : 0;
}

char FindDiskLetterNt(const Platform& platform, const std::vector<std::string_view>& disk_ids) {
  for (const std::string& instance : FindDiskInstances(platform.registry, disk_ids)) {
    if (char letter = ChooseInstallLetter(FindDiskLetters(platform, instance))) return letter;
  }
  return 0;
}

}  // namespace brelvane

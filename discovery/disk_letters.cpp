#include "discovery/disk_letters.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <map>

#include "common/printable.h"
#include "discovery/device_tables.h"
#include "discovery/registry_walks.h"

namespace brelvane {
namespace {

constexpr std::size_t kMbrEntrySize = 12;
constexpr std::size_t kGptEntrySize = 24;
constexpr char kGptEntryTag[] = "DMIO:ID:";
constexpr std::size_t kVolumeNameBuffer = 260;
constexpr std::size_t kOffsetDigits = 16;
// A partition table cache holds at least a sector; more is read as well, up
// to this many bytes.
constexpr std::uint32_t kPartitionTableCacheBuffer = 64 * 1024;
constexpr std::size_t kSectorSize = 512;
constexpr std::size_t kMbrSignatureAt = 440;

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

// The partition manager's key of the disk, open; false when it has none.
bool OpenPartmgr(const std::string& instance, ScopedKey* partmgr) {
  return partmgr->Open(kHkeyLocalMachine,
                       std::string(kDeviceEnumKey) + "\\" + instance + "\\" + kPartmgrKey,
                       win::kKeyRead);
}

// The disk's partition table cache, when it holds a whole first sector.
std::optional<std::vector<std::uint8_t>> SectorCache(Registry& registry, RegKey partmgr) {
  std::vector<std::uint8_t> cache(kPartitionTableCacheBuffer, 0);
  std::uint32_t type = 0;
  std::uint32_t size = kPartitionTableCacheBuffer;
  if (registry.QueryValue(partmgr, kPartitionTableCacheValue, &type, cache.data(), &size) !=
          win::kErrorSuccess ||
      type != win::kRegBinary)
    return std::nullopt;
  cache.resize(std::min(size, kPartitionTableCacheBuffer));
  if (!IsSectorCache(cache.data(), cache.size())) return std::nullopt;
  return cache;
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

std::string Hex(std::uint64_t value, int digits = 0) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string BusWords(std::uint32_t type) {
  for (const win::BusName& bus : win::kBusNames)
    if (bus.type == type) return bus.name;
  return "bus " + std::to_string(type);
}

// A letter's mount entry in words: its form and what it holds.
std::string DescribeEntry(System& system, const std::vector<std::uint8_t>& data) {
  if (data.empty()) return "no mount entry";
  const MountEntry entry = DecodeMountEntry(data.data(), static_cast<std::uint32_t>(data.size()));
  switch (entry.form) {
    case MountEntry::Form::Mbr:
      return "MBR entry, signature " + Hex(entry.signature, 8) + " at 0x" + Hex(entry.offset);
    case MountEntry::Form::Gpt: {
      std::string id;
      for (std::uint8_t byte : entry.partition_id) id += Hex(byte, 2);
      return "GPT entry, partition " + id;
    }
    case MountEntry::Form::Text: break;
  }
  std::vector<std::uint16_t> wide(data.size() / 2);
  for (std::size_t i = 0; i < wide.size(); ++i)
    wide[i] = static_cast<std::uint16_t>(data[2 * i] | data[2 * i + 1] << 8);
  std::string text = system.WideToAnsi(wide.data(), wide.size());
  text = text.substr(0, text.find('\0'));
  return "text entry \"" + NameInMessage(text) + "\"";
}

std::string DescribeStorage(const std::optional<VolumeStorage>& storage) {
  if (!storage) return "the storage stack does not answer";
  std::string words = "the storage stack: " + BusWords(storage->bus_type) + " disk " +
                      std::to_string(storage->disk_number);
  if (storage->partition_offset) words += " at 0x" + Hex(*storage->partition_offset);
  if (!NamesSomeDisk(storage)) return words + ", naming no vendor or product";
  return words + ", \"" + NameInMessage(storage->vendor) + "\" \"" +
         NameInMessage(storage->product) + "\"";
}

// Rule 1: the storage stack's letters on the disk of the first of them.
std::vector<DiskLetter> LettersByStorage(const std::vector<LetterFacts>& facts,
                                         const DiskRecord& disk,
                                         std::map<char, std::string>* verdicts) {
  std::vector<DiskLetter> letters;
  std::optional<std::uint32_t> disk_number;
  for (const LetterFacts& f : facts) {
    if (!NamesSomeDisk(f.storage)) continue;
    if (!IsDrivesDisk(*f.storage, disk)) {
      (*verdicts)[f.letter] = "not the drive's: the storage stack names another disk";
      continue;
    }
    if (!disk_number) disk_number = f.storage->disk_number;
    if (f.storage->disk_number == *disk_number) {
      letters.push_back({f.letter, f.storage->partition_offset});
      (*verdicts)[f.letter] = "the drive's: the storage stack names its USB disk";
    } else {
      (*verdicts)[f.letter] = "passed over: another disk of the drive's model";
    }
  }
  return letters;
}

bool HasVolumeAt(const DiskRecord& disk, std::uint64_t offset) {
  return std::find(disk.volume_offsets.begin(), disk.volume_offsets.end(), offset) !=
         disk.volume_offsets.end();
}

// Why another disk of the disk driver's list may be the one behind a letter
// that carries the drive's signature at `offset`: it records the same
// signature, or records none and may have a volume there.  Empty when no
// other disk may.
std::string OtherDiskThatMayCarry(Registry& registry, const DiskRecord& disk,
                                  std::uint64_t offset) {
  for (const std::string& instance : ListedDisks(registry)) {
    if (instance == disk.instance) continue;
    const DiskRecord other = ReadDiskRecord(registry, instance);
    if (other.partition_table_known && other.signature == disk.signature)
      return "the disk " + NameInMessage(instance) + " records the drive's disk signature too";
    if (!other.partition_table_known &&
        (other.volume_offsets.empty() || HasVolumeAt(other, offset)))
      return "the disk " + NameInMessage(instance) +
             " records no partition table and may have a volume there: it may be a copy";
  }
  return {};
}

// Rule 2: what the registry ties to the disk, for the letters the storage
// stack says nothing of.
std::vector<DiskLetter> LettersByRegistry(const Platform& platform,
                                          const std::vector<LetterFacts>& facts,
                                          const DiskRecord& disk,
                                          std::map<char, std::string>* verdicts,
                                          std::string* look_alike) {
  std::vector<DiskLetter> by_path, by_signature;
  std::vector<char> elsewhere;  // letters carrying the signature where the disk has no volume
  for (const LetterFacts& f : facts) {
    if (NamesSomeDisk(f.storage) || f.entry.empty()) continue;
    std::string& verdict = (*verdicts)[f.letter];
    const auto size = static_cast<std::uint32_t>(f.entry.size());
    MountEntry entry = DecodeMountEntry(f.entry.data(), size);
    if (entry.form == MountEntry::Form::Gpt) {
      verdict = "not tied: a GPT entry names no disk the registry links to";
    } else if (entry.form == MountEntry::Form::Text) {
      if (MountEntryNamesDevicePath(platform.system, f.entry.data(), size, disk.instance)) {
        by_path.push_back({f.letter, std::nullopt});
        verdict = "the drive's: the entry names its disk's device path";
      } else {
        verdict = "not the drive's: the entry names another device";
      }
    } else if (!disk.signature) {
      verdict = "not tied: the registry records no signature for the drive's disk";
    } else if (entry.signature != *disk.signature) {
      verdict = "not the drive's: another disk's signature";
    } else if (!disk.volume_offsets.empty() && !HasVolumeAt(disk, entry.offset)) {
      elsewhere.push_back(f.letter);
      verdict = "not the drive's: its signature where the drive's disk has no volume";
    } else {
      by_signature.push_back({f.letter, entry.offset});
      verdict = "the drive's: the signature recorded for its disk";
    }
  }
  // A letter holding the drive's signature that is not on it, a second
  // letter at the same offset, or a second disk recording it: two disks
  // look the same, and the registry cannot say which letter is the drive.
  auto letters_of = [](const std::vector<DiskLetter>& letters, std::size_t i) {
    return std::string(1, letters[i].letter) + ":";
  };
  for (std::size_t i = 0; i < by_signature.size() && look_alike->empty(); ++i)
    for (std::size_t j = i + 1; j < by_signature.size() && look_alike->empty(); ++j)
      if (by_signature[i].offset == by_signature[j].offset)
        *look_alike = letters_of(by_signature, i) + " and " + letters_of(by_signature, j) +
                      " carry one disk signature at one offset";
  if (look_alike->empty() && !elsewhere.empty())
    *look_alike = std::string(1, elsewhere.front()) +
                  ": carries the drive's disk signature where the drive has no volume";
  for (std::size_t i = 0; i < by_signature.size() && look_alike->empty(); ++i)
    *look_alike = OtherDiskThatMayCarry(platform.registry, disk, *by_signature[i].offset);
  if (!look_alike->empty()) {
    for (const DiskLetter& l : by_signature)
      (*verdicts)[l.letter] = "refused: two drives look the same";
    by_signature.clear();
  }
  std::vector<DiskLetter> letters = by_path;
  letters.insert(letters.end(), by_signature.begin(), by_signature.end());
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

bool IsSectorCache(const std::uint8_t* data, std::size_t size) {
  return size >= kSectorSize && data[kSectorSize - 2] == 0x55 && data[kSectorSize - 1] == 0xAA;
}

std::optional<std::uint32_t> SignatureInCache(const std::uint8_t* data, std::size_t size) {
  if (!IsSectorCache(data, size)) return std::nullopt;
  const auto signature = static_cast<std::uint32_t>(LittleEndian(data + kMbrSignatureAt, 4));
  if (signature == 0) return std::nullopt;
  return signature;
}

DiskRecord ReadDiskRecord(Registry& registry, const std::string& instance) {
  DiskRecord disk;
  disk.instance = instance;
  ParseVendorProduct(instance, &disk.vendor, &disk.product);
  ScopedKey partmgr(registry);
  if (OpenPartmgr(instance, &partmgr)) {
    disk.disk_id = ReadRegString(registry, partmgr.get(), "DiskId");
    if (const auto cache = SectorCache(registry, partmgr.get())) {
      disk.partition_table_known = true;
      disk.signature = SignatureInCache(cache->data(), cache->size());
    }
  }
  disk.volume_offsets = VolumeOffsetsOf(registry, disk.disk_id);
  return disk;
}

std::string DescribeDisk(const DiskRecord& disk) {
  std::string words = NameInMessage(disk.instance) + " (vendor \"" + NameInMessage(disk.vendor) +
                      "\", product \"" + NameInMessage(disk.product) + "\")";
  if (!disk.disk_id.empty()) words += ", partition manager id " + NameInMessage(disk.disk_id);
  if (!disk.volume_offsets.empty()) {
    words += ", volumes at";
    for (std::uint64_t offset : disk.volume_offsets) words += " 0x" + Hex(offset);
  }
  words += disk.signature               ? ", signature " + Hex(*disk.signature, 8) + " recorded"
           : disk.partition_table_known ? ", a partition table without a signature recorded"
                                        : ", no partition table recorded";
  return words;
}

DiskLetterFinding FindDiskLetters(const Platform& platform, const std::string& instance) {
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
  DiskLetterFinding finding;
  finding.disk = DescribeDisk(disk);
  std::map<char, std::string> verdicts;
  finding.letters = LettersByStorage(facts, disk, &verdicts);
  if (finding.letters.empty())
    finding.letters = LettersByRegistry(platform, facts, disk, &verdicts, &finding.lookAlike);
  for (const LetterFacts& f : facts) {
    const auto verdict = verdicts.find(f.letter);
    finding.notes.push_back(std::string(1, f.letter) + ": " +
                            DescribeEntry(platform.system, f.entry) + "; " +
                            DescribeStorage(f.storage) + "; " +
                            (verdict != verdicts.end() ? verdict->second
                             : finding.letters.empty() ? "not tied"
                                                       : "left: the storage stack tied the drive"));
  }
  return finding;
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

char FindDiskLetterNt(const Platform& platform, const std::vector<std::string_view>& disk_ids,
                      std::vector<DiskLetterFinding>* findings) {
  for (const std::string& instance : FindDiskInstances(platform.registry, disk_ids)) {
    DiskLetterFinding finding = FindDiskLetters(platform, instance);
    const char letter = ChooseInstallLetter(finding.letters);
    if (findings) findings->push_back(std::move(finding));
    if (letter) return letter;
  }
  return 0;
}

}  // namespace brelvane

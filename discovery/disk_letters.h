// The drive letters of the supported drive's disk however Windows attached
// it: through the mass-storage driver or USB Attached SCSI, one volume or
// several, its letters' mount entries holding the disk's device path or the
// fixed-disk forms (a 12-byte MBR entry, a "DMIO:ID:" GPT entry).  The
// registry says which disk is the drive's and where its volumes start; the
// storage stack, where it answers, says which disk each letter sits on.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace brelvane {

// The disk driver's list of disks and the device tree's volumes.
inline constexpr char kVolumeEnumKey[] = "System\\CurrentControlSet\\Enum\\STORAGE\\Volume";
// Below a disk's device key: the partition manager's id of the disk, and
// where Windows keeps one, its cache of the disk's partition table.
inline constexpr char kPartmgrKey[] = "Device Parameters\\Partmgr";
inline constexpr char kPartitionTableCacheValue[] = "PartitionTableCache";

// A mount entry of "System\MountedDevices", by its form.
struct MountEntry {
  enum class Form { Text, Mbr, Gpt };
  Form form = Form::Text;
  std::uint32_t signature = 0;                  // Mbr: the disk's signature
  std::uint64_t offset = 0;                     // Mbr: where the partition starts, in bytes
  std::array<std::uint8_t, 16> partition_id{};  // Gpt: the partition's GUID as stored
};
// 12 bytes: MBR (signature and offset, little-endian); 24 bytes beginning
// "DMIO:ID:": GPT; anything else is UTF-16 text (a device or volume path).
MountEntry DecodeMountEntry(const std::uint8_t* data, std::uint32_t size);

// A disk as the registry records it.
struct DiskRecord {
  std::string instance;  // device instance path, e.g. "SCSI\Disk&Ven_X&Prod_Y\7&1&0&000000"
  std::string vendor;    // its "Ven_" field ("Quorvix")
  std::string product;   // its "Prod_" field, blanks written as '_' ("OEM_Flash")
  std::string disk_id;   // the partition manager's id ("{...}"), empty when none
  // Where its volumes start: the offsets of the volumes that Windows 7 and
  // later name "STORAGE\Volume\{DiskId}#<offset as 16 hex digits>".
  std::vector<std::uint64_t> volume_offsets;
  // Whether Windows recorded the disk's partition table: a cache that holds
  // a whole first sector.  Without one nothing is known of its signature.
  bool partition_table_known = false;
  // The disk's own MBR signature, as its partition table cache holds it;
  // none where Windows wrote no cache, or for a disk without a signature
  // (a GPT disk's protective MBR).
  std::optional<std::uint32_t> signature;
};

// Reads what the registry records of the disk at `instance`.
DiskRecord ReadDiskRecord(Registry& registry, const std::string& instance);

// Whether a partition table cache holds a disk's first sector: at least
// 512 bytes, the sector closed by 55 AA.
bool IsSectorCache(const std::uint8_t* data, std::size_t size);
// The MBR signature in such a cache, at byte 440.  None for any other data
// and for a signature of 0 (a disk that has none, or a GPT disk's
// protective MBR).
std::optional<std::uint32_t> SignatureInCache(const std::uint8_t* data, std::size_t size);

// The "Ven_" and "Prod_" fields of a device instance path.
void ParseVendorProduct(std::string_view instance, std::string* vendor, std::string* product);

// Whether the storage stack's answer names a disk with these strings: the
// answer's vendor and product with blanks as '_', letter case ignored.
bool StorageNamesDisk(const VolumeStorage& storage, const DiskRecord& disk);

// One letter of the drive's disk, and where its partition starts when that
// is known.
struct DiskLetter {
  char letter;
  std::optional<std::uint64_t> offset;
};

// What the lookup of one disk's letters found, and why.
struct DiskLetterFinding {
  std::string disk;  // the disk in words (DescribeDisk)
  std::vector<DiskLetter> letters;
  // Why no letter was taken though one carries the disk's signature: two
  // disks look the same.  Empty otherwise.
  std::string lookAlike;
  // One line a present letter: its mount entry, the storage stack's answer,
  // and the rule that took or refused it.
  std::vector<std::string> notes;
};

// The present letters (C to Z) of the disk at `instance`, in alphabetical
// order.  Only evidence that names the disk itself ties a letter, never the
// setting aside of other disks:
//  1. letters whose storage answer names a vendor or product are the disk's
//     when the answer is a USB disk with the disk's vendor and product, and
//     only those on the same disk as the first of them;
//  2. otherwise (no answer, or one naming no disk, as under Wine) the
//     registry ties them: an entry holding the disk's device path, or a
//     12-byte MBR entry holding the signature recorded for this disk, at one
//     of its volumes' offsets where those are known.  When two present
//     letters carry that signature at one offset, when a letter carries it
//     where the disk has no volume, or when another listed disk records the
//     same signature, or records none and may have a volume at that offset
//     (a copy of the drive), two disks may look the same and no MBR entry
//     is taken.
// A "DMIO:ID:" entry is tied only by the storage stack: the registry keeps
// no link from a GPT partition's id to its disk.
DiskLetterFinding FindDiskLetters(const Platform& platform, const std::string& instance);

// Of one disk's letters, the one that receives the set: the partition that
// starts first on the disk; letters whose offset is unknown come after,
// alphabetically.  0 when there are none.
char ChooseInstallLetter(const std::vector<DiskLetter>& letters);

// The letter of the first disk of the disk driver's list that begins with
// one of `disk_ids` and has a letter (FindDiskLetters, ChooseInstallLetter),
// 0 for none.  With `findings`, each disk's finding is added to it.
char FindDiskLetterNt(const Platform& platform, const std::vector<std::string_view>& disk_ids,
                      std::vector<DiskLetterFinding>* findings = nullptr);

// A disk in discovery's explanation: its instance path, vendor, product,
// partition manager id, volumes and recorded signature.
std::string DescribeDisk(const DiskRecord& disk);

}  // namespace brelvane

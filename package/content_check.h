// The checks a writer keeps in a record's reserved bytes, the rest of which
// stay zero:
//  - the content check: an 8-byte tag followed by the CRC-32 of the module's
//    plain (descrambled) content, big-endian;
//  - the record check, right behind it: a second tag followed by the CRC-32
//    of the whole 660-byte record as stored, its own four CRC bytes taken
//    as zero; it covers the record's own fields (sizes, marker, name,
//    folder, attributes) and the content check.
// Readers that do not know the checks ignore the reserved bytes, so checked
// packages stay readable by every reader; records without a tag (zero
// bytes, or the 0xCD filler of older packages) are simply unchecked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "package/module_record.h"

namespace brelvane {

inline constexpr char kContentCheckTag[] = "BRVCRC32";  // 8 bytes, no terminator stored
inline constexpr std::size_t kContentCheckTagWidth = 8;
inline constexpr char kRecordCheckTag[] = "BRVREC32";  // 8 bytes, no terminator stored

// The reserved bytes' layout, the one place it is written down: each check
// is its tag and a big-endian CRC-32, the content check first, the record
// check right behind it; every other reserved byte is zero.
struct ReservedField {
  const char* tag;
  std::size_t offset;  // of the tag, from the record's first byte
  std::size_t crcOffset;
};
inline constexpr std::size_t kCheckWidth = kContentCheckTagWidth + 4;
inline constexpr ReservedField kContentCheckField{kContentCheckTag, kReservedOffset,
                                                  kReservedOffset + kContentCheckTagWidth};
inline constexpr ReservedField kRecordCheckField{
    kRecordCheckTag, kReservedOffset + kCheckWidth,
    kReservedOffset + kCheckWidth + kContentCheckTagWidth};
static_assert(kRecordCheckField.offset + kCheckWidth <= kReservedOffset + kReservedWidth);
// The Windows code a failed check leaves in the last error
// (ERROR_CRC, "Data error (cyclic redundancy check).").
inline constexpr std::uint32_t kErrorCrc = 23;

// CRC-32 (IEEE 802.3, reflected polynomial 0xEDB88320), fed piece by piece.
class Crc32 {
 public:
  void Update(const std::uint8_t* data, std::size_t length);
  std::uint32_t Value() const { return ~state_; }

 private:
  std::uint32_t state_ = 0xFFFFFFFFu;
};

// Seals an encoded record (`record` points at its first byte) whose fields
// are final: the reserved bytes become zero but for the content check, when
// `contentCrc` is given, and then the record check over all the rest, which
// is stored last so that it covers every byte.
void SealRecord(std::uint8_t* record, std::optional<std::uint32_t> contentCrc);
// The CRC an encoded record carries, or nullopt when it carries no tag.
std::optional<std::uint32_t> LoadContentCheck(const std::uint8_t* record);
// What the record check of an encoded record says.
enum class RecordCheck { Unchecked, Sound, Damaged };
RecordCheck CheckRecord(const std::uint8_t* record);
// Whether `bytes` (660 of them) are a checked record that would be sound
// with `size` in its last four bytes: a record whose size field alone was
// damaged, so that no walk finds its start.
bool IsCheckedRecordOfSize(const std::uint8_t* bytes, std::uint32_t size);

}  // namespace brelvane

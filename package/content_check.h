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

namespace brelvane {

inline constexpr char kContentCheckTag[] = "BRVCRC32";  // 8 bytes, no terminator stored
inline constexpr std::size_t kContentCheckTagWidth = 8;
inline constexpr char kRecordCheckTag[] = "BRVREC32";  // 8 bytes, no terminator stored
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

// Writes the tag and `crc` into the reserved bytes of an encoded record
// (`record` points at its first byte); the other reserved bytes become zero.
void StoreContentCheck(std::uint8_t* record, std::uint32_t crc);
// The CRC an encoded record carries, or nullopt when it carries no tag.
std::optional<std::uint32_t> LoadContentCheck(const std::uint8_t* record);

// Writes the record check into an encoded record whose other bytes are
// final (the content check included).
void StoreRecordCheck(std::uint8_t* record);
// What the record check of an encoded record says.
enum class RecordCheck { Unchecked, Sound, Damaged };
RecordCheck CheckRecord(const std::uint8_t* record);
// Whether `bytes` (660 of them) are a checked record that would be sound
// with `size` in its last four bytes: a record whose size field alone was
// damaged, so that no walk finds its start.
bool IsCheckedRecordOfSize(const std::uint8_t* bytes, std::uint32_t size);

}  // namespace brelvane

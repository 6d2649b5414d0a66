// The content check a writer keeps in a record's reserved bytes: an 8-byte
// tag followed by the CRC-32 of the module's plain (descrambled) content,
// big-endian, the rest of the reserved bytes zero.  Readers that do not know
// the check ignore the reserved bytes, so checked packages stay readable by
// every reader; records without the tag (zero bytes, or the 0xCD filler of
// older packages) are simply unchecked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace brelvane {

inline constexpr char kContentCheckTag[] = "BRVCRC32";  // 8 bytes, no terminator stored
inline constexpr std::size_t kContentCheckTagWidth = 8;
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

}  // namespace brelvane

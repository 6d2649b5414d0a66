#include "package/content_check.h"

#include <array>
#include <cstring>

#include "package/module_record.h"

namespace brelvane {
namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();
constexpr std::size_t kCrcOffset = kReservedOffset + kContentCheckTagWidth;

}  // namespace

void Crc32::Update(const std::uint8_t* data, std::size_t length) {
  std::uint32_t c = state_;
  for (std::size_t i = 0; i < length; ++i) c = kCrcTable[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  state_ = c;
}

void StoreContentCheck(std::uint8_t* record, std::uint32_t crc) {
  std::memset(record + kReservedOffset, 0, kReservedWidth);
  std::memcpy(record + kReservedOffset, kContentCheckTag, kContentCheckTagWidth);
  StoreBigEndian(crc, record + kCrcOffset);
}

std::optional<std::uint32_t> LoadContentCheck(const std::uint8_t* record) {
  if (std::memcmp(record + kReservedOffset, kContentCheckTag, kContentCheckTagWidth) != 0) {
    return std::nullopt;
  }
  return FromBigEndian(record + kCrcOffset);
}

}  // namespace brelvane

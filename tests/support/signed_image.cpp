#include "support/signed_image.h"

namespace brelvane::testing::pe {

void Put16(std::string& bytes, std::size_t at, std::uint32_t value) {
  bytes[at] = static_cast<char>(value);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
  Put16(bytes, at, value & 0xFFFF);
  Put16(bytes, at + 2, value >> 16);
}

std::string Image() {
  std::string bytes(kImageSize, '\x5A');
  bytes.replace(0, kSection + 40, std::string(kSection + 40, '\0'));
  bytes[0] = 'M';
  bytes[1] = 'Z';
  Put32(bytes, 0x3C, kHeader);
  bytes.replace(kHeader, 4, std::string("PE\0\0", 4));
  Put16(bytes, kHeader + 4 + 2, 1);     // one section
  Put16(bytes, kHeader + 4 + 16, 240);  // optional header size
  Put16(bytes, kOptional, 0x20B);
  Put32(bytes, kOptional + 60, 0x200);  // SizeOfHeaders
  Put32(bytes, kOptional + 108, 16);    // NumberOfRvaAndSizes
  Put32(bytes, kSection + 16, 0x200);   // SizeOfRawData
  Put32(bytes, kSection + 20, 0x200);   // PointerToRawData
  return bytes;
}

std::string Signed(const std::string& behind, std::uint32_t tableSize) {
  std::string bytes = Image() + behind;
  bytes.append((8 - bytes.size() % 8) % 8, '\0');
  Put32(bytes, kSecurityEntry, static_cast<std::uint32_t>(bytes.size()));
  Put32(bytes, kSecurityEntry + 4, tableSize);
  return bytes + Certificate(tableSize);
}

std::string Certificate(std::uint32_t size) {
  // WIN_CERTIFICATE: dwLength, revision 0x0200, type 2; then a DER SEQUENCE
  // with a two-byte length that fills the rest.
  std::string table(size, '\0');
  Put32(table, 0, size);
  Put16(table, 4, 0x0200);
  Put16(table, 6, 2);
  const std::uint32_t content = size - 8 - 4;
  table[8] = '\x30';
  table[9] = '\x82';
  table[10] = static_cast<char>(content >> 8);
  table[11] = static_cast<char>(content);
  return table;
}

}  // namespace brelvane::testing::pe

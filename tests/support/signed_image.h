// Test support: a small PE32+ image as a signer sees it, and the same image
// with bytes behind it and a certificate table appended the way a signer
// appends one.  The offsets let tests craft the headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brelvane::testing::pe {

// Headers up to 0x200, one section of raw data from 0x200 to 0x400.
inline constexpr std::size_t kHeader = 0x40;            // "PE\0\0"
inline constexpr std::size_t kOptional = kHeader + 24;  // the optional header
inline constexpr std::size_t kSecurityEntry = kOptional + 112 + 4 * 8;
inline constexpr std::size_t kChecksum = kOptional + 64;
inline constexpr std::size_t kSection = kOptional + 240;  // the section header
inline constexpr std::size_t kImageSize = 0x400;

void Put16(std::string& bytes, std::size_t at, std::uint32_t value);
void Put32(std::string& bytes, std::size_t at, std::uint32_t value);

std::string Image();
// `behind` after the image, zero padding to a multiple of 8, then a table of
// `tableSize` bytes that the security entry names.
std::string Signed(const std::string& behind, std::uint32_t tableSize = 0x48);
// A certificate table of `size` bytes as a signer writes it (a
// WIN_CERTIFICATE holding a DER SEQUENCE), its content zero.
std::string Certificate(std::uint32_t size);

}  // namespace brelvane::testing::pe

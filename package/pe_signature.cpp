#include "package/pe_signature.h"

#include <algorithm>
#include <array>
#include <vector>

namespace brelvane {
namespace {

// Little-endian fields of the PE headers, read only inside the window.
class HeaderBytes {
 public:
  HeaderBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Has(std::uint64_t offset, std::uint64_t width) const {
    return offset <= size_ && width <= size_ - offset;
  }
  std::uint32_t U16(std::uint64_t offset) const {
    return static_cast<std::uint32_t>(data_[offset] | (data_[offset + 1] << 8));
  }
  std::uint32_t U32(std::uint64_t offset) const { return U16(offset) | (U16(offset + 2) << 16); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

constexpr std::uint64_t kNewHeaderField = 0x3C;  // e_lfanew
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::uint32_t kMagicPe32 = 0x10B;
constexpr std::uint32_t kMagicPe32Plus = 0x20B;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint32_t kSecurityEntry = 4;
constexpr std::int64_t kMaxPadding = 7;

}  // namespace

std::optional<CertificateTable> ParseCertificateTable(const std::uint8_t* headers, std::size_t size,
                                                      std::int64_t fileLength) {
  const HeaderBytes bytes(headers, std::min(size, kPeHeaderWindow));
  if (!bytes.Has(0, 64) || headers[0] != 'M' || headers[1] != 'Z') return std::nullopt;
  const std::uint64_t pe = bytes.U32(kNewHeaderField);
  if (!bytes.Has(pe, 4 + kCoffHeaderSize) || headers[pe] != 'P' || headers[pe + 1] != 'E' ||
      headers[pe + 2] != 0 || headers[pe + 3] != 0) {
    return std::nullopt;
  }
  const std::uint64_t coff = pe + 4;
  const std::uint64_t sections = bytes.U16(coff + 2);
  const std::uint64_t optionalSize = bytes.U16(coff + 16);
  const std::uint64_t optional = coff + kCoffHeaderSize;
  if (!bytes.Has(optional, optionalSize) || optionalSize < 2) return std::nullopt;

  std::uint64_t directories = 0;
  std::uint64_t countField = 0;
  switch (bytes.U16(optional)) {
    case kMagicPe32:
      countField = 92;
      directories = 96;
      break;
    case kMagicPe32Plus:
      countField = 108;
      directories = 112;
      break;
    default: return std::nullopt;
  }
  const std::uint64_t entry = directories + 8 * kSecurityEntry;
  if (optionalSize < entry + 8 || bytes.U32(optional + countField) <= kSecurityEntry) {
    return std::nullopt;
  }
  const std::int64_t tableOffset = bytes.U32(optional + entry);
  const std::int64_t tableSize = bytes.U32(optional + entry + 4);
  // Both are 32-bit, so their sum cannot overflow 64 bits; it must end
  // exactly at the end of the file.
  if (tableOffset == 0 || tableSize == 0 || tableOffset + tableSize != fileLength) {
    return std::nullopt;
  }

  // The image ends behind its headers (the section table included) and its
  // last section's raw data: a table that begins before that is not one a
  // signer appended.
  const std::uint64_t table = optional + optionalSize;
  if (!bytes.Has(table, sections * kSectionHeaderSize)) return std::nullopt;
  std::uint64_t imageEnd = std::max<std::uint64_t>(bytes.U32(optional + 60),  // SizeOfHeaders
                                                   table + sections * kSectionHeaderSize);
  for (std::uint64_t i = 0; i < sections; ++i) {
    const std::uint64_t section = table + i * kSectionHeaderSize;
    const std::uint64_t rawSize = bytes.U32(section + 16);
    if (rawSize != 0) imageEnd = std::max(imageEnd, rawSize + bytes.U32(section + 20));
  }
  if (static_cast<std::uint64_t>(tableOffset) < imageEnd) return std::nullopt;

  CertificateTable result;
  result.offset = tableOffset;
  result.size = tableSize;
  result.entryOffset = static_cast<std::int64_t>(optional + entry);
  result.checksumOffset = static_cast<std::int64_t>(optional + 64);
  result.imageEnd = static_cast<std::int64_t>(imageEnd);
  return result;
}

std::optional<SignedTail> ReadSignedTail(FileSystem& files, FileHandle file, std::int64_t length,
                                         bool* readOk) {
  bool ignored = true;
  bool& ok = readOk != nullptr ? *readOk : ignored;
  ok = false;
  std::vector<std::uint8_t> headers(
      static_cast<std::size_t>(std::min<std::int64_t>(length, kPeHeaderWindow)));
  if (files.Seek(file, 0, SeekFrom::Begin) != 0) return std::nullopt;
  std::size_t done = 0;
  while (done < headers.size()) {
    const std::int64_t got = files.Read(file, headers.data() + done, headers.size() - done);
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  ok = true;
  const std::optional<CertificateTable> table = ParseCertificateTable(headers.data(), done, length);
  if (!table) return std::nullopt;

  // The signer's zero padding in front of the table.  A module's record ends
  // with its size, whose last byte is not zero, so no module byte is taken;
  // nor is any byte of the image itself.
  std::array<std::uint8_t, kMaxPadding> before{};
  const std::int64_t start = std::max(table->imageEnd, table->offset - kMaxPadding);
  const auto count = static_cast<std::size_t>(table->offset - start);
  ok = false;
  if (files.Seek(file, start, SeekFrom::Begin) != start) return std::nullopt;
  done = 0;
  while (done < count) {
    const std::int64_t got = files.Read(file, before.data() + done, count - done);
    if (got <= 0) return std::nullopt;
    done += static_cast<std::size_t>(got);
  }
  ok = true;
  SignedTail tail{*table, table->offset};
  while (tail.contentEnd > start &&
         before[static_cast<std::size_t>(tail.contentEnd - start - 1)] == 0) {
    --tail.contentEnd;
  }
  return tail;
}

void PeChecksum::Update(const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; i += 2) {
    std::uint32_t word = data[i];
    if (i + 1 < size) word |= static_cast<std::uint32_t>(data[i + 1]) << 8;
    sum_ += word;
    sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
  }
  length_ += size;
}

std::uint32_t PeChecksum::Value() const {
  const std::uint64_t folded = (sum_ & 0xFFFF) + (sum_ >> 16);
  return static_cast<std::uint32_t>(folded + length_);
}

}  // namespace brelvane

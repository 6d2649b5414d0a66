#include "package/pe_signature.h"

#include <algorithm>
#include <array>
#include <vector>

#include "package/module_record.h"

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

namespace {

// What the headers say, before the security entry is judged.
struct PeHeaders {
  std::uint64_t imageEnd = 0;  // behind the headers and the last section's raw data
  std::uint64_t entry = 0;     // the security entry; 0 when the header has none
  std::uint64_t checksum = 0;  // the CheckSum field
  std::uint64_t symbols = 0;   // the COFF symbol table; 0 when none
  std::uint64_t symbolCount = 0;
};

std::optional<PeHeaders> ParseHeaders(const std::uint8_t* headers, std::size_t size) {
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
  // SizeOfHeaders and CheckSum lie before the directories.
  if (optionalSize < countField + 4) return std::nullopt;
  PeHeaders result;
  result.checksum = optional + 64;
  const std::uint64_t entry = directories + 8 * kSecurityEntry;
  if (optionalSize >= entry + 8 && bytes.U32(optional + countField) > kSecurityEntry) {
    result.entry = optional + entry;
  }
  result.symbols = bytes.U32(coff + 8);
  result.symbolCount = bytes.U32(coff + 12);

  // The image ends behind its headers (the section table included) and its
  // last section's raw data.
  const std::uint64_t table = optional + optionalSize;
  if (!bytes.Has(table, sections * kSectionHeaderSize)) return std::nullopt;
  result.imageEnd = std::max<std::uint64_t>(bytes.U32(optional + 60),  // SizeOfHeaders
                                            table + sections * kSectionHeaderSize);
  for (std::uint64_t i = 0; i < sections; ++i) {
    const std::uint64_t section = table + i * kSectionHeaderSize;
    const std::uint64_t rawSize = bytes.U32(section + 16);
    if (rawSize != 0)
      result.imageEnd = std::max(result.imageEnd, rawSize + bytes.U32(section + 20));
  }
  return result;
}

// Reads up to `size` bytes at `offset`: the count read, or -1.
std::int64_t ReadAt(FileSystem& files, FileHandle file, std::int64_t offset, std::uint8_t* buffer,
                    std::size_t size) {
  if (files.Seek(file, offset, SeekFrom::Begin) != offset) return -1;
  std::size_t done = 0;
  while (done < size) {
    const std::int64_t got = files.Read(file, buffer + done, size - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

std::vector<std::uint8_t> ReadHeaders(FileSystem& files, FileHandle file, std::int64_t length,
                                      bool* ok) {
  std::vector<std::uint8_t> headers(
      static_cast<std::size_t>(std::min<std::int64_t>(length, kPeHeaderWindow)));
  const std::int64_t got = ReadAt(files, file, 0, headers.data(), headers.size());
  *ok = got >= 0;
  headers.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  return headers;
}

}  // namespace

std::optional<CertificateTable> ParseCertificateTable(const std::uint8_t* headers, std::size_t size,
                                                      std::int64_t fileLength) {
  const std::optional<PeHeaders> parsed = ParseHeaders(headers, size);
  if (!parsed || parsed->entry == 0) return std::nullopt;
  const HeaderBytes bytes(headers, std::min(size, kPeHeaderWindow));
  const std::int64_t tableOffset = bytes.U32(parsed->entry);
  const std::int64_t tableSize = bytes.U32(parsed->entry + 4);
  // Both are 32-bit, so their sum cannot overflow 64 bits; it must end
  // exactly at the end of the file, and begin behind the image: a table
  // that begins before that is not one a signer appended.
  if (tableOffset == 0 || tableSize == 0 || tableOffset + tableSize != fileLength) {
    return std::nullopt;
  }
  if (static_cast<std::uint64_t>(tableOffset) < parsed->imageEnd) return std::nullopt;

  CertificateTable result;
  result.offset = tableOffset;
  result.size = tableSize;
  result.entryOffset = static_cast<std::int64_t>(parsed->entry);
  result.checksumOffset = static_cast<std::int64_t>(parsed->checksum);
  result.imageEnd = static_cast<std::int64_t>(parsed->imageEnd);
  return result;
}

bool IsCertificateHeader(const std::uint8_t* table, std::size_t size, std::int64_t entrySize) {
  constexpr std::uint32_t kRevision2 = 0x0200;
  constexpr std::uint32_t kTypePkcsSignedData = 2;
  constexpr std::uint8_t kDerSequence = 0x30;
  const HeaderBytes bytes(table, size);
  if (!bytes.Has(0, 10)) return false;
  const std::int64_t declared = bytes.U32(0);
  // The entry gives dwLength rounded up to a multiple of 8.
  if (declared < 10 || declared > entrySize || entrySize > ((declared + 7) & ~std::int64_t{7})) {
    return false;
  }
  if (bytes.U16(4) != kRevision2 || bytes.U16(6) != kTypePkcsSignedData) return false;
  if (table[8] != kDerSequence) return false;
  // The DER length: short form, or 1 to 4 bytes behind 0x81..0x84.
  std::int64_t encoded = 0;
  std::int64_t lengthBytes = 0;
  if (table[9] < 0x80) {
    encoded = table[9];
  } else {
    lengthBytes = table[9] & 0x7F;
    if (lengthBytes == 0 || lengthBytes > 4 ||
        !bytes.Has(10, static_cast<std::uint64_t>(lengthBytes)))
      return false;
    for (std::int64_t i = 0; i < lengthBytes; ++i) encoded = (encoded << 8) | table[10 + i];
  }
  const std::int64_t total = 2 + lengthBytes + encoded;
  const std::int64_t content = declared - 8;
  return total <= content && content - total < 8;
}

std::optional<std::int64_t> ReadImageEnd(FileSystem& files, FileHandle file, std::int64_t length,
                                         bool* readOk) {
  bool ignored = true;
  bool& ok = readOk != nullptr ? *readOk : ignored;
  const std::vector<std::uint8_t> headers = ReadHeaders(files, file, length, &ok);
  const std::optional<PeHeaders> parsed =
      ok ? ParseHeaders(headers.data(), headers.size()) : std::nullopt;
  if (!parsed) return std::nullopt;
  auto end = static_cast<std::int64_t>(parsed->imageEnd);
  if (parsed->symbols != 0) {
    // The string table follows the symbols; its first four bytes give its size.
    constexpr std::int64_t kSymbolSize = 18;
    const auto strings =
        static_cast<std::int64_t>(parsed->symbols + parsed->symbolCount * kSymbolSize);
    std::array<std::uint8_t, 4> size{};
    const std::int64_t got = ReadAt(files, file, strings, size.data(), size.size());
    if (got < 0) ok = false;
    if (got != 4) return std::nullopt;
    const HeaderBytes field(size.data(), size.size());
    end = std::max(end, strings + std::max<std::int64_t>(4, field.U32(0)));
  }
  return end;
}

std::optional<CertificateTable> ReadCertificateEntry(FileSystem& files, FileHandle file,
                                                     std::int64_t length) {
  bool ok = false;
  const std::vector<std::uint8_t> headers = ReadHeaders(files, file, length, &ok);
  if (!ok) return std::nullopt;
  return ParseCertificateTable(headers.data(), headers.size(), length);
}

std::optional<SignedTail> ReadSignedTail(FileSystem& files, FileHandle file, std::int64_t length,
                                         bool* readOk) {
  bool ignored = true;
  bool& ok = readOk != nullptr ? *readOk : ignored;
  const std::vector<std::uint8_t> headers = ReadHeaders(files, file, length, &ok);
  if (!ok) return std::nullopt;
  const std::optional<CertificateTable> table =
      ParseCertificateTable(headers.data(), headers.size(), length);
  if (!table) return std::nullopt;

  // The table's own header, and no module where the table would be.
  std::array<std::uint8_t, kCertificateHeaderSize> start{};
  const std::int64_t got = ReadAt(files, file, table->offset, start.data(), start.size());
  if (got < 0) {
    ok = false;
    return std::nullopt;
  }
  if (!IsCertificateHeader(start.data(), static_cast<std::size_t>(got), table->size)) {
    return std::nullopt;
  }
  const std::optional<bool> module = ModuleRecordEndsAt(files, file, length);
  if (!module) ok = false;
  if (!module || *module) return std::nullopt;

  // The signer's zero padding in front of the table.  A module's record ends
  // with its size, whose last byte is not zero, so no module byte is taken;
  // nor is any byte of the image itself.
  std::array<std::uint8_t, kMaxPadding> before{};
  const std::int64_t from = std::max(table->imageEnd, table->offset - kMaxPadding);
  const auto count = static_cast<std::size_t>(table->offset - from);
  if (ReadAt(files, file, from, before.data(), count) != static_cast<std::int64_t>(count)) {
    ok = false;
    return std::nullopt;
  }
  SignedTail tail{*table, table->offset};
  while (tail.contentEnd > from &&
         before[static_cast<std::size_t>(tail.contentEnd - from - 1)] == 0) {
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

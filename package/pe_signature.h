// The certificate table a code signer appends to a PE file.  A signer
// (signtool, osslsigncode) pads the file with zeros to a multiple of 8 and
// appends the table behind the last module; the security entry of the
// optional header's data directories gives its FILE offset and size.
// Readers walk the modules from where the table begins, less that padding;
// writers refuse a signed package, since any byte appended behind the table
// breaks the signature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/platform.h"

namespace brelvane {

// How much of a file's beginning the parse reads: the DOS header, the PE
// headers and the section table of any image lie well inside it.
inline constexpr std::size_t kPeHeaderWindow = 64 * 1024;

// Where the headers hold what a signature touches.
struct CertificateTable {
  std::int64_t offset = 0;          // first byte of the table
  std::int64_t size = 0;            // to the end of the file
  std::int64_t entryOffset = 0;     // the security directory entry (8 bytes)
  std::int64_t checksumOffset = 0;  // the optional header's CheckSum (4 bytes)
  std::int64_t imageEnd = 0;  // behind the headers (entry and checksum too) and the last section
};

// The certificate table that the headers of a file of `fileLength` bytes
// name, whose first bytes are `headers` (at most kPeHeaderWindow of them),
// or nullopt when the file is not signed: not a PE file, no security entry,
// or one that does not end exactly at the end of the file, begins inside the
// image (headers or sections) or overflows.  Never reads outside `headers`.
// The table's own header is judged apart (IsCertificateHeader).
std::optional<CertificateTable> ParseCertificateTable(const std::uint8_t* headers, std::size_t size,
                                                      std::int64_t fileLength);

// How many bytes of a table's start IsCertificateHeader reads at most: the
// WIN_CERTIFICATE header and the DER tag and length of its content.
inline constexpr std::size_t kCertificateHeaderSize = 8 + 6;

// Whether the first `size` bytes of a table that the security entry gives
// `entrySize` bytes form what a signer writes: a WIN_CERTIFICATE whose
// dwLength matches the entry (the entry rounds it up to a multiple of 8),
// revision 0x0200, type 2 (PKCS #7 signed data), holding a DER SEQUENCE
// whose encoded length ends within the last 8 bytes of dwLength.
bool IsCertificateHeader(const std::uint8_t* table, std::size_t size, std::int64_t entrySize);

// Where a PE image ends, read through `file` of `length` bytes: behind its
// headers, its sections' raw data and its COFF symbol and string tables.
// nullopt when the file is no PE file or an end cannot be told (headers
// beyond those read); also when it cannot be read, and then `readOk` (when
// given) is false.  Moves the file's position.
std::optional<std::int64_t> ReadImageEnd(FileSystem& files, FileHandle file, std::int64_t length,
                                         bool* readOk = nullptr);

// The table the headers of `file` (of `length` bytes) name, judged by the
// headers alone (ParseCertificateTable); nullopt also when they cannot be
// read.  ReadSignedTail decides whether it is a signature.
std::optional<CertificateTable> ReadCertificateEntry(FileSystem& files, FileHandle file,
                                                     std::int64_t length);

// The file's certificate table, read through `file` of `length` bytes, and
// where the content before it ends: the table's offset less the zero
// padding (up to 7 bytes) in front of it, never inside the image.
struct SignedTail {
  CertificateTable table;
  std::int64_t contentEnd = 0;
};
// nullopt when the file is not signed; false in `readOk` when it could not
// be read (then it counts as not signed too).  Moves the file's position.
// A table counts only when its header is a signer's (IsCertificateHeader)
// and no module record ends at the end of the file: a table that lies over
// a module is none, so nothing ever takes a module for a signature.
std::optional<SignedTail> ReadSignedTail(FileSystem& files, FileHandle file, std::int64_t length,
                                         bool* readOk = nullptr);

// The standard PE image checksum, fed with the file's bytes in order (every
// piece but the last of an even size), with the CheckSum field already zero.
class PeChecksum {
 public:
  void Update(const std::uint8_t* data, std::size_t size);
  std::uint32_t Value() const;

 private:
  std::uint64_t sum_ = 0;
  std::uint64_t length_ = 0;
};

}  // namespace brelvane

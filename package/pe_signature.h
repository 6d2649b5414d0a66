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

// The certificate table of a file of `fileLength` bytes whose first bytes
// are `headers` (at most kPeHeaderWindow of them), or nullopt when the file
// is not signed: not a PE file, no security entry, or one that does not end
// exactly at the end of the file, begins inside the image (headers or
// sections) or overflows.  Never reads outside `headers`.
std::optional<CertificateTable> ParseCertificateTable(const std::uint8_t* headers, std::size_t size,
                                                      std::int64_t fileLength);

// The file's certificate table, read through `file` of `length` bytes, and
// where the content before it ends: the table's offset less the zero
// padding (up to 7 bytes) in front of it, never inside the image.
struct SignedTail {
  CertificateTable table;
  std::int64_t contentEnd = 0;
};
// nullopt when the file is not signed; false in `readOk` when it could not
// be read (then it counts as not signed too).  Moves the file's position.
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

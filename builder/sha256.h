// SHA-256 (FIPS 180-4), for the build manifest's check of its base
// installer.  The product carries no crypto library; this is the plain
// algorithm, checked against sha256sum by the tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace brelvane {

class Sha256 {
 public:
  Sha256();
  void Add(const void* data, std::size_t size);
  // The digest as 64 lower-case hexadecimal digits; ends the hashing.
  std::string HexDigest();

 private:
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> block_{};
  std::size_t used_ = 0;
  std::uint64_t total_ = 0;
};

}  // namespace brelvane

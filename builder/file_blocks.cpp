#include "builder/file_blocks.h"

#include <algorithm>
#include <vector>

#include "builder/sha256.h"

namespace brelvane {
namespace {

constexpr std::size_t kBlock = 64 * 1024;

}  // namespace

bool ReadBlocks(const Platform& platform, const std::string& path, std::int64_t from,
                std::int64_t limit, const BlockFn& each) {
  FileSystem& files = platform.files;
  ScopedFile file(files, files.OpenRead(path));
  if (!file.valid()) return false;
  if (limit < 0) limit = files.Length(file.get()) - from;
  if (limit < 0 || files.Seek(file.get(), from, SeekFrom::Begin) != from) return false;
  std::vector<std::uint8_t> block(kBlock);
  while (limit > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(limit, kBlock));
    const std::int64_t got = files.Read(file.get(), block.data(), want);
    if (got <= 0) return false;
    each(block.data(), static_cast<std::size_t>(got));
    limit -= got;
  }
  return true;
}

std::optional<std::string> Sha256OfFile(const Platform& platform, const std::string& path,
                                        std::int64_t limit) {
  Sha256 hash;
  if (!ReadBlocks(platform, path, 0, limit,
                  [&](const std::uint8_t* data, std::size_t size) { hash.Add(data, size); })) {
    return std::nullopt;
  }
  return hash.HexDigest();
}

std::optional<bool> SameBytes(const Platform& platform, const std::string& pathA,
                              std::int64_t fromA, const std::string& pathB, std::int64_t fromB,
                              std::int64_t length) {
  Sha256 hashA, hashB;
  if (!ReadBlocks(platform, pathA, fromA, length,
                  [&](const std::uint8_t* data, std::size_t size) { hashA.Add(data, size); }) ||
      !ReadBlocks(platform, pathB, fromB, length,
                  [&](const std::uint8_t* data, std::size_t size) { hashB.Add(data, size); }))
    return std::nullopt;
  return hashA.HexDigest() == hashB.HexDigest();
}

bool WriteNewFile(const Platform& platform, const std::string& path, const std::string& text) {
  FileSystem& files = platform.files;
  ScopedFile file(files, files.CreateExclusive(path));
  if (!file.valid()) return false;
  if (files.Write(file.get(), text.data(), text.size()) != static_cast<std::int64_t>(text.size()))
    return false;
  return files.Flush(file.get());
}

bool CopyPrefix(const Platform& platform, const std::string& from, const std::string& path,
                std::int64_t length) {
  FileSystem& files = platform.files;
  ScopedFile file(files, files.CreateExclusive(path));
  if (!file.valid()) return false;
  bool written = true;
  const bool read =
      ReadBlocks(platform, from, 0, length, [&](const std::uint8_t* data, std::size_t size) {
        written = written && files.Write(file.get(), data, size) == static_cast<std::int64_t>(size);
      });
  return read && written && files.Flush(file.get());
}

std::uint64_t SizeOf(const Platform& platform, const std::string& path) {
  ScopedFile file(platform.files, platform.files.OpenRead(path));
  if (!file.valid()) return 0;
  const std::int64_t length = platform.files.Length(file.get());
  return length < 0 ? 0 : static_cast<std::uint64_t>(length);
}

}  // namespace brelvane

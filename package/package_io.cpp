#include "package/package_io.h"

namespace brelvane {

std::int64_t ReadFull(FileSystem& files, FileHandle file, std::uint8_t* buffer, std::size_t size) {
  std::size_t total = 0;
  while (total < size) {
    const std::int64_t got = files.Read(file, buffer + total, size - total);
    if (got < 0) return -1;
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(total);
}

bool ReadAt(FileSystem& files, FileHandle file, std::int64_t offset, std::uint8_t* buffer,
            std::size_t size) {
  return files.Seek(file, offset, SeekFrom::Begin) == offset &&
         ReadFull(files, file, buffer, size) == static_cast<std::int64_t>(size);
}

bool WriteAll(FileSystem& files, FileHandle file, const std::uint8_t* data, std::size_t size,
              ErrorScope& error) {
  const std::int64_t written = files.Write(file, data, size);
  if (written == static_cast<std::int64_t>(size)) return true;
  error.CaptureShortWrite(written);
  return false;
}

void ScrambleBlock(std::uint8_t* block, std::size_t length) {
  for (std::size_t offset = 0; offset < length; offset += kScrambleChunk) {
    ScrambleChunk(block + offset, std::min(kScrambleChunk, length - offset));
  }
}

bool ClearReadOnly(FileSystem& files, const std::string& packagePath) {
  const std::uint32_t attributes = files.GetAttributes(packagePath);
  if (attributes == win::kInvalidAttributes) return false;
  return (attributes & win::kAttrReadOnly) == 0 ||
         files.SetAttributes(packagePath, attributes & ~win::kAttrReadOnly);
}

}  // namespace brelvane

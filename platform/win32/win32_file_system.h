// The real file system through the C runtime's low-level calls and the
// ANSI file APIs; Windows paths, codes and attributes pass straight through.
#pragma once

#include "platform/platform.h"

namespace brelvane {

class Win32FileSystem : public FileSystem {
 public:
  FileHandle OpenRead(const std::string& path) override;
  FileHandle OpenReadExclusive(const std::string& path) override;
  FileHandle CreateExclusive(const std::string& path) override;
  FileHandle CreateExclusiveWithAttributes(const std::string& path,
                                           std::uint32_t attributes) override;
  FileHandle OpenAppend(const std::string& path) override;
  FileHandle OpenUpdate(const std::string& path) override;
  std::int64_t Read(FileHandle file, void* buffer, std::size_t size) override;
  std::int64_t Write(FileHandle file, const void* buffer, std::size_t size) override;
  std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override;
  std::int64_t Length(FileHandle file) override;
  bool Truncate(FileHandle file, std::int64_t length) override;
  bool Lock(FileHandle file, LockMode mode) override;
  bool Unlock(FileHandle file) override;
  bool Flush(FileHandle file) override;
  bool Close(FileHandle file) override;
  std::uint32_t GetAttributes(const std::string& path) override;
  bool SetAttributes(const std::string& path, std::uint32_t attributes) override;
  bool DeleteFile(const std::string& path) override;
  bool CreateDirectory(const std::string& path) override;
  bool RemoveDirectory(const std::string& path) override;
  std::optional<std::vector<DirEntry>> FindFiles(const std::string& pattern) override;
  bool Exists(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  std::optional<FileId> Identify(const std::string& path) override;
  bool MoveIntoPlace(const std::string& from, const std::string& to, bool replaceExisting) override;
  std::optional<std::uint64_t> FreeBytes(const std::string& folder) override;
  std::optional<VolumeFacts> DescribeVolume(const std::string& folder) override;
};

}  // namespace brelvane

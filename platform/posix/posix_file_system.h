// The simulation's file system: Windows paths through a drive map onto host
// folders, with the Windows rules the core relies on (error codes, read-only
// and hidden attributes, sharing, dot entries).
#pragma once

#include <sys/statvfs.h>
#include <sys/types.h>

#include <map>
#include <mutex>
#include <utility>

#include "platform/platform.h"
#include "platform/posix/drive_map.h"

namespace brelvane {

class PosixFileSystem : public FileSystem {
 public:
  DriveMap& drives() { return drives_; }
  const DriveMap& drives() const { return drives_; }
  // The host path a Windows path names, or nullopt (last error set).
  std::optional<std::string> HostPath(const std::string& path) const;

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

 private:
  enum class Share { ReadWrite, None };
  FileHandle OpenExisting(const std::string& path, int flags, Share share);
  std::uint32_t HostAttributes(const std::string& host);
  // statvfs of the volume that holds `folder`, the error set on failure.
  std::optional<struct statvfs> StatVolume(const std::string& folder);
  std::uint32_t StoredDosBits(const std::string& host, dev_t device, ino_t inode);
  bool StoreDosBits(const std::string& host, dev_t device, ino_t inode, std::uint32_t bits);

  DriveMap drives_;
  // Hidden and system bits of entries on host file systems without extended
  // attributes, for the life of the process only.
  std::mutex fallback_mutex_;
  std::map<std::pair<dev_t, ino_t>, std::uint32_t> fallback_bits_;
};

}  // namespace brelvane

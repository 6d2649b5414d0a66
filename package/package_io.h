// The I/O helpers that the package operations share: package/'s own, no
// part of its public API (tests/layers.sh keeps every other folder out).
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "package/package.h"
#include "platform/platform.h"

namespace brelvane {

// Windows error codes for the failures this layer detects itself.
inline constexpr std::uint32_t kErrorInvalidData = 13;    // the source changed under us
inline constexpr std::uint32_t kErrorHandleEof = 38;      // the package ends inside a module
inline constexpr std::uint32_t kErrorFileTooLarge = 223;  // a package must stay below 2 GiB

inline constexpr std::int64_t kPackageLimit = std::numeric_limits<std::int32_t>::max();

// The caller's answer to "which file did the failure concern", or `own` when
// it asked nothing; set to the package to begin with.
inline FailedFile& FailedFileSlot(FailedFile* given, FailedFile& own) {
  FailedFile& slot = given != nullptr ? *given : own;
  slot = FailedFile::Package;
  return slot;
}

// Keeps the error code of the failing call across the clean-up calls that
// follow it, so the caller reports the cause rather than the clean-up.
class ErrorScope {
 public:
  explicit ErrorScope(System& system) : system_(system) {}
  ErrorScope(const ErrorScope&) = delete;
  ErrorScope& operator=(const ErrorScope&) = delete;
  void Capture() { code_ = system_.LastError(); }
  void Set(std::uint32_t code) { code_ = code; }
  // A write that fell short without a failure code means the disk is full.
  void CaptureShortWrite(std::int64_t written) {
    Capture();
    if (written >= 0 && code_ == 0) code_ = win::kErrorDiskFull;
  }
  bool Fail() {
    system_.SetLastError(code_);
    return false;
  }
  std::uint32_t code() const { return code_; }

 private:
  System& system_;
  std::uint32_t code_ = 0;
};

// Holds a lock on the package for one scope; released before the handle
// closes.  A writer needs its exclusive lock.  A reader's shared lock only
// makes it wait for a writer at work; a file system that grants no locks
// is still read without one.
class ScopedLock {
 public:
  ScopedLock(FileSystem& files, FileHandle file, LockMode mode) : files_(files), file_(file) {
    held_ = files_.Lock(file_, mode);
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;
  // A failed unlock is harmless: closing the handle releases the lock.
  ~ScopedLock() { Release(); }
  bool held() const { return held_; }
  // Before the handle closes early: its number may soon name another file.
  void Release() {
    if (held_) files_.Unlock(file_);
    held_ = false;
  }

 private:
  FileSystem& files_;
  FileHandle file_;
  bool held_ = false;
};

// Reads until `size` bytes are in or the file ends: the byte count, or -1.
std::int64_t ReadFull(FileSystem& files, FileHandle file, std::uint8_t* buffer, std::size_t size);

// Reads `size` bytes at `offset`; false when they cannot all be read.
bool ReadAt(FileSystem& files, FileHandle file, std::int64_t offset, std::uint8_t* buffer,
            std::size_t size);

// Writes all of `data`; a short write leaves its cause in `error`.
bool WriteAll(FileSystem& files, FileHandle file, const std::uint8_t* data, std::size_t size,
              ErrorScope& error);

// Scrambles (or descrambles) a block that starts on a chunk boundary of its
// module's content, chunk by chunk.
void ScrambleBlock(std::uint8_t* block, std::size_t length);

// How a block-by-block pass over a module's content ended.
enum class BlocksEnd { Done, ReadFailed, EndedEarly, Stopped };

// Reads `total` bytes from where `file` stands, in blocks of kCopyBlockSize,
// and hands each block to `use` (false stops the pass).  Reports progress
// after each block `use` took.
template <typename UseBlock>
BlocksEnd ForEachBlock(FileSystem& files, FileHandle file, std::uint64_t total,
                       const ProgressFn& progress, UseBlock use) {
  std::vector<std::uint8_t> block(kCopyBlockSize);
  for (std::uint64_t done = 0; done < total;) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), total - done));
    const std::int64_t got = ReadFull(files, file, block.data(), want);
    if (got < 0) return BlocksEnd::ReadFailed;
    if (got < static_cast<std::int64_t>(want)) return BlocksEnd::EndedEarly;
    if (!use(block.data(), want)) return BlocksEnd::Stopped;
    done += want;
    if (progress) progress(done, total);
  }
  return BlocksEnd::Done;
}

inline void Report(const ProgressFn& progress, std::uint64_t done, std::uint64_t total) {
  if (progress) progress(done, total);
}

// A writer clears the package's read-only bit before it opens it.
bool ClearReadOnly(FileSystem& files, const std::string& packagePath);

// The whole walk (WalkModules) over a package open with `file`, of
// `length` bytes, under the caller's lock.
WalkResult WalkOpenPackage(const Platform& platform, const PackageRef& package, FileHandle file,
                           std::int64_t length);
// A writer's walk under its exclusive lock: a ReadFailure when the lock is
// not held or the length unknown.
WalkResult WalkLockedPackage(const Platform& platform, const std::string& packagePath,
                             FileHandle file, bool locked, std::int64_t length);

}  // namespace brelvane

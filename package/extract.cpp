// Extracting: a module's content back into a file of its own, and the
// check of a module's content against its record.
#include <array>

#include "common/error_text.h"
#include "common/fs_helpers.h"
#include "common/scope_exit.h"
#include "package/content_check.h"
#include "package/package.h"
#include "package/package_io.h"

namespace brelvane {

namespace {

// The content check of the record that lies right behind a module's content,
// read from where the copy stopped.  nullopt when no module record of that
// content size lies there or it carries no check; false when the read fails.
bool ReadTrailingCheck(FileSystem& files, FileHandle file, std::uint32_t contentSize,
                       std::optional<std::uint32_t>* check) {
  std::array<std::uint8_t, kRecordSize> bytes{};
  const std::int64_t got = ReadFull(files, file, bytes.data(), bytes.size());
  if (got < 0) return false;
  check->reset();
  if (got != kRecordSize) return true;
  ModuleRecord record;
  DecodeModuleRecord(bytes.data(), record);
  if (IsModuleMarker(record.marker) && record.contentSize == contentSize) {
    *check = LoadContentCheck(bytes.data());
  }
  return true;
}

// Copies the content that `source` stands at into `target`, descrambled,
// and verifies it against the check of the record behind it.
bool CopyVerified(FileSystem& files, FileHandle source, FileHandle target,
                  std::uint32_t contentSize, const ProgressFn& progress, ErrorScope& error,
                  ExtractResult& result) {
  Crc32 check;
  const BlocksEnd copy = ForEachBlock(files, source, contentSize, progress,
                                      [&](std::uint8_t* block, std::size_t length) {
                                        ScrambleBlock(block, length);
                                        check.Update(block, length);
                                        return WriteAll(files, target, block, length, error);
                                      });
  switch (copy) {
    case BlocksEnd::Done: break;
    case BlocksEnd::ReadFailed: error.Capture(); return false;
    // The package ends inside the module.
    case BlocksEnd::EndedEarly: error.Set(kErrorHandleEof); return false;
    case BlocksEnd::Stopped: return false;
  }
  std::optional<std::uint32_t> expected;
  if (!ReadTrailingCheck(files, source, contentSize, &expected)) {
    error.Capture();
    return false;
  }
  if (expected && *expected != check.Value()) {
    error.Set(kErrorCrc);
    result = ExtractResult::Damaged;
    return false;
  }
  return true;
}

// Adds `attributes` to the written file's own.
bool AddAttributes(FileSystem& files, const std::string& path, std::uint32_t attributes) {
  const std::uint32_t current = files.GetAttributes(path);
  if (current == win::kInvalidAttributes) return false;
  return (current & attributes) != 0 || files.SetAttributes(path, current | attributes);
}

}  // namespace

bool ExtractModule(const Platform& platform, const PackageRef& package,
                   const std::string& destination, std::int32_t contentOffset,
                   std::uint32_t contentSize, std::uint32_t attributes, const ProgressFn& progress,
                   ExtractResult* outcome) {
  WaitCursor wait(platform.prompts);
  FileSystem& files = platform.files;
  ErrorScope error(platform.system);
  ExtractResult ignored = ExtractResult::Failed;
  ExtractResult& result = outcome != nullptr ? *outcome : ignored;
  result = ExtractResult::Failed;
  ScopedFile source(files, files.OpenRead(package.path));
  if (!source.valid()) return false;
  ScopedLock lock(files, source.get(), LockMode::Shared);
  ScopedFile target(files, files.CreateExclusive(destination));
  if (!target.valid()) {
    error.Capture();
    lock.Release();
    source.Reset();
    return error.Fail();
  }

  // Any failure from here removes what was written: no partial file stays.
  ScopeExit discard([&] {
    lock.Release();
    source.Reset();
    target.Reset();
    DeletePath(platform, destination, true);
    error.Fail();
  });
  if (files.Seek(source.get(), contentOffset, SeekFrom::Begin) != contentOffset) {
    error.Capture();
    return false;
  }
  if (!CopyVerified(files, source.get(), target.get(), contentSize, progress, error, result)) {
    return false;
  }
  lock.Release();
  source.Reset();
  if (!target.Reset()) {
    error.Capture();
    return false;
  }
  discard.Cancel();
  if (contentSize == 0) Report(progress, 0, 0);
  if (!AddAttributes(files, destination, attributes)) return false;
  result = ExtractResult::Done;
  return true;
}

ContentState CheckModuleContent(const Platform& platform, const PackageRef& package,
                                const WalkedModule& module) {
  if (!module.contentCheck) return ContentState::Unchecked;
  FileSystem& files = platform.files;
  ScopedFile file(files, files.OpenRead(package.path));
  if (!file.valid()) return ContentState::Unreadable;
  ScopedLock lock(files, file.get(), LockMode::Shared);
  if (files.Seek(file.get(), module.contentOffset, SeekFrom::Begin) != module.contentOffset) {
    return ContentState::Unreadable;
  }
  Crc32 check;
  const BlocksEnd pass = ForEachBlock(files, file.get(), module.record.contentSize, {},
                                      [&](std::uint8_t* block, std::size_t length) {
                                        ScrambleBlock(block, length);
                                        check.Update(block, length);
                                        return true;
                                      });
  if (pass == BlocksEnd::ReadFailed) return ContentState::Unreadable;
  if (pass != BlocksEnd::Done) return ContentState::Damaged;
  return check.Value() == *module.contentCheck ? ContentState::Sound : ContentState::Damaged;
}

}  // namespace brelvane

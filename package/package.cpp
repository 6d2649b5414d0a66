#include "package/package.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "common/error_text.h"
#include "common/fs_helpers.h"
#include "common/name_rules.h"
#include "common/scope_exit.h"
#include "package/append_journal.h"
#include "package/content_check.h"
#include "package/pe_signature.h"

namespace brelvane {
namespace {

// Windows error codes for the failures this layer detects itself.
constexpr std::uint32_t kErrorInvalidData = 13;    // the source changed under us
constexpr std::uint32_t kErrorHandleEof = 38;      // the package ends inside a module
constexpr std::uint32_t kErrorFileTooLarge = 223;  // a package must stay below 2 GiB

constexpr std::int64_t kPackageLimit = std::numeric_limits<std::int32_t>::max();

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

// Scrambles (or descrambles) a block that starts on a chunk boundary of its
// module's content, chunk by chunk.
void ScrambleBlock(std::uint8_t* block, std::size_t length) {
  for (std::size_t offset = 0; offset < length; offset += kScrambleChunk) {
    ScrambleChunk(block + offset, std::min(kScrambleChunk, length - offset));
  }
}

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

// Writes all of `data`; a short write leaves its cause in `error`.
bool WriteAll(FileSystem& files, FileHandle file, const std::uint8_t* data, std::size_t size,
              ErrorScope& error) {
  const std::int64_t written = files.Write(file, data, size);
  if (written == static_cast<std::int64_t>(size)) return true;
  error.CaptureShortWrite(written);
  return false;
}

// The 9x family's way to learn a file's length: read it through in
// 1024-byte reads, then go back to its start.  -1 on failure.
std::int64_t CountLength(FileSystem& files, FileHandle file) {
  std::array<std::uint8_t, kScrambleChunk> buffer{};
  std::int64_t length = 0;
  for (;;) {
    const std::int64_t got = files.Read(file, buffer.data(), buffer.size());
    if (got < 0) return -1;
    if (got == 0) break;
    length += got;
  }
  if (files.Seek(file, 0, SeekFrom::Begin) != 0) return -1;
  return length;
}

// One step of the backward walk: the record that ends at `end`, if any.
enum class StepKind { Module, NoRecord, Foreign, Failure };
struct Step {
  StepKind kind = StepKind::Failure;
  ModuleRecord record;
  std::int64_t contentOffset = 0;
  std::optional<std::uint32_t> contentCheck;
};

Step ReadRecordEndingAt(FileSystem& files, FileHandle file, std::int64_t end,
                        std::int32_t minRecordSize) {
  Step step;
  std::array<std::uint8_t, kRecordSize> bytes{};
  if (files.Seek(file, end - 4, SeekFrom::Begin) != end - 4) return step;
  if (ReadFull(files, file, bytes.data(), 4) != 4) return step;
  const std::int64_t size = FromBigEndian(bytes.data());
  // Below the smallest record, or reaching back to the start of the file:
  // no record ends here, so the walk has reached the image.
  if (size >= end || size < std::max(minRecordSize, kRecordSize)) {
    step.kind = StepKind::NoRecord;
    return step;
  }
  // Only the fixed fields are read, whatever size the record claims.
  const std::int64_t start = end - size;
  if (files.Seek(file, start, SeekFrom::Begin) != start) return step;
  if (ReadFull(files, file, bytes.data(), bytes.size()) != kRecordSize) return step;
  DecodeModuleRecord(bytes.data(), step.record);
  step.contentCheck = LoadContentCheck(bytes.data());
  step.contentOffset = start - static_cast<std::int64_t>(step.record.contentSize);
  step.kind = IsModuleMarker(step.record.marker) && step.contentOffset >= 0 ? StepKind::Module
                                                                            : StepKind::Foreign;
  return step;
}

// The query as the marker field holds it (at most 64 bytes) against the
// first 35 characters of the record's marker, as strncmp compares them.
bool MarkerMatches(const std::string& query, const std::string& marker) {
  const std::size_t prefixLength = sizeof(kPredefinedPrefix);  // 34 + the suffix
  const std::string field = std::string(query.c_str()).substr(0, kMarkerWidth);
  return std::strncmp(field.c_str(), marker.c_str(), prefixLength) == 0;
}

// The record's file name begins with the whole query.
bool NameMatches(const std::string& query, const std::string& fileName) {
  const std::size_t length = std::strlen(query.c_str());
  return std::strncmp(fileName.c_str(), query.c_str(), length) == 0;
}

void Report(const ProgressFn& progress, std::uint64_t done, std::uint64_t total) {
  if (progress) progress(done, total);
}

}  // namespace

std::optional<ModulesEnd> FindModulesEnd(const Platform& platform, const std::string& packagePath,
                                         FileHandle package, std::int64_t length) {
  bool readOk = false;
  const std::optional<SignedTail> tail = ReadSignedTail(platform.files, package, length, &readOk);
  if (!readOk) return std::nullopt;
  ModulesEnd result;
  result.contentEnd = tail ? tail->contentEnd : length;
  result.certificateTable = tail ? tail->table.size : 0;
  result.end = CommittedLength(platform, packagePath, package, result.contentEnd, &result.journal);
  return result;
}

std::int32_t FindModule(const Platform& platform, const PackageRef& package,
                        const std::string& query, std::int32_t* outOffset, bool matchMarker,
                        ModuleRecord* outRecord, std::uint32_t searchEnd) {
  FileSystem& files = platform.files;
  const bool ntFamily = IsNtPlatform(platform.system);
  if (ntFamily) {
    ScopedFile probe(files, files.OpenRead(package.path));
    if (!probe.valid()) return -1;
  }
  ScopedFile file(files, files.OpenRead(package.path));
  if (!file.valid()) return -1;
  // Measured once no writer is at work.
  ScopedLock lock(files, file.get(), LockMode::Shared);
  const std::int64_t length = ntFamily ? files.Length(file.get()) : CountLength(files, file.get());
  if (length < 0) return -1;
  const std::optional<ModulesEnd> modulesEnd =
      FindModulesEnd(platform, package.path, file.get(), length);
  if (!modulesEnd) return -1;

  std::int64_t end = searchEnd != 0 ? std::int64_t{searchEnd} : modulesEnd->end;
  for (;;) {
    const Step step = ReadRecordEndingAt(files, file.get(), end, package.recordSize);
    switch (step.kind) {
      case StepKind::NoRecord: return 0;
      case StepKind::Foreign:
      case StepKind::Failure: return -1;
      case StepKind::Module: break;
    }
    const bool match = (matchMarker && MarkerMatches(query, step.record.marker)) ||
                       NameMatches(query, step.record.fileName);
    if (match) {
      if (step.contentOffset > kPackageLimit) return -1;
      // Content at the very start of the file has no image before it; its
      // offset cannot be told from "not found", so it is not a find.
      if (step.contentOffset == 0) return 0;
      const auto offset = static_cast<std::int32_t>(step.contentOffset);
      if (outOffset != nullptr) *outOffset = offset;
      if (outRecord != nullptr) *outRecord = step.record;
      return offset;
    }
    if (step.contentOffset == 0) return 0;  // reached the start of the file
    end = step.contentOffset;
  }
}

namespace {

// Reads `size` bytes at `offset`; false when they cannot all be read.
bool ReadAt(FileSystem& files, FileHandle file, std::int64_t offset, std::uint8_t* buffer,
            std::size_t size) {
  return files.Seek(file, offset, SeekFrom::Begin) == offset &&
         ReadFull(files, file, buffer, size) == static_cast<std::int64_t>(size);
}

// The end of the whole module record that begins at `record`, for a module
// whose content begins at `moduleStart`: its contentSize reaches back
// exactly there, its marker is a module's, and its size, in its fixed field
// and in its last four bytes alike, ends it before `end`; so the backward
// walk from that end reads this very module.  0 when there is none; -1 when
// the file cannot be read.
std::int64_t WholeRecordEnd(FileSystem& files, FileHandle file, std::int64_t record,
                            std::int64_t moduleStart, std::int64_t end) {
  std::array<std::uint8_t, kRecordSize> bytes{};
  if (!ReadAt(files, file, record, bytes.data(), bytes.size())) return -1;
  ModuleRecord decoded;
  DecodeModuleRecord(bytes.data(), decoded);
  const std::int64_t size = decoded.recordSize;
  if (record - moduleStart != static_cast<std::int64_t>(decoded.contentSize) ||
      !IsModuleMarker(decoded.marker) || size < kRecordSize || record + size > end) {
    return 0;
  }
  std::array<std::uint8_t, 4> last{};
  if (!ReadAt(files, file, record + size - 4, last.data(), last.size())) return -1;
  return FromBigEndian(last.data()) == size ? record + size : 0;
}

// The chain of whole modules that begins at `start` (a program's image end),
// read forward up to `end`: a module's record lies where its contentSize
// field equals its distance from the module's first byte, so each block is
// scanned for that, and a chance match inside content counts only as a
// whole record.  nullopt when the file cannot be read.
struct Chain {
  std::int64_t end = 0;
  std::size_t modules = 0;
};
std::optional<Chain> ForwardChain(FileSystem& files, FileHandle file, std::int64_t start,
                                  std::int64_t end) {
  Chain chain{start, 0};
  std::vector<std::uint8_t> block(kCopyBlockSize + 3);
  std::int64_t at = start;  // the next candidate for a record's first byte
  while (at + kRecordSize <= end) {
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(block.size()), end - at));
    if (!ReadAt(files, file, at, block.data(), want)) return std::nullopt;
    const auto candidates =
        std::min<std::int64_t>(static_cast<std::int64_t>(want) - 3, end - kRecordSize - at + 1);
    std::int64_t next = 0;
    for (std::int64_t i = 0; i < candidates && next == 0; ++i) {
      if (FromBigEndian(block.data() + i) != static_cast<std::uint64_t>(at + i - chain.end)) {
        continue;
      }
      next = WholeRecordEnd(files, file, at + i, chain.end, end);
      if (next < 0) return std::nullopt;
    }
    if (next > 0) {
      chain.end = next;
      ++chain.modules;
      at = next;
    } else {
      at += candidates;
    }
  }
  return chain;
}

WalkResult FailedWalk() {
  WalkResult result;
  result.end = WalkEnd::ReadFailure;
  return result;
}

// The whole walk over an open package of `length` bytes, under its lock.
WalkResult WalkOpenPackage(const Platform& platform, const PackageRef& package, FileHandle file,
                           std::int64_t length) {
  FileSystem& files = platform.files;
  WalkResult result;
  const std::optional<ModulesEnd> modulesEnd = FindModulesEnd(platform, package.path, file, length);
  if (!modulesEnd) {
    result.end = WalkEnd::ReadFailure;
    return result;
  }
  std::int64_t end = modulesEnd->end;
  result.interruptedAppend = modulesEnd->contentEnd - end;
  result.certificateTable = modulesEnd->certificateTable;
  result.journal = modulesEnd->journal;
  for (;;) {
    result.stopOffset = end;
    // Fewer than four bytes left: no record can end here.
    if (end < 4) {
      result.end = WalkEnd::Image;
      break;
    }
    Step step = ReadRecordEndingAt(files, file, end, package.recordSize);
    if (step.kind == StepKind::NoRecord) {
      result.end = WalkEnd::Image;
      break;
    }
    if (step.kind == StepKind::Foreign) {
      if (IsModuleMarker(step.record.marker)) result.recordBeforeStart = step.record;
      result.end = WalkEnd::ForeignRecord;
      break;
    }
    if (step.kind == StepKind::Failure) {
      result.end = WalkEnd::ReadFailure;
      return result;
    }
    end = step.contentOffset;
    result.modules.push_back(
        WalkedModule{std::move(step.record), step.contentOffset, step.contentCheck});
  }

  // Every byte behind a program's image must be a whole module.
  result.wholeModulesEnd = modulesEnd->end;
  result.wholeModules = result.modules.size();
  bool readOk = false;
  const std::optional<std::int64_t> image = ReadImageEnd(files, file, length, &readOk);
  if (!readOk) return FailedWalk();
  if (!image || *image > modulesEnd->end) return result;
  result.imageEnd = *image;
  if (result.end == WalkEnd::Image && result.stopOffset == *image) return result;
  const std::optional<Chain> chain = ForwardChain(files, file, *image, modulesEnd->end);
  if (!chain) {
    result.end = WalkEnd::ReadFailure;
    return result;
  }
  result.wholeModulesEnd = chain->end;
  result.wholeModules = chain->modules;
  result.strayBytes = modulesEnd->end - chain->end;
  return result;
}

}  // namespace

WalkResult WalkModules(const Platform& platform, const PackageRef& package) {
  FileSystem& files = platform.files;
  WalkResult result;
  ScopedFile file(files, files.OpenRead(package.path));
  if (!file.valid()) {
    result.end = WalkEnd::ReadFailure;
    return result;
  }
  ScopedLock lock(files, file.get(), LockMode::Shared);
  const std::int64_t length = files.Length(file.get());
  if (length < 0) {
    result.end = WalkEnd::ReadFailure;
    return result;
  }
  return WalkOpenPackage(platform, package, file.get(), length);
}

bool FileNameFromPath(System& system, std::string& path) {
  if (path.empty()) return false;
  path = system.StripPath(path);
  return true;
}

std::optional<std::string> ModuleSourceProblem(System& system, const std::string& sourcePath,
                                               const std::string& extractDir) {
  std::string fileName = sourcePath;
  if (!FileNameFromPath(system, fileName)) return std::nullopt;
  return ModulePlacementProblem(fileName, extractDir);
}

bool BuildModuleRecord(const Platform& platform, const std::string& sourcePath,
                       ModuleRecord& record, const std::string& extractDir,
                       std::optional<PredefinedSet> set, std::int32_t recordSize) {
  const char* marker = set ? MarkerOf(*set) : kBaseMarker;
  std::string fileName = sourcePath;
  FileNameFromPath(platform.system, fileName);
  // A name must fit its field together with its terminator.
  if (marker == nullptr || recordSize < kRecordSize) {
    platform.system.SetLastError(win::kErrorInvalidParameter);
    return false;
  }
  // The record keeps 8-bit names in the ANSI code page, as the install reads
  // them back; a name that code page cannot hold could not land as chosen.
  const std::optional<std::string> storedName = platform.system.ToAnsi(fileName);
  const std::optional<std::string> storedDir = platform.system.ToAnsi(extractDir);
  if (!storedName || !storedDir) {
    platform.system.SetLastError(win::kErrorInvalidName);
    return false;
  }
  if (storedName->size() >= kNameWidth || storedDir->size() >= kNameWidth) {
    platform.system.SetLastError(win::kErrorFilenameExcedRange);
    return false;
  }
  // Never stored when an install would refuse it: the maker learns it now,
  // not the end user on the drive.  Judged before the source is opened: on
  // Windows "con.txt" opens the console, not a file.
  if (ModuleSourceProblem(platform.system, sourcePath, extractDir)) {
    platform.system.SetLastError(win::kErrorInvalidName);
    return false;
  }

  FileSystem& files = platform.files;
  std::int64_t length = 0;
  {
    ScopedFile source(files, files.OpenRead(sourcePath));
    if (!source.valid()) return false;
    length = files.Length(source.get());
    if (length < 0) return false;
  }
  if (length > kPackageLimit) {
    platform.system.SetLastError(kErrorFileTooLarge);
    return false;
  }

  ModuleRecord filled;
  filled.contentSize = static_cast<std::uint32_t>(length);
  filled.marker = marker;
  filled.fileName = *storedName;
  filled.extractDir = *storedDir;
  filled.attributes = win::kAttrNormal;
  filled.recordSize = static_cast<std::uint32_t>(recordSize);
  // Through the on-disk form, so the record holds exactly what will be stored.
  std::array<std::uint8_t, kRecordSize> bytes{};
  EncodeModuleRecord(filled, bytes.data());
  DecodeModuleRecord(bytes.data(), record);
  return true;
}

bool AppendModule(const Platform& platform, const std::string& sourcePath,
                  const std::string& packagePath, const ModuleRecord& record,
                  const ProgressFn& progress, FailedFile* failed) {
  FileSystem& files = platform.files;
  ErrorScope error(platform.system);
  FailedFile ignored = FailedFile::Package;
  FailedFile& where = failed != nullptr ? *failed : ignored;
  where = FailedFile::Package;
  // Readers find a record by the size in its last four bytes: only records of
  // exactly the fixed size can be written so that they read back.
  if (record.recordSize != static_cast<std::uint32_t>(kRecordSize)) {
    error.Set(win::kErrorInvalidParameter);
    return error.Fail();
  }
  // The reserved bytes stay zero until the content check goes into them.
  std::array<std::uint8_t, kRecordSize> encoded{};
  EncodeModuleRecord(record, encoded.data());

  const std::uint32_t attributes = files.GetAttributes(packagePath);
  if (attributes == win::kInvalidAttributes) return false;
  if ((attributes & win::kAttrReadOnly) != 0 &&
      !files.SetAttributes(packagePath, attributes & ~win::kAttrReadOnly)) {
    return false;
  }
  ScopedFile source(files, files.OpenRead(sourcePath));
  if (!source.valid()) return false;
  ScopedFile target(files, files.OpenAppend(packagePath));
  if (!target.valid()) {
    error.Capture();
    source.Reset();
    return error.Fail();
  }
  // Another writer may be appending: wait for it, then measure the package
  // as it is now, after taking back what an interrupted append left.
  ScopedLock lock(files, target.get(), LockMode::Exclusive);
  if (!lock.held()) {
    error.Capture();
    return error.Fail();
  }
  // A byte behind a signature breaks it, and a module behind stray bytes
  // is out of the installer's reach; both are judged before an interrupted
  // append is rolled back, so such a package is left exactly as it is.
  {
    const std::int64_t length = files.Length(target.get());
    const WalkResult walk =
        length < 0 ? FailedWalk()
                   : WalkOpenPackage(platform, PackageRef{packagePath}, target.get(), length);
    if (walk.end == WalkEnd::ReadFailure) {
      error.Capture();
      return error.Fail();
    }
    // Repair cuts stray bytes, and a signature over them, in one go.
    if (walk.strayBytes > 0) {
      error.Set(kErrorStrayBytes);
      return error.Fail();
    }
    if (walk.certificateTable > 0) {
      error.Set(kErrorPackageSigned);
      return error.Fail();
    }
  }
  if (!RollBackInterruptedAppend(platform, packagePath, target.get(), &where)) {
    error.Capture();
    return error.Fail();
  }
  where = FailedFile::Package;
  const std::int64_t formerLength = files.Length(target.get());
  if (formerLength < 0) {
    error.Capture();
    return error.Fail();
  }
  const std::uint64_t total = record.contentSize;
  if (formerLength + static_cast<std::int64_t>(total) + kRecordSize > kPackageLimit) {
    error.Set(kErrorFileTooLarge);
    return error.Fail();
  }
  // The journal goes to the disk before the first byte reaches the package:
  // a process that dies from here on leaves a package that readers read, and
  // the next writer cuts back, to its former length.
  if (!BeginJournal(platform, packagePath, target.get(), formerLength)) {
    error.Capture();
    where = FailedFile::Journal;
    return error.Fail();
  }

  // Any failure from here cuts the package back to its former length; only
  // then does the journal go, so a cut that fails leaves it in charge.
  ScopeExit undo([&] {
    if (files.Truncate(target.get(), formerLength)) EndJournal(platform, packagePath);
    error.Fail();
  });
  Crc32 check;
  const BlocksEnd copy = ForEachBlock(files, source.get(), total, progress,
                                      [&](std::uint8_t* block, std::size_t length) {
                                        check.Update(block, length);
                                        ScrambleBlock(block, length);
                                        return WriteAll(files, target.get(), block, length, error);
                                      });
  switch (copy) {
    case BlocksEnd::Done: break;
    case BlocksEnd::ReadFailed: error.Capture(); return false;
    // The source shrank since it was described.
    case BlocksEnd::EndedEarly: error.Set(kErrorInvalidData); return false;
    case BlocksEnd::Stopped: return false;
  }
  // A source that grew since it was described would not match its record.
  std::uint8_t extra = 0;
  const std::int64_t more = files.Read(source.get(), &extra, 1);
  if (more != 0) {
    if (more < 0) error.Capture();
    else error.Set(kErrorInvalidData);
    return false;
  }
  StoreContentCheck(encoded.data(), check.Value());
  if (!WriteAll(files, target.get(), encoded.data(), encoded.size(), error)) return false;
  // The module is complete once it is on the disk and the journal is gone.
  if (!files.Flush(target.get())) {
    error.Capture();
    return false;
  }
  if (!EndJournal(platform, packagePath)) {
    error.Capture();
    where = FailedFile::Journal;
    return false;
  }
  undo.Cancel();
  if (total == 0) Report(progress, 0, 0);
  return true;
}

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

}  // namespace

bool ExtractModule(const Platform& platform, const PackageRef& package,
                   const std::string& destination, std::int32_t contentOffset,
                   std::uint32_t contentSize, std::uint32_t attributes, const ProgressFn& progress,
                   ExtractOutcome* outcome) {
  WaitCursor wait(platform.prompts);
  FileSystem& files = platform.files;
  ErrorScope error(platform.system);
  ExtractOutcome ignored = ExtractOutcome::Failed;
  ExtractOutcome& result = outcome != nullptr ? *outcome : ignored;
  result = ExtractOutcome::Failed;
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
  Crc32 check;
  const BlocksEnd copy = ForEachBlock(files, source.get(), contentSize, progress,
                                      [&](std::uint8_t* block, std::size_t length) {
                                        ScrambleBlock(block, length);
                                        check.Update(block, length);
                                        return WriteAll(files, target.get(), block, length, error);
                                      });
  switch (copy) {
    case BlocksEnd::Done: break;
    case BlocksEnd::ReadFailed: error.Capture(); return false;
    // The package ends inside the module.
    case BlocksEnd::EndedEarly: error.Set(kErrorHandleEof); return false;
    case BlocksEnd::Stopped: return false;
  }
  std::optional<std::uint32_t> expected;
  if (!ReadTrailingCheck(files, source.get(), contentSize, &expected)) {
    error.Capture();
    return false;
  }
  if (expected && *expected != check.Value()) {
    error.Set(kErrorCrc);
    result = ExtractOutcome::Damaged;
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

  const std::uint32_t current = files.GetAttributes(destination);
  if (current == win::kInvalidAttributes) return false;
  if ((current & attributes) == 0 && !files.SetAttributes(destination, current | attributes)) {
    return false;
  }
  result = ExtractOutcome::Done;
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

namespace {

// The PE checksum of the first `newEnd` bytes of `file` with `table`'s
// security entry and the CheckSum field as zero: what the header holds once
// the table is gone.
std::optional<std::uint32_t> ChecksumWithoutTable(FileSystem& files, FileHandle file,
                                                  std::int64_t newEnd,
                                                  const CertificateTable& table) {
  std::vector<std::uint8_t> head(
      static_cast<std::size_t>(std::min<std::int64_t>(newEnd, kPeHeaderWindow)));
  if (!ReadAt(files, file, 0, head.data(), head.size())) return std::nullopt;
  const auto entry = static_cast<std::ptrdiff_t>(table.entryOffset);
  const auto checksum = static_cast<std::ptrdiff_t>(table.checksumOffset);
  std::fill_n(head.begin() + entry, 8, std::uint8_t{0});
  std::fill_n(head.begin() + checksum, 4, std::uint8_t{0});
  PeChecksum sum;
  sum.Update(head.data(), head.size());
  const BlocksEnd pass = ForEachBlock(files, file, static_cast<std::uint64_t>(newEnd) - head.size(),
                                      {}, [&](std::uint8_t* block, std::size_t size) {
                                        sum.Update(block, size);
                                        return true;
                                      });
  if (pass != BlocksEnd::Done) return std::nullopt;
  return sum.Value();
}

// Cuts an open package, under the writer's exclusive lock, back to
// `newEnd`.  With `ownJournal` a journal records newEnd before anything
// changes and goes once the cut is on the disk; otherwise the caller's
// journal already holds readers to it (or to less).  With `table`, the
// header first loses its security entry and gets the checksum of the
// shortened file, flushed before the cut: a crash between the two leaves
// an unsigned header with the old bytes behind newEnd, which the journal
// hides from readers until the next writer cuts them.
bool CutBack(const Platform& platform, const std::string& packagePath, FileHandle file,
             std::int64_t newEnd, const CertificateTable* table, bool ownJournal, ErrorScope& error,
             FailedFile& where) {
  FileSystem& files = platform.files;
  where = FailedFile::Package;
  std::optional<std::uint32_t> checksum;
  if (table != nullptr) {
    checksum = ChecksumWithoutTable(files, file, newEnd, *table);
    if (!checksum) {
      error.Capture();
      return false;
    }
  }
  if (ownJournal && !BeginJournal(platform, packagePath, file, newEnd)) {
    error.Capture();
    where = FailedFile::Journal;
    return false;
  }
  if (table != nullptr) {
    const std::array<std::uint8_t, 4> checksumBytes = {ByteOf(*checksum, 0), ByteOf(*checksum, 1),
                                                       ByteOf(*checksum, 2), ByteOf(*checksum, 3)};
    const std::array<std::uint8_t, 8> noEntry{};
    const bool rewritten =
        files.Seek(file, table->entryOffset, SeekFrom::Begin) == table->entryOffset &&
        WriteAll(files, file, noEntry.data(), noEntry.size(), error) &&
        files.Seek(file, table->checksumOffset, SeekFrom::Begin) == table->checksumOffset &&
        WriteAll(files, file, checksumBytes.data(), checksumBytes.size(), error) &&
        files.Flush(file);
    if (!rewritten) {
      // Nothing is cut; a partial header write leaves the entry or the
      // checksum changed, and the journal still holds readers to newEnd.
      if (error.code() == 0) error.Capture();
      return false;
    }
  }
  if (!files.Truncate(file, newEnd) || !files.Flush(file)) {
    error.Capture();
    return false;
  }
  if (ownJournal && !EndJournal(platform, packagePath)) {
    error.Capture();
    where = FailedFile::Journal;
    return false;
  }
  return true;
}

// A writer clears the package's read-only bit before it opens it.
bool ClearReadOnly(FileSystem& files, const std::string& packagePath) {
  const std::uint32_t attributes = files.GetAttributes(packagePath);
  if (attributes == win::kInvalidAttributes) return false;
  return (attributes & win::kAttrReadOnly) == 0 ||
         files.SetAttributes(packagePath, attributes & ~win::kAttrReadOnly);
}

}  // namespace

UnsignOutcome UnsignPackage(const Platform& platform, const std::string& packagePath,
                            std::int64_t* removedBytes, FailedFile* failed) {
  FileSystem& files = platform.files;
  ErrorScope error(platform.system);
  FailedFile ignored = FailedFile::Package;
  FailedFile& where = failed != nullptr ? *failed : ignored;
  where = FailedFile::Package;
  auto fail = [&]() {
    error.Fail();
    return UnsignOutcome::Failed;
  };
  if (!ClearReadOnly(files, packagePath)) return UnsignOutcome::Failed;
  ScopedFile file(files, files.OpenUpdate(packagePath));
  if (!file.valid()) return UnsignOutcome::Failed;
  ScopedLock lock(files, file.get(), LockMode::Exclusive);
  const std::int64_t length = files.Length(file.get());
  const WalkResult walk =
      lock.held() && length >= 0
          ? WalkOpenPackage(platform, PackageRef{packagePath}, file.get(), length)
          : FailedWalk();
  if (walk.end == WalkEnd::ReadFailure) {
    error.Capture();
    return fail();
  }
  if (walk.strayBytes > 0) {
    error.Set(kErrorStrayBytes);
    return fail();
  }
  if (walk.certificateTable == 0) {
    if (ReadCertificateEntry(files, file.get(), length)) return UnsignOutcome::NoCertificate;
    // An unsign that a crash cut short left its journal: finish the cut.
    if (!RollBackInterruptedAppend(platform, packagePath, file.get(), &where)) {
      error.Capture();
      return fail();
    }
    return UnsignOutcome::NotSigned;
  }
  bool readOk = false;
  const std::optional<SignedTail> tail = ReadSignedTail(files, file.get(), length, &readOk);
  if (!tail) {
    error.Capture();
    return fail();
  }
  const std::int64_t newEnd = tail->contentEnd;
  // The journal records the shortened length first, unless one of an
  // interrupted append already holds the package to a shorter one.  Only a
  // journal is ever removed.
  const std::optional<JournalCheck> journal =
      InspectJournal(platform, packagePath, file.get(), newEnd);
  where = FailedFile::Journal;
  if (!journal) {
    error.Capture();
    return fail();
  }
  if (journal->state == JournalState::Foreign) {
    error.Set(kErrorNotAJournal);
    return fail();
  }
  if (journal->state == JournalState::Stale && !files.DeleteFile(JournalPath(packagePath))) {
    error.Capture();
    return fail();
  }
  const bool ownJournal = journal->state != JournalState::Interrupted;
  if (!CutBack(platform, packagePath, file.get(), newEnd, &tail->table, ownJournal, error, where)) {
    return fail();
  }
  if (removedBytes != nullptr) *removedBytes = length - newEnd;
  return UnsignOutcome::Unsigned;
}

RepairOutcome RepairPackage(const Platform& platform, const std::string& packagePath,
                            const std::function<void(const RepairPlan&)>& show,
                            FailedFile* failed) {
  FileSystem& files = platform.files;
  ErrorScope error(platform.system);
  FailedFile ignored = FailedFile::Package;
  FailedFile& where = failed != nullptr ? *failed : ignored;
  where = FailedFile::Package;
  auto fail = [&]() {
    error.Fail();
    return RepairOutcome::Failed;
  };
  if (!ClearReadOnly(files, packagePath)) return RepairOutcome::Failed;
  ScopedFile file(files, files.OpenUpdate(packagePath));
  if (!file.valid()) return RepairOutcome::Failed;
  ScopedLock lock(files, file.get(), LockMode::Exclusive);
  const std::int64_t length = files.Length(file.get());
  const WalkResult walk =
      lock.held() && length >= 0
          ? WalkOpenPackage(platform, PackageRef{packagePath}, file.get(), length)
          : FailedWalk();
  if (walk.end == WalkEnd::ReadFailure) {
    error.Capture();
    return fail();
  }
  if (walk.imageEnd == 0) {
    error.Set(kErrorNotAProgram);
    return fail();
  }
  const std::optional<JournalCheck> journal =
      InspectJournal(platform, packagePath, file.get(),
                     walk.wholeModulesEnd + walk.strayBytes + walk.interruptedAppend);
  where = FailedFile::Journal;
  if (!journal) {
    error.Capture();
    return fail();
  }
  if (journal->state == JournalState::Foreign) {
    error.Set(kErrorNotAJournal);
    return fail();
  }
  where = FailedFile::Package;

  RepairPlan plan;
  plan.length = length;
  plan.keptEnd = walk.wholeModulesEnd;
  plan.interruptedAppend = walk.interruptedAppend;
  plan.strayBytes = walk.strayBytes;
  plan.modulesKept = walk.wholeModules;
  plan.journal = journal->state;
  std::optional<SignedTail> tail;
  if (walk.certificateTable > 0 && plan.keptEnd < length - walk.certificateTable) {
    bool readOk = false;
    tail = ReadSignedTail(files, file.get(), length, &readOk);
    if (!tail) {
      error.Capture();
      return fail();
    }
    plan.certificateTable = walk.certificateTable;
  }
  const bool cut = plan.strayBytes > 0 || plan.interruptedAppend > 0;
  if (show) show(plan);

  // A journal that holds readers to the very end kept is this cut's own.
  const bool reuse =
      journal->state == JournalState::Interrupted && journal->formerLength == plan.keptEnd;
  if ((journal->state == JournalState::Stale ||
       (cut && !reuse && journal->state == JournalState::Interrupted)) &&
      !files.DeleteFile(JournalPath(packagePath))) {
    error.Capture();
    where = FailedFile::Journal;
    return fail();
  }
  if (!cut) return RepairOutcome::Sound;
  const CertificateTable* table = tail ? &tail->table : nullptr;
  if (!CutBack(platform, packagePath, file.get(), plan.keptEnd, table, !reuse, error, where)) {
    return fail();
  }
  if (reuse && !EndJournal(platform, packagePath)) {
    error.Capture();
    where = FailedFile::Journal;
    return fail();
  }
  return RepairOutcome::Repaired;
}

}  // namespace brelvane

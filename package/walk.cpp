// Finding and walking: the backward walk over the module records, the
// lookup by name or marker, and the forward count of whole modules behind
// a program's image.
#include <array>
#include <cstring>

#include "common/error_text.h"
#include "package/append_journal.h"
#include "package/content_check.h"
#include "package/package.h"
#include "package/package_io.h"
#include "package/pe_signature.h"

namespace brelvane {
namespace {

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
// Damaged: a record whose record check fails, or a checked record whose
// size field alone was damaged; nothing it says can be trusted.
enum class StepKind { Module, NoRecord, Foreign, Damaged, Failure };
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
  // Every checked record is 660 bytes long: one that claims another size
  // may be a checked record whose size field was damaged, which must not
  // pass for the image's end or send the walk into content.
  if (size != kRecordSize && end >= kRecordSize) {
    std::array<std::uint8_t, kRecordSize> probe{};
    if (files.Seek(file, end - kRecordSize, SeekFrom::Begin) != end - kRecordSize) return step;
    if (ReadFull(files, file, probe.data(), probe.size()) != kRecordSize) return step;
    if (IsCheckedRecordOfSize(probe.data(), kRecordSize)) {
      step.kind = StepKind::Damaged;
      return step;
    }
  }
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
  if (CheckRecord(bytes.data()) == RecordCheck::Damaged) {
    step.kind = StepKind::Damaged;
    return step;
  }
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

// Whether a walk that finds no record ending at `end` has reached the
// program's image, as the package check requires of a Windows program:
// bytes between the image's end and `end` are no chain of whole modules the
// walk can follow (a record whose size field was damaged, say), and the
// modules among them would silently drop out of the set.  Such a stop fails
// with the system's CRC code; a file that is no Windows program ends its
// walk wherever no record ends.
bool WalkEndsAtTheImage(const Platform& platform, FileHandle file, std::int64_t length,
                        std::int64_t end) {
  bool readOk = false;
  const std::optional<std::int64_t> image = ReadImageEnd(platform.files, file, length, &readOk);
  if (!readOk) return false;
  if (!image || *image > end || *image == end) return true;
  platform.system.SetLastError(kErrorCrc);
  return false;
}

WalkResult FailedWalk() {
  WalkResult result;
  result.end = WalkEnd::ReadFailure;
  return result;
}

// Walks backwards from `end` and collects every module up to where the walk
// ends.
void WalkBackwards(FileSystem& files, FileHandle file, std::int64_t end, std::int32_t recordSize,
                   WalkResult& result) {
  for (;;) {
    result.stopOffset = end;
    // Fewer than four bytes left: no record can end here.
    if (end < 4) {
      result.end = WalkEnd::Image;
      return;
    }
    Step step = ReadRecordEndingAt(files, file, end, recordSize);
    if (step.kind == StepKind::NoRecord) {
      result.end = WalkEnd::Image;
      return;
    }
    if (step.kind == StepKind::Foreign) {
      if (IsModuleMarker(step.record.marker)) result.recordBeforeStart = step.record;
      result.end = WalkEnd::ForeignRecord;
      return;
    }
    if (step.kind == StepKind::Damaged) {
      result.end = WalkEnd::DamagedRecord;
      return;
    }
    if (step.kind == StepKind::Failure) {
      result.end = WalkEnd::ReadFailure;
      return;
    }
    end = step.contentOffset;
    result.modules.push_back(
        WalkedModule{std::move(step.record), step.contentOffset, step.contentCheck});
  }
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
      case StepKind::NoRecord:
        return WalkEndsAtTheImage(platform, file.get(), length, end) ? 0 : -1;
      // Told apart from a read failure by the system's CRC code.
      case StepKind::Damaged: platform.system.SetLastError(kErrorCrc); return -1;
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

WalkResult WalkOpenPackage(const Platform& platform, const PackageRef& package, FileHandle file,
                           std::int64_t length) {
  FileSystem& files = platform.files;
  WalkResult result;
  const std::optional<ModulesEnd> modulesEnd = FindModulesEnd(platform, package.path, file, length);
  if (!modulesEnd) {
    result.end = WalkEnd::ReadFailure;
    return result;
  }
  result.interruptedAppend = modulesEnd->contentEnd - modulesEnd->end;
  result.certificateTable = modulesEnd->certificateTable;
  result.journal = modulesEnd->journal;
  WalkBackwards(files, file, modulesEnd->end, package.recordSize, result);
  if (result.end == WalkEnd::ReadFailure) return result;

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

WalkResult WalkLockedPackage(const Platform& platform, const std::string& packagePath,
                             FileHandle file, bool locked, std::int64_t length) {
  if (!locked || length < 0) return FailedWalk();
  return WalkOpenPackage(platform, PackageRef{packagePath}, file, length);
}

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

}  // namespace brelvane

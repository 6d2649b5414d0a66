// Appending: the record that describes a source, and the append itself,
// crash-safe through the journal.
#include <algorithm>
#include <array>

#include "common/name_rules.h"
#include "common/scope_exit.h"
#include "package/append_journal.h"
#include "package/content_check.h"
#include "package/package.h"
#include "package/package_io.h"

namespace brelvane {

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
                       std::optional<PredefinedSet> set, std::int32_t recordSize,
                       const std::string* recordName) {
  const char* marker = set ? MarkerOf(*set) : kBaseMarker;
  std::string fileName = sourcePath;
  FileNameFromPath(platform.system, fileName);
  if (recordName != nullptr) fileName = *recordName;
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
  if (ModuleSourceProblem(platform.system, sourcePath, extractDir) ||
      ModuleSourceProblem(platform.system, fileName, extractDir)) {
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

namespace {

// A record's destination below the drive root as Windows resolves it: the
// folder's parts as Windows takes them, separators of either kind, leading,
// doubled or trailing ones folded away.
std::string DestinationBelowRoot(System& system, const ModuleRecord& record) {
  const std::string folder = system.FromAnsi(WindowsFolderForm(record.extractDir));
  std::string path;
  std::size_t start = 0;
  while (start <= folder.size()) {
    const std::size_t end = std::min(folder.find_first_of("\\/", start), folder.size());
    if (end > start) path.append(folder, start, end - start).push_back('\\');
    start = end + 1;
  }
  return path + system.FromAnsi(record.fileName);
}

}  // namespace

bool SameDestination(System& system, const ModuleRecord& a, const ModuleRecord& b) {
  // User-defined modules are never installed: they have no place on a drive,
  // and the builder tells equal names apart by their place in the list.
  return a.marker == b.marker && a.marker.rfind(kPredefinedPrefix, 0) == 0 &&
         system.SamePathIgnoringCase(DestinationBelowRoot(system, a),
                                     DestinationBelowRoot(system, b));
}

namespace {

// A byte behind a signature breaks it, and a module behind stray bytes is
// out of the installer's reach; both are judged before an interrupted
// append is rolled back, so such a package is left exactly as it is.
AppendResult JudgePackage(const Platform& platform, const std::string& packagePath,
                          FileHandle target, const ModuleRecord& record, ErrorScope& error) {
  const std::int64_t length = platform.files.Length(target);
  const WalkResult walk = WalkLockedPackage(platform, packagePath, target, true, length);
  if (walk.end == WalkEnd::ReadFailure) {
    error.Capture();
    return AppendResult::Failed;
  }
  // Repair cuts stray bytes, and a signature over them, in one go.
  if (walk.strayBytes > 0) return AppendResult::StrayBytes;
  if (walk.certificateTable > 0) return AppendResult::Signed;
  for (const WalkedModule& module : walk.modules) {
    if (SameDestination(platform.system, module.record, record)) {
      return AppendResult::SameDestination;
    }
  }
  return AppendResult::Appended;
}

// Takes back what an interrupted append left, measures the package, and
// puts its length into the journal, on the disk before the first byte
// reaches the package: a process that dies from then on leaves a package
// that readers read, and the next writer cuts back, to `formerLength`.
AppendResult BeginAppend(const Platform& platform, const std::string& packagePath,
                         FileHandle target, std::uint64_t contentSize, std::int64_t& formerLength,
                         ErrorScope& error, FailedFile& where) {
  switch (RollBackInterruptedAppend(platform, packagePath, target, &where)) {
    case RollBackResult::Done: break;
    case RollBackResult::NotAJournal: return AppendResult::NotAJournal;
    case RollBackResult::Failed: error.Capture(); return AppendResult::Failed;
  }
  where = FailedFile::Package;
  formerLength = platform.files.Length(target);
  if (formerLength < 0) {
    error.Capture();
    return AppendResult::Failed;
  }
  if (formerLength + static_cast<std::int64_t>(contentSize) + kRecordSize > kPackageLimit) {
    error.Set(kErrorFileTooLarge);
    return AppendResult::Failed;
  }
  if (!BeginJournal(platform, packagePath, target, formerLength)) {
    error.Capture();
    where = FailedFile::Journal;
    return AppendResult::Failed;
  }
  return AppendResult::Appended;
}

// Copies the source's content, scrambled, behind the package, and gives
// the CRC-32 of the plain content.  Fails when the source does not hold
// exactly `total` bytes: it changed since it was described.
std::optional<std::uint32_t> CopyContent(FileSystem& files, FileHandle source, FileHandle target,
                                         std::uint64_t total, const ProgressFn& progress,
                                         ErrorScope& error) {
  Crc32 check;
  const BlocksEnd copy =
      ForEachBlock(files, source, total, progress, [&](std::uint8_t* block, std::size_t length) {
        check.Update(block, length);
        ScrambleBlock(block, length);
        return WriteAll(files, target, block, length, error);
      });
  switch (copy) {
    case BlocksEnd::Done: break;
    case BlocksEnd::ReadFailed: error.Capture(); return std::nullopt;
    // The source shrank since it was described.
    case BlocksEnd::EndedEarly: error.Set(kErrorInvalidData); return std::nullopt;
    case BlocksEnd::Stopped: return std::nullopt;
  }
  // A source that grew since it was described would not match its record.
  std::uint8_t extra = 0;
  const std::int64_t more = files.Read(source, &extra, 1);
  if (more != 0) {
    if (more < 0) error.Capture();
    else error.Set(kErrorInvalidData);
    return std::nullopt;
  }
  return check.Value();
}

// Writes the module behind the package, whose journal holds `formerLength`:
// the content, then the record with its content check.  The module is
// complete once it is on the disk and the journal is gone; any failure
// before cuts the package back to its former length, and only then does
// the journal go, so a cut that fails leaves it in charge.
bool WriteModule(const Platform& platform, const std::string& packagePath, FileHandle source,
                 FileHandle target, std::int64_t formerLength, const ModuleRecord& record,
                 const ProgressFn& progress, ErrorScope& error, FailedFile& where) {
  FileSystem& files = platform.files;
  ScopeExit undo([&] {
    if (files.Truncate(target, formerLength)) EndJournal(platform, packagePath);
    error.Fail();
  });
  const std::optional<std::uint32_t> check =
      CopyContent(files, source, target, record.contentSize, progress, error);
  if (!check) return false;
  // The reserved bytes stay zero but for the content and record checks.
  std::array<std::uint8_t, kRecordSize> encoded{};
  EncodeModuleRecord(record, encoded.data());
  SealRecord(encoded.data(), *check);
  if (!WriteAll(files, target, encoded.data(), encoded.size(), error)) return false;
  if (!files.Flush(target)) {
    error.Capture();
    return false;
  }
  if (!EndJournal(platform, packagePath)) {
    error.Capture();
    where = FailedFile::Journal;
    return false;
  }
  undo.Cancel();
  if (record.contentSize == 0) Report(progress, 0, 0);
  return true;
}

}  // namespace

AppendResult AppendModule(const Platform& platform, const std::string& sourcePath,
                          const std::string& packagePath, const ModuleRecord& record,
                          const ProgressFn& progress, FailedFile* failed) {
  FileSystem& files = platform.files;
  ErrorScope error(platform.system);
  FailedFile own = FailedFile::Package;
  FailedFile& where = FailedFileSlot(failed, own);
  auto fail = [&] {
    error.Fail();
    return AppendResult::Failed;
  };
  // Readers find a record by the size in its last four bytes: only records of
  // exactly the fixed size can be written so that they read back.
  if (record.recordSize != static_cast<std::uint32_t>(kRecordSize)) {
    error.Set(win::kErrorInvalidParameter);
    return fail();
  }
  if (!ClearReadOnly(files, packagePath)) return AppendResult::Failed;
  ScopedFile source(files, files.OpenRead(sourcePath));
  if (!source.valid()) return AppendResult::Failed;
  ScopedFile target(files, files.OpenAppend(packagePath));
  if (!target.valid()) {
    error.Capture();
    source.Reset();
    return fail();
  }
  // Another writer may be appending: wait for it, then judge the package
  // as it is now.
  ScopedLock lock(files, target.get(), LockMode::Exclusive);
  if (!lock.held()) {
    error.Capture();
    return fail();
  }
  const AppendResult judged = JudgePackage(platform, packagePath, target.get(), record, error);
  if (judged != AppendResult::Appended) return judged == AppendResult::Failed ? fail() : judged;
  std::int64_t formerLength = 0;
  const AppendResult begun = BeginAppend(platform, packagePath, target.get(), record.contentSize,
                                         formerLength, error, where);
  if (begun != AppendResult::Appended) return begun == AppendResult::Failed ? fail() : begun;
  return WriteModule(platform, packagePath, source.get(), target.get(), formerLength, record,
                     progress, error, where)
             ? AppendResult::Appended
             : AppendResult::Failed;
}

}  // namespace brelvane

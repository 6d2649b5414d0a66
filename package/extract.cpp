// Extracting: a module's content back into a file of its own, and the
// check of a module's content against its record.
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "common/error_text.h"
#include "common/fs_helpers.h"
#include "common/name_rules.h"
#include "common/scope_exit.h"
#include "package/content_check.h"
#include "package/package.h"
#include "package/package_io.h"

namespace brelvane {

namespace {

// The content check of the record that lies right behind a module's content,
// read from where the copy stopped.  nullopt when no module record of that
// content size lies there or it carries no check; false when the read fails.
// `damaged` says whether that record fails its own check.
bool ReadTrailingCheck(FileSystem& files, FileHandle file, std::uint32_t contentSize,
                       std::optional<std::uint32_t>* check, bool* damaged) {
  std::array<std::uint8_t, kRecordSize> bytes{};
  const std::int64_t got = ReadFull(files, file, bytes.data(), bytes.size());
  if (got < 0) return false;
  check->reset();
  *damaged = false;
  if (got != kRecordSize) return true;
  if (CheckRecord(bytes.data()) == RecordCheck::Damaged) {
    *damaged = true;
    return true;
  }
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
    case BlocksEnd::ReadFailed:
      error.Capture();
      result = ExtractResult::PackageUnreadable;
      return false;
    // The package ends inside the module.
    case BlocksEnd::EndedEarly:
      error.Set(kErrorHandleEof);
      result = ExtractResult::PackageUnreadable;
      return false;
    case BlocksEnd::Stopped: return false;
  }
  std::optional<std::uint32_t> expected;
  bool damagedRecord = false;
  if (!ReadTrailingCheck(files, source, contentSize, &expected, &damagedRecord)) {
    error.Capture();
    result = ExtractResult::PackageUnreadable;
    return false;
  }
  if (damagedRecord || (expected && *expected != check.Value())) {
    error.Set(kErrorCrc);
    result = ExtractResult::Damaged;
    return false;
  }
  return true;
}

// The bits a freshly written file ends with when given `attributes`: a new
// file shows the archive bit, and requested bits are added only when it has
// none of them already.  Only the bits a record may carry (read-only,
// hidden, normal) are applied: a record's other bits (system, say) are no
// part of the format and never reach the drive.
std::uint32_t FinishedAttributes(std::uint32_t stored) {
  const std::uint32_t attributes =
      stored & (win::kAttrReadOnly | win::kAttrHidden | win::kAttrNormal);
  const std::uint32_t fresh = win::kAttrArchive;
  return (fresh & attributes) != 0 ? fresh : fresh | attributes;
}

// The folder part of a path, separator included ("" for a bare name).
std::string FolderPart(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// How many staging names are tried before a create gives up: a clash means
// another extraction works in the same folder or a leftover survived.
constexpr std::uint32_t kStagingAttempts = 64;

// The bits a staging file carries from its creation until it is complete:
// hidden and system, and nothing else.  A file of a user's hardly ever has
// exactly these, so they mark a leftover of an interrupted extraction as
// this program's own.
constexpr std::uint32_t kStagingBits = win::kAttrHidden | win::kAttrSystem;

// Creates the next free staging file in `folder`, its bits on it from the
// moment its name appears: a run killed right after the create leaves a
// file the next run knows as its own.  Its handle, with its path in `path`.
FileHandle CreateStagingFile(FileSystem& files, System& system, const std::string& folder,
                             std::string& path) {
  for (std::uint32_t number = 0; number < kStagingAttempts; ++number) {
    path = folder + StagingName(number);
    const FileHandle file = files.CreateExclusiveWithAttributes(path, kStagingBits);
    if (file != kNoFile) return file;
    const std::uint32_t error = system.LastError();
    if (error != win::kErrorFileExists && error != win::kErrorAlreadyExists) return kNoFile;
  }
  return kNoFile;
}

// Removes the run's own staging file whatever its bits say, without a
// message.
void RemoveStagingFile(FileSystem& files, const std::string& path) {
  const std::uint32_t bits = files.GetAttributes(path);
  if (bits != win::kInvalidAttributes && (bits & win::kAttrReparsePoint) == 0 &&
      (bits & win::kAttrReadOnly) != 0) {
    files.SetAttributes(path, win::kAttrNormal);
  }
  files.DeleteFile(path);
}

// Whether a link (or an entry that cannot be told from one) stands on the
// way to `destination`; the report says where.
bool LinkStandsInTheWay(const Platform& platform, const std::string& destination,
                        ExtractReport& report, ErrorScope& error) {
  report.links = FindLinkBelowRoot(platform, destination);
  if (report.links.found == LinkSearch::Found::None) return false;
  report.result = ExtractResult::LinkInTheWay;
  error.Set(report.links.found == LinkSearch::Found::Link ? win::kErrorStoppedOnSymlink
                                                          : report.links.error);
  return true;
}

// Whether the volume lacks room for `contentSize` bytes beside what it
// holds.  A volume that does not say is written on: a full one then fails
// the copy, which loses nothing either.
bool LacksRoom(FileSystem& files, const std::string& folder, std::uint32_t contentSize,
               ExtractReport& report, ErrorScope& error) {
  const std::optional<std::uint64_t> free = files.FreeBytes(folder.empty() ? "." : folder);
  if (!free || *free >= contentSize) return false;
  report.result = ExtractResult::NoRoom;
  report.bytesNeeded = contentSize;
  report.bytesFree = *free;
  error.Set(win::kErrorDiskFull);
  return true;
}

// Renames the staging file into place, waiting out a brief open by another
// program.
bool MoveIntoPlacePatiently(const Platform& platform, const std::string& staging,
                            const std::string& destination, bool replaceExisting) {
  for (int attempt = 0;; ++attempt) {
    if (platform.files.MoveIntoPlace(staging, destination, replaceExisting)) return true;
    const std::uint32_t error = platform.system.LastError();
    if (!IsSharingRefusal(error) || attempt == kSharingRetries) return false;
    platform.system.Sleep(kSharingRetryMilliseconds);
    platform.system.SetLastError(error);
  }
}

}  // namespace

StagedModule::StagedModule(const Platform& platform, FileHandle handle, std::string path,
                           std::string destination, std::uint32_t attributes)
    : platform_(&platform),
      handle_(handle),
      path_(std::move(path)),
      destination_(std::move(destination)),
      attributes_(attributes) {}

StagedModule::StagedModule(StagedModule&& other) noexcept
    : platform_(other.platform_),
      handle_(std::exchange(other.handle_, kNoFile)),
      path_(std::move(other.path_)),
      destination_(std::move(other.destination_)),
      attributes_(other.attributes_),
      placed_(std::exchange(other.placed_, true)) {}

StagedModule::~StagedModule() { Discard(); }

void StagedModule::Discard() {
  if (placed_) return;
  placed_ = true;
  const std::uint32_t error = platform_->system.LastError();
  if (handle_ != kNoFile) platform_->files.Close(std::exchange(handle_, kNoFile));
  RemoveStagingFile(platform_->files, path_);
  platform_->system.SetLastError(error);
}

std::optional<StagedModule> StageModule(const Platform& platform, const PackageRef& package,
                                        const std::string& destination, std::int32_t contentOffset,
                                        std::uint32_t contentSize, std::uint32_t attributes,
                                        const ExtractOptions& options, ExtractReport* report) {
  WaitCursor wait(platform.prompts);
  FileSystem& files = platform.files;
  ErrorScope error(platform.system);
  ExtractReport ignored;
  ExtractReport& done = report != nullptr ? *report : ignored;
  done = ExtractReport{};
  if (options.refuseLinks && LinkStandsInTheWay(platform, destination, done, error)) {
    error.Fail();
    return std::nullopt;
  }
  ScopedFile source(files, files.OpenRead(package.path));
  if (!source.valid()) {
    done.result = ExtractResult::PackageUnreadable;
    return std::nullopt;
  }
  ScopedLock lock(files, source.get(), LockMode::Shared);
  const std::string folder = FolderPart(destination);
  if (LacksRoom(files, folder, contentSize, done, error)) {
    error.Fail();
    return std::nullopt;
  }
  std::string path;
  const FileHandle target = CreateStagingFile(files, platform.system, folder, path);
  if (target == kNoFile) {
    error.Capture();
    error.Fail();
    return std::nullopt;
  }
  // Any failure from here removes the staging file: the destination is
  // untouched.  The staging file is hidden while it is not yet the file it
  // will be, and marked as one (a leftover is known by these bits); a file
  // system without the bits still gets a whole file.
  StagedModule staged(platform, target, path, destination, attributes);
  const auto fail = [&] {
    lock.Release();
    source.Reset();
    staged.Discard();
    error.Fail();
    return std::nullopt;
  };
  if (files.Seek(source.get(), contentOffset, SeekFrom::Begin) != contentOffset) {
    error.Capture();
    done.result = ExtractResult::PackageUnreadable;
    return fail();
  }
  if (!CopyVerified(files, source.get(), target, contentSize, options.progress, error,
                    done.result)) {
    return fail();
  }
  lock.Release();
  source.Reset();
  if (!files.Flush(target)) {
    error.Capture();
    return fail();
  }
  if (contentSize == 0) Report(options.progress, 0, 0);
  done.result = ExtractResult::Done;
  return staged;
}

bool PlaceStagedModule(StagedModule& staged, const ExtractOptions& options, ExtractReport* report) {
  const Platform& platform = *staged.platform_;
  FileSystem& files = platform.files;
  ErrorScope error(platform.system);
  ExtractReport ignored;
  ExtractReport& done = report != nullptr ? *report : ignored;
  done = ExtractReport{};
  // A folder on the way may have been swapped for a link since the file was
  // staged (while a question waited): nothing is done through it.
  if (options.refuseLinks && LinkStandsInTheWay(platform, staged.destination_, done, error)) {
    staged.Discard();
    return error.Fail();
  }
  // The final bits go on while the file is still held: from the moment
  // another run could open it, it no longer looks like a leftover.
  if (!files.SetAttributes(staged.path_, FinishedAttributes(staged.attributes_)) ||
      !files.Close(std::exchange(staged.handle_, kNoFile))) {
    error.Capture();
    staged.Discard();
    return error.Fail();
  }
  if (options.refuseLinks && LinkStandsInTheWay(platform, staged.destination_, done, error)) {
    staged.Discard();
    return error.Fail();
  }
  if (!MoveIntoPlacePatiently(platform, staged.path_, staged.destination_,
                              options.replaceExisting)) {
    error.Capture();
    staged.Discard();
    return error.Fail();
  }
  staged.placed_ = true;
  done.result = ExtractResult::Done;
  return true;
}

bool ExtractModule(const Platform& platform, const PackageRef& package,
                   const std::string& destination, std::int32_t contentOffset,
                   std::uint32_t contentSize, std::uint32_t attributes,
                   const ExtractOptions& options, ExtractReport* report) {
  std::optional<StagedModule> staged = StageModule(platform, package, destination, contentOffset,
                                                   contentSize, attributes, options, report);
  return staged && PlaceStagedModule(*staged, options, report);
}

namespace {

// The end of a copy into place: the staging file flushed, closed and
// renamed, and only then given its bits, so that a run killed before the
// rename leaves a file still marked as a leftover, and one killed after it
// a file under its own name whose bits its caller can put right.  A file
// whose bits cannot be set is removed again: it is this run's own.
template <typename Discard>
bool PutStagedFileInPlace(const Platform& platform, ScopedFile& target, const std::string& staging,
                          const std::string& destination, std::uint32_t attributes,
                          ErrorScope& error, Discard& discard) {
  FileSystem& files = platform.files;
  if (!files.Flush(target.get()) || !target.Reset() ||
      !files.MoveIntoPlace(staging, destination, false)) {
    error.Capture();
    return false;
  }
  discard.Cancel();
  if (files.SetAttributes(destination, attributes)) return true;
  error.Capture();
  files.DeleteFile(destination);
  return error.Fail();
}

}  // namespace

bool CopyToStagingFile(const Platform& platform, const std::string& source,
                       const std::string& beside, std::string* staging, FileHandle* held) {
  FileSystem& files = platform.files;
  ErrorScope error(platform.system);
  ScopedFile from(files, files.OpenRead(source));
  const std::int64_t length = from.valid() ? files.Length(from.get()) : -1;
  if (length < 0) {
    error.Capture();
    return error.Fail();
  }
  ScopedFile target(files, CreateStagingFile(files, platform.system, FolderPart(beside), *staging));
  if (!target.valid()) {
    error.Capture();
    return error.Fail();
  }
  ScopeExit discard([&] {
    from.Reset();
    target.Reset();
    RemoveStagingFile(files, *staging);
    error.Fail();
  });
  const BlocksEnd copy = ForEachBlock(files, from.get(), static_cast<std::uint64_t>(length), {},
                                      [&](std::uint8_t* block, std::size_t size) {
                                        return WriteAll(files, target.get(), block, size, error);
                                      });
  if (copy == BlocksEnd::EndedEarly) error.Set(kErrorHandleEof);
  if (copy == BlocksEnd::ReadFailed) error.Capture();
  if (copy != BlocksEnd::Done) return false;
  if (!files.Flush(target.get()) || (held == nullptr && !target.Reset())) {
    error.Capture();
    return false;
  }
  discard.Cancel();
  if (held != nullptr) *held = target.Release();
  return true;
}

void RemoveOwnStagingFile(const Platform& platform, const std::string& staging) {
  const std::uint32_t cause = platform.system.LastError();
  RemoveStagingFile(platform.files, staging);
  platform.system.SetLastError(cause);
}

bool CopyFileIntoPlace(const Platform& platform, const std::string& source,
                       const std::string& destination, std::uint32_t attributes) {
  FileSystem& files = platform.files;
  std::string staging;
  if (!CopyToStagingFile(platform, source, destination, &staging)) return false;
  // Renamed, and only then given its bits: a run killed before the rename
  // leaves a file still marked as a leftover.
  if (!files.MoveIntoPlace(staging, destination, false)) {
    RemoveOwnStagingFile(platform, staging);
    return false;
  }
  if (files.SetAttributes(destination, attributes)) return true;
  ErrorScope error(platform.system);
  error.Capture();
  files.DeleteFile(destination);
  return error.Fail();
}

bool ProbeWritable(const Platform& platform, const std::string& folder) {
  FileSystem& files = platform.files;
  const std::string base =
      folder.empty() || folder.back() == '\\' || folder.back() == '/' ? folder : folder + "\\";
  std::string probe;
  ScopedFile file(files, CreateStagingFile(files, platform.system, base, probe));
  if (!file.valid()) return false;
  const bool closed = file.Reset();
  const std::uint32_t closeError = platform.system.LastError();
  // A probe that cannot be removed again says as much about the drive as a
  // create that fails; what stays is marked, and the next run removes it.
  const bool removed = files.DeleteFile(probe);
  if (!closed) {
    platform.system.SetLastError(closeError);
    return false;
  }
  return removed;
}

bool FileHoldsModule(const Platform& platform, const PackageRef& package, const std::string& path,
                     std::int32_t contentOffset, std::uint32_t contentSize,
                     std::uint32_t attributes, bool bitsToo) {
  FileSystem& files = platform.files;
  constexpr std::uint32_t kCompared = win::kAttrReadOnly | win::kAttrHidden | win::kAttrSystem;
  const std::uint32_t bits = files.GetAttributes(path);
  if (bits == win::kInvalidAttributes ||
      (bits & (win::kAttrDirectory | win::kAttrReparsePoint)) != 0 ||
      (bitsToo && (bits & kCompared) != (FinishedAttributes(attributes) & kCompared))) {
    return false;
  }
  ScopedFile existing(files, files.OpenRead(path));
  if (!existing.valid() || files.Length(existing.get()) != static_cast<std::int64_t>(contentSize)) {
    return false;
  }
  ScopedFile source(files, files.OpenRead(package.path));
  if (!source.valid()) return false;
  ScopedLock lock(files, source.get(), LockMode::Shared);
  if (files.Seek(source.get(), contentOffset, SeekFrom::Begin) != contentOffset) return false;
  std::vector<std::uint8_t> theirs(kCopyBlockSize);
  const BlocksEnd pass = ForEachBlock(
      files, source.get(), contentSize, {}, [&](std::uint8_t* block, std::size_t length) {
        ScrambleBlock(block, length);
        return ReadFull(files, existing.get(), theirs.data(), length) ==
                   static_cast<std::int64_t>(length) &&
               std::memcmp(block, theirs.data(), length) == 0;
      });
  return pass == BlocksEnd::Done;
}

bool WriteFileIntoPlace(const Platform& platform, const std::string& bytes,
                        const std::string& destination) {
  FileSystem& files = platform.files;
  ErrorScope error(platform.system);
  std::string staging;
  ScopedFile target(files,
                    CreateStagingFile(files, platform.system, FolderPart(destination), staging));
  if (!target.valid()) {
    error.Capture();
    return error.Fail();
  }
  ScopeExit discard([&] {
    target.Reset();
    RemoveStagingFile(files, staging);
    error.Fail();
  });
  if (!WriteAll(files, target.get(), reinterpret_cast<const std::uint8_t*>(bytes.data()),
                bytes.size(), error)) {
    return false;
  }
  return PutStagedFileInPlace(platform, target, staging, destination, win::kAttrNormal, error,
                              discard);
}

std::vector<std::string> RemoveStagingLeftovers(const Platform& platform,
                                                const std::string& folder) {
  std::vector<std::string> removed;
  const std::string base =
      folder.empty() || folder.back() == '\\' || folder.back() == '/' ? folder : folder + "\\";
  auto entries = platform.files.FindFiles(base + kStagingSearchPattern);
  if (!entries) return removed;
  constexpr std::uint32_t kTold =
      win::kAttrReadOnly | kStagingBits | win::kAttrDirectory | win::kAttrReparsePoint;
  for (const DirEntry& entry : *entries) {
    // A search also matches long names by their short form: only the name
    // itself counts.  Only an entry with exactly a staging file's bits is a
    // leftover: folders, links, read-only files and any other file of that
    // name are a user's, and stay.
    if (!IsStagingName(entry.name) || (entry.attributes & kTold) != kStagingBits) continue;
    // A staging file that another run is writing is held open by it, and
    // stays.  Once no run holds it, its bits are looked at again: a run
    // gives its file the final bits before letting go of it.
    const std::string path = base + entry.name;
    {
      ScopedFile held(platform.files, platform.files.OpenReadExclusive(path));
      if (!held.valid()) continue;
    }
    if ((platform.files.GetAttributes(path) & kTold) != kStagingBits) continue;
    // It is not read-only, so it goes without its bits changing (the other
    // names of a hard-linked file keep theirs).
    if (platform.files.DeleteFile(path)) removed.push_back(path);
  }
  return removed;
}

namespace {

// The CRC-32 of the plain content that `file` stands at.
BlocksEnd PlainContentCrc(FileSystem& files, FileHandle file, std::uint32_t contentSize,
                          Crc32& check) {
  return ForEachBlock(files, file, contentSize, {}, [&](std::uint8_t* block, std::size_t length) {
    ScrambleBlock(block, length);
    check.Update(block, length);
    return true;
  });
}

}  // namespace

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
  const BlocksEnd pass = PlainContentCrc(files, file.get(), module.record.contentSize, check);
  if (pass == BlocksEnd::ReadFailed) return ContentState::Unreadable;
  if (pass != BlocksEnd::Done) return ContentState::Damaged;
  return check.Value() == *module.contentCheck ? ContentState::Sound : ContentState::Damaged;
}

ContentState CheckFoundModule(const Platform& platform, const PackageRef& package,
                              std::int32_t contentOffset, std::uint32_t contentSize) {
  FileSystem& files = platform.files;
  ScopedFile file(files, files.OpenRead(package.path));
  if (!file.valid()) return ContentState::Unreadable;
  ScopedLock lock(files, file.get(), LockMode::Shared);
  if (files.Seek(file.get(), contentOffset, SeekFrom::Begin) != contentOffset) {
    return ContentState::Unreadable;
  }
  Crc32 check;
  switch (PlainContentCrc(files, file.get(), contentSize, check)) {
    case BlocksEnd::Done: break;
    case BlocksEnd::EndedEarly: platform.system.SetLastError(kErrorHandleEof); [[fallthrough]];
    case BlocksEnd::ReadFailed:
    case BlocksEnd::Stopped: return ContentState::Unreadable;
  }
  std::optional<std::uint32_t> expected;
  bool damagedRecord = false;
  if (!ReadTrailingCheck(files, file.get(), contentSize, &expected, &damagedRecord)) {
    return ContentState::Unreadable;
  }
  if (damagedRecord || (expected && *expected != check.Value())) {
    platform.system.SetLastError(kErrorCrc);
    return ContentState::Damaged;
  }
  return expected ? ContentState::Sound : ContentState::Unchecked;
}

}  // namespace brelvane

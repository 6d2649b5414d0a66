// Unsigning and repair: the writers that cut a package back, beside the
// signature parser (pe_signature.h) that finds what they cut.
#include <array>

#include "package/append_journal.h"
#include "package/package.h"
#include "package/package_io.h"
#include "package/pe_signature.h"

namespace brelvane {
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

// A package without a signature.  Left alone when its security entry names
// bytes that are no signer's certificate table; an unsign that a crash cut
// short left its journal, and the cut is finished.
UnsignResult FinishUnsigned(const Platform& platform, const std::string& packagePath,
                            FileHandle file, std::int64_t length, ErrorScope& error,
                            FailedFile& where) {
  if (ReadCertificateEntry(platform.files, file, length)) return UnsignResult::NoCertificate;
  switch (RollBackInterruptedAppend(platform, packagePath, file, &where)) {
    case RollBackResult::Done: return UnsignResult::NotSigned;
    case RollBackResult::NotAJournal: return UnsignResult::NotAJournal;
    case RollBackResult::Failed: break;
  }
  error.Capture();
  return UnsignResult::Failed;
}

// Cuts the signature of `tail`.  The journal records the shortened length
// first, unless one of an interrupted append already holds the package to
// a shorter one.  Only a journal is ever removed.
UnsignResult CutSignature(const Platform& platform, const std::string& packagePath, FileHandle file,
                          const SignedTail& tail, ErrorScope& error, FailedFile& where) {
  const std::int64_t newEnd = tail.contentEnd;
  const std::optional<JournalCheck> journal = InspectJournal(platform, packagePath, file, newEnd);
  where = FailedFile::Journal;
  if (!journal) {
    error.Capture();
    return UnsignResult::Failed;
  }
  if (journal->state == JournalState::Foreign) return UnsignResult::NotAJournal;
  if (journal->state == JournalState::Stale &&
      !platform.files.DeleteFile(JournalPath(packagePath))) {
    error.Capture();
    return UnsignResult::Failed;
  }
  const bool ownJournal = journal->state != JournalState::Interrupted;
  if (!CutBack(platform, packagePath, file, newEnd, &tail.table, ownJournal, error, where)) {
    return UnsignResult::Failed;
  }
  return UnsignResult::Unsigned;
}

// What repair would cut from the package that `walk` read.
RepairPlan PlanRepair(const WalkResult& walk, std::int64_t length, JournalState journal) {
  RepairPlan plan;
  plan.length = length;
  plan.keptEnd = walk.wholeModulesEnd;
  plan.interruptedAppend = walk.interruptedAppend;
  plan.strayBytes = walk.strayBytes;
  plan.modulesKept = walk.wholeModules;
  plan.journal = journal;
  // A signature over the bytes cut goes with them.
  if (walk.certificateTable > 0 && plan.keptEnd < length - walk.certificateTable) {
    plan.certificateTable = walk.certificateTable;
  }
  return plan;
}

// Cuts what `plan` names (`table`: the signature over it, if any).  A
// journal that holds readers to the very end kept is this cut's own.
RepairResult CarryOutRepair(const Platform& platform, const std::string& packagePath,
                            FileHandle file, const RepairPlan& plan, const JournalCheck& journal,
                            const CertificateTable* table, ErrorScope& error, FailedFile& where) {
  const bool cut = plan.strayBytes > 0 || plan.interruptedAppend > 0;
  const bool reuse =
      journal.state == JournalState::Interrupted && journal.formerLength == plan.keptEnd;
  if ((journal.state == JournalState::Stale ||
       (cut && !reuse && journal.state == JournalState::Interrupted)) &&
      !platform.files.DeleteFile(JournalPath(packagePath))) {
    error.Capture();
    where = FailedFile::Journal;
    return RepairResult::Failed;
  }
  if (!cut) return RepairResult::Sound;
  if (!CutBack(platform, packagePath, file, plan.keptEnd, table, !reuse, error, where)) {
    return RepairResult::Failed;
  }
  if (reuse && !EndJournal(platform, packagePath)) {
    error.Capture();
    where = FailedFile::Journal;
    return RepairResult::Failed;
  }
  return RepairResult::Repaired;
}

}  // namespace

UnsignResult UnsignPackage(const Platform& platform, const std::string& packagePath,
                           std::int64_t* removedBytes, FailedFile* failed) {
  FileSystem& files = platform.files;
  ErrorScope error(platform.system);
  FailedFile own = FailedFile::Package;
  FailedFile& where = FailedFileSlot(failed, own);
  auto finish = [&](UnsignResult result) {
    if (result == UnsignResult::Failed) error.Fail();
    return result;
  };
  if (!ClearReadOnly(files, packagePath)) return UnsignResult::Failed;
  ScopedFile file(files, files.OpenUpdate(packagePath));
  if (!file.valid()) return UnsignResult::Failed;
  ScopedLock lock(files, file.get(), LockMode::Exclusive);
  const std::int64_t length = files.Length(file.get());
  const WalkResult walk = WalkLockedPackage(platform, packagePath, file.get(), lock.held(), length);
  if (walk.end == WalkEnd::ReadFailure) {
    error.Capture();
    return finish(UnsignResult::Failed);
  }
  if (walk.strayBytes > 0) return UnsignResult::StrayBytes;
  if (walk.certificateTable == 0) {
    return finish(FinishUnsigned(platform, packagePath, file.get(), length, error, where));
  }
  bool readOk = false;
  const std::optional<SignedTail> tail = ReadSignedTail(files, file.get(), length, &readOk);
  if (!tail) {
    error.Capture();
    return finish(UnsignResult::Failed);
  }
  const UnsignResult result = CutSignature(platform, packagePath, file.get(), *tail, error, where);
  if (result == UnsignResult::Unsigned && removedBytes != nullptr) {
    *removedBytes = length - tail->contentEnd;
  }
  return finish(result);
}

RepairResult RepairPackage(const Platform& platform, const std::string& packagePath,
                           const std::function<void(const RepairPlan&)>& show, FailedFile* failed) {
  FileSystem& files = platform.files;
  ErrorScope error(platform.system);
  FailedFile own = FailedFile::Package;
  FailedFile& where = FailedFileSlot(failed, own);
  auto fail = [&] {
    error.Capture();
    error.Fail();
    return RepairResult::Failed;
  };
  if (!ClearReadOnly(files, packagePath)) return RepairResult::Failed;
  ScopedFile file(files, files.OpenUpdate(packagePath));
  if (!file.valid()) return RepairResult::Failed;
  ScopedLock lock(files, file.get(), LockMode::Exclusive);
  const std::int64_t length = files.Length(file.get());
  const WalkResult walk = WalkLockedPackage(platform, packagePath, file.get(), lock.held(), length);
  if (walk.end == WalkEnd::ReadFailure) return fail();
  if (walk.imageEnd == 0) return RepairResult::NotAProgram;
  const std::optional<JournalCheck> journal =
      InspectJournal(platform, packagePath, file.get(),
                     walk.wholeModulesEnd + walk.strayBytes + walk.interruptedAppend);
  where = FailedFile::Journal;
  if (!journal) return fail();
  if (journal->state == JournalState::Foreign) return RepairResult::NotAJournal;
  where = FailedFile::Package;
  const RepairPlan plan = PlanRepair(walk, length, journal->state);
  std::optional<SignedTail> tail;
  if (plan.certificateTable > 0) {
    bool readOk = false;
    tail = ReadSignedTail(files, file.get(), length, &readOk);
    if (!tail) return fail();
  }
  if (show) show(plan);
  const CertificateTable* table = tail ? &tail->table : nullptr;
  const RepairResult result =
      CarryOutRepair(platform, packagePath, file.get(), plan, *journal, table, error, where);
  if (result == RepairResult::Failed) error.Fail();
  return result;
}

}  // namespace brelvane

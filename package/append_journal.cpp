#include "package/append_journal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "package/content_check.h"
#include "package/module_record.h"
#include "package/package_io.h"
#include "package/pe_signature.h"

namespace brelvane {
namespace {

// "BRVJRNL1", the former length (two big-endian halves), the CRC-32 of the
// package's last bytes before the append, and the CRC-32 of all before it.
constexpr char kJournalTag[] = "BRVJRNL1";
constexpr std::size_t kTagWidth = 8;
constexpr std::size_t kJournalSize = kTagWidth + 8 + 4 + 4;
// How much of the package's end the journal's check covers: one record.
constexpr std::int64_t kTailWidth = kRecordSize;

using JournalBytes = std::array<std::uint8_t, kJournalSize>;

std::uint32_t CrcOf(const std::uint8_t* data, std::size_t length) {
  Crc32 crc;
  crc.Update(data, length);
  return crc.Value();
}

// The CRC-32 of the bytes before `end` (at most kTailWidth of them); nullopt
// when they cannot be read.
std::optional<std::uint32_t> TailCheck(FileSystem& files, FileHandle file, std::int64_t end) {
  const std::int64_t start = std::max<std::int64_t>(0, end - kTailWidth);
  std::vector<std::uint8_t> tail(static_cast<std::size_t>(end - start));
  if (!ReadAt(files, file, start, tail.data(), tail.size())) return std::nullopt;
  return CrcOf(tail.data(), tail.size());
}

struct Journal {
  std::int64_t formerLength = 0;
  std::uint32_t tailCheck = 0;
};

JournalBytes Encode(const Journal& journal) {
  JournalBytes bytes{};
  std::memcpy(bytes.data(), kJournalTag, kTagWidth);
  const auto length = static_cast<std::uint64_t>(journal.formerLength);
  StoreBigEndian(static_cast<std::uint32_t>(length >> 32), bytes.data() + 8);
  StoreBigEndian(static_cast<std::uint32_t>(length), bytes.data() + 12);
  StoreBigEndian(journal.tailCheck, bytes.data() + 16);
  StoreBigEndian(CrcOf(bytes.data(), 20), bytes.data() + 20);
  return bytes;
}

// A journal whose own check holds; a torn one (the writer died while
// writing it, before any byte reached the package) is nullopt.
std::optional<Journal> Decode(const JournalBytes& bytes) {
  if (std::memcmp(bytes.data(), kJournalTag, kTagWidth) != 0) return std::nullopt;
  if (FromBigEndian(bytes.data() + 20) != CrcOf(bytes.data(), 20)) return std::nullopt;
  Journal journal;
  journal.formerLength = static_cast<std::int64_t>(
      (std::uint64_t{FromBigEndian(bytes.data() + 8)} << 32) | FromBigEndian(bytes.data() + 12));
  journal.tailCheck = FromBigEndian(bytes.data() + 16);
  if (journal.formerLength < 0) return std::nullopt;
  return journal;
}

// What a file at the journal's name holds.
enum class Found { None, Torn, Valid, Foreign, Unreadable };

// A torn journal: what a writer killed while creating it leaves, at most
// its full size and beginning with as much of the tag as it holds.
bool IsTorn(const std::uint8_t* bytes, std::size_t size) {
  return size <= kJournalSize && std::memcmp(bytes, kJournalTag, std::min(size, kTagWidth)) == 0;
}

Found ReadJournal(const Platform& platform, const std::string& packagePath, Journal* journal) {
  FileSystem& files = platform.files;
  const std::string path = JournalPath(packagePath);
  if (!files.Exists(path)) return Found::None;
  ScopedFile file(files, files.OpenRead(path));
  if (!file.valid()) return Found::Unreadable;
  // One byte more than a journal holds tells a longer file.
  std::array<std::uint8_t, kJournalSize + 1> bytes{};
  const std::int64_t got = ReadFull(files, file.get(), bytes.data(), bytes.size());
  if (got < 0) return Found::Unreadable;
  const auto done = static_cast<std::size_t>(got);
  if (done == kJournalSize) {
    JournalBytes exact{};
    std::memcpy(exact.data(), bytes.data(), kJournalSize);
    if (const std::optional<Journal> decoded = Decode(exact)) {
      *journal = *decoded;
      return Found::Valid;
    }
  }
  return IsTorn(bytes.data(), done) ? Found::Torn : Found::Foreign;
}

// The journal names this package as it was: the bytes before the recorded
// length are still those it checked.
bool Belongs(FileSystem& files, FileHandle package, std::int64_t end, const Journal& journal) {
  if (journal.formerLength >= end) return false;
  const std::optional<std::uint32_t> tail = TailCheck(files, package, journal.formerLength);
  return tail && *tail == journal.tailCheck;
}

}  // namespace

std::string JournalPath(const std::string& packagePath) { return packagePath + "-journal"; }

void RemoveOrphanJournal(const Platform& platform, const std::string& packagePath) {
  Journal journal;
  const Found found = ReadJournal(platform, packagePath, &journal);
  if (found == Found::Valid || found == Found::Torn)
    platform.files.DeleteFile(JournalPath(packagePath));
}

std::optional<JournalCheck> InspectJournal(const Platform& platform, const std::string& packagePath,
                                           FileHandle package, std::int64_t end) {
  Journal journal;
  JournalCheck check;
  switch (ReadJournal(platform, packagePath, &journal)) {
    case Found::None: return check;
    case Found::Unreadable: return std::nullopt;
    case Found::Foreign: check.state = JournalState::Foreign; return check;
    case Found::Torn: check.state = JournalState::Stale; return check;
    case Found::Valid: break;
  }
  check.state = JournalState::Stale;
  if (!Belongs(platform.files, package, end, journal)) return check;
  // A journal never reaches into a program's image.
  bool readOk = false;
  const std::optional<std::int64_t> image = ReadImageEnd(platform.files, package, end, &readOk);
  if (!readOk) return std::nullopt;
  if (image && journal.formerLength < *image) return check;
  // A whole module at the end: the package was completed since, or the
  // journal was never its own.
  const std::optional<bool> whole = ModuleRecordEndsAt(platform.files, package, end);
  if (!whole) return std::nullopt;
  if (*whole) return check;
  check.state = JournalState::Interrupted;
  check.formerLength = journal.formerLength;
  return check;
}

std::int64_t CommittedLength(const Platform& platform, const std::string& packagePath,
                             FileHandle package, std::int64_t end, JournalState* state) {
  const std::optional<JournalCheck> check = InspectJournal(platform, packagePath, package, end);
  // A name that cannot be read is no journal to a reader.
  const JournalState found = check ? check->state : JournalState::Foreign;
  if (state != nullptr) *state = found;
  return found == JournalState::Interrupted ? check->formerLength : end;
}

RollBackResult RollBackInterruptedAppend(const Platform& platform, const std::string& packagePath,
                                         FileHandle package, FailedFile* failed) {
  FileSystem& files = platform.files;
  FailedFile own = FailedFile::Package;
  FailedFile& where = FailedFileSlot(failed, own);
  const std::int64_t length = files.Length(package);
  if (length < 0) return RollBackResult::Failed;
  const std::optional<JournalCheck> check = InspectJournal(platform, packagePath, package, length);
  where = FailedFile::Journal;
  if (!check) return RollBackResult::Failed;
  switch (check->state) {
    case JournalState::None: return RollBackResult::Done;
    case JournalState::Foreign: return RollBackResult::NotAJournal;
    case JournalState::Stale: break;
    case JournalState::Interrupted:
      where = FailedFile::Package;
      if (!files.Truncate(package, check->formerLength) || !files.Flush(package)) {
        return RollBackResult::Failed;
      }
      where = FailedFile::Journal;
      break;
  }
  return files.DeleteFile(JournalPath(packagePath)) ? RollBackResult::Done : RollBackResult::Failed;
}
bool BeginJournal(const Platform& platform, const std::string& packagePath, FileHandle package,
                  std::int64_t formerLength) {
  FileSystem& files = platform.files;
  const std::optional<std::uint32_t> tail = TailCheck(files, package, formerLength);
  if (!tail) return false;
  const std::string path = JournalPath(packagePath);
  ScopedFile file(files, files.CreateExclusive(path));
  if (!file.valid()) return false;
  const JournalBytes bytes = Encode(Journal{formerLength, *tail});
  const bool written = files.Write(file.get(), bytes.data(), bytes.size()) ==
                           static_cast<std::int64_t>(bytes.size()) &&
                       files.Flush(file.get());
  if (written && file.Reset()) return true;
  // Keep the failing call's code across the clean-up.
  const std::uint32_t error = platform.system.LastError();
  file.Reset();
  files.DeleteFile(path);
  platform.system.SetLastError(error == 0 ? win::kErrorDiskFull : error);
  return false;
}

bool EndJournal(const Platform& platform, const std::string& packagePath) {
  return platform.files.DeleteFile(JournalPath(packagePath));
}

}  // namespace brelvane

#include "package/append_journal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "package/content_check.h"
#include "package/module_record.h"

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
  if (files.Seek(file, start, SeekFrom::Begin) != start) return std::nullopt;
  std::size_t done = 0;
  while (done < tail.size()) {
    const std::int64_t got = files.Read(file, tail.data() + done, tail.size() - done);
    if (got <= 0) return std::nullopt;
    done += static_cast<std::size_t>(got);
  }
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

enum class Found { None, Torn, Valid, Unreadable };

Found ReadJournal(const Platform& platform, const std::string& packagePath, Journal* journal) {
  FileSystem& files = platform.files;
  const std::string path = JournalPath(packagePath);
  if (!files.Exists(path)) return Found::None;
  ScopedFile file(files, files.OpenRead(path));
  if (!file.valid()) return Found::Unreadable;
  JournalBytes bytes{};
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::int64_t got = files.Read(file.get(), bytes.data() + done, bytes.size() - done);
    if (got < 0) return Found::Unreadable;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  std::optional<Journal> decoded;
  if (done == bytes.size()) decoded = Decode(bytes);
  if (!decoded) return Found::Torn;
  *journal = *decoded;
  return Found::Valid;
}

// The journal names this package as it was: the bytes before the recorded
// length are still those it checked.
bool Belongs(FileSystem& files, FileHandle package, std::int64_t length, const Journal& journal) {
  if (journal.formerLength > length) return false;
  const std::optional<std::uint32_t> tail = TailCheck(files, package, journal.formerLength);
  return tail && *tail == journal.tailCheck;
}

}  // namespace

std::string JournalPath(const std::string& packagePath) { return packagePath + "-journal"; }

std::int64_t CommittedLength(const Platform& platform, const std::string& packagePath,
                             FileHandle package, std::int64_t length) {
  Journal journal;
  if (ReadJournal(platform, packagePath, &journal) != Found::Valid) return length;
  if (journal.formerLength >= length) return length;
  return Belongs(platform.files, package, length, journal) ? journal.formerLength : length;
}

bool RollBackInterruptedAppend(const Platform& platform, const std::string& packagePath,
                               FileHandle package) {
  FileSystem& files = platform.files;
  Journal journal;
  switch (ReadJournal(platform, packagePath, &journal)) {
    case Found::None: return true;
    case Found::Unreadable: return false;
    case Found::Torn: break;
    case Found::Valid: {
      const std::int64_t length = files.Length(package);
      if (length < 0) return false;
      if (journal.formerLength < length && Belongs(files, package, length, journal)) {
        if (!files.Truncate(package, journal.formerLength) || !files.Flush(package)) return false;
      }
      break;
    }
  }
  return files.DeleteFile(JournalPath(packagePath));
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

// Finding, appending and extracting modules of an installer package.
// Every operation opens the package anew and closes it before it returns.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "common/fs_helpers.h"
#include "package/append_journal.h"
#include "package/module_record.h"
#include "platform/platform.h"

namespace brelvane {

// Progress of a long copy: bytes done out of the total.  Called after each
// block, and once more at the end; never called when the copy fails early.
using ProgressFn = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Content moves in blocks of this many bytes (a whole number of scramble
// chunks, so the chunk boundaries stay those of the format).
inline constexpr std::size_t kCopyBlockSize = 256 * kScrambleChunk;

// The package that the operations read, as the wizard's shared state names
// it: its path and the record size, which is also the smallest plausible
// stored record size of a backward walk.
struct PackageRef {
  std::string path;
  std::int32_t recordSize = kRecordSize;
};

// Where the modules of an open package end: the walk starts here.
//  - A signed package (pe_signature.h) ends its modules where its
//    certificate table begins, less the signer's zero padding; any other
//    file at its length.
//  - From there, an interrupted append's journal may take the end back
//    further (CommittedLength, append_journal.h).
// Every reader asks this, under its shared lock.
struct ModulesEnd {
  std::int64_t end = 0;                       // where the walk starts
  std::int64_t contentEnd = 0;                // the length, or where the signer's padding begins
  std::int64_t certificateTable = 0;          // the table's size; 0 when not signed
  JournalState journal = JournalState::None;  // what stands at the journal's name
};
std::optional<ModulesEnd> FindModulesEnd(const Platform& platform, const std::string& packagePath,
                                         FileHandle package, std::int64_t length);

// Walks the package backwards from `searchEnd` (0: the end of the file) and
// stops at the newest module whose fileName begins with `query` (or, with
// `matchMarker`, whose marker matches its first 35 characters).  Gives the
// offset of that module's first content byte (> 0), 0 when no further module
// matches, -1 when the package cannot be read or a record is foreign or
// damaged (a damaged one leaves the system's CRC code, kErrorCrc, in
// LastError).  The outputs are written only on a find.  Shows no message.
//  - Only the fixed 660 bytes of a record are read, whatever size it claims.
//  - A record whose content would begin before the start of the file is
//    foreign (-1).
//  - The 9x family (IsNtPlatform false) learns the length by reading the
//    file through in 1024-byte reads; the NT family asks the open file.
//  - Readers (this walk, WalkModules, ExtractModule, CheckModuleContent)
//    hold a shared lock, so they wait for an append in progress, and walk
//    from the length an interrupted append's journal records
//    (append_journal.h), so its partial tail hides no module.
std::int32_t FindModule(const Platform& platform, const PackageRef& package,
                        const std::string& query, std::int32_t* outOffset, bool matchMarker,
                        ModuleRecord* outRecord, std::uint32_t searchEnd);

// One record of a backward walk over every module (the builder's list).
struct WalkedModule {
  ModuleRecord record;
  std::int64_t contentOffset = 0;  // first content byte
  // The CRC-32 of the plain content that the record's reserved bytes carry,
  // when the writer stored one.
  std::optional<std::uint32_t> contentCheck;
};
enum class WalkEnd {
  Image,          // reached a place where no plausible record ends: the normal end
  ForeignRecord,  // a record whose marker is not a module marker
  DamagedRecord,  // a record whose own check fails (content_check.h): nothing before it is read
  ReadFailure,    // the package could not be opened, sought or read
};
struct WalkResult {
  std::vector<WalkedModule> modules;  // newest first
  WalkEnd end = WalkEnd::Image;
  std::int64_t stopOffset = 0;  // where the walk stopped (the foreign record's end)
  // A walk that ended at a record whose marker is a module's but whose
  // content would begin before the file's start: that record.  Only the
  // builder's list shows it (as its last row); no lookup ever finds it.
  std::optional<ModuleRecord> recordBeforeStart;
  // Bytes behind the last complete module that an interrupted append left
  // (its journal is still there); the walk began before them.
  std::int64_t interruptedAppend = 0;
  // The size of the certificate table of a signed package; 0 when it is not
  // signed.  The walk began before the table and its padding.
  std::int64_t certificateTable = 0;
  // What stands at the journal's name (append_journal.h).
  JournalState journal = JournalState::None;
  // A Windows program (PE) only, whose headers give where its image ends:
  // every byte from there to where the walk began must be a whole module.
  // The chain of whole modules that begins at the image's end holds
  // `wholeModules` modules and ends at `wholeModulesEnd`; `strayBytes`
  // follow it (0 for a sound package, and for any other file, where
  // `wholeModulesEnd` is where the walk began).
  std::int64_t imageEnd = 0;  // 0: no PE file
  std::int64_t wholeModulesEnd = 0;
  std::size_t wholeModules = 0;
  std::int64_t strayBytes = 0;
};
// Walks every record from the end of the file; the length comes from the open
// file.  Reaching the start of the file also ends it as Image.  Leaves the
// system's error of a failed open in LastError.  Counts stray bytes: when
// the walk does not end exactly at a program's image end, the chain of whole
// modules is sought forward from there (each record lies where its
// contentSize equals its distance from its module's start), which reads the
// module area once.
WalkResult WalkModules(const Platform& platform, const PackageRef& package);

// Content offsets are signed 32-bit: a module whose content begins beyond
// 2 GiB is listed by the walk, but neither found nor extracted by the
// installer, so every command must count it as out of reach.
inline bool IsBeyondReach(const WalkedModule& module) {
  return module.contentOffset > std::numeric_limits<std::int32_t>::max();
}

// Why the module that BuildModuleRecord would describe from `sourcePath`
// (named by its last path component) with `extractDir` would be refused by
// every install (ModulePlacementProblem of common/name_rules.h), or nullopt.
// An empty source names no module and gives nullopt.
std::optional<std::string> ModuleSourceProblem(System& system, const std::string& sourcePath,
                                               const std::string& extractDir);

// Describes `sourcePath` as a module record: user-defined without a `set`,
// else a module of that predefined set.  Fails without side effects when the
// source cannot be opened, the set is none of the four, a name does not fit
// its field with a terminator, or (with ERROR_INVALID_NAME)
// ModuleSourceProblem refuses the name or the folder.  With `recordName`
// the record names the module so rather than by the source's own name,
// which then need not fit the code page.
bool BuildModuleRecord(const Platform& platform, const std::string& sourcePath,
                       ModuleRecord& record, const std::string& extractDir,
                       std::optional<PredefinedSet> set, std::int32_t recordSize = kRecordSize,
                       const std::string* recordName = nullptr);

// Whether two records put their files in one place: the same predefined
// set (marker) and the same folder and name as Windows compares them, without regard to
// letter case and with each folder as Windows takes it.  One set may hold a
// destination only once: a second module there would replace the first on
// a Windows drive.
bool SameDestination(System& system, const ModuleRecord& a, const ModuleRecord& b);

// What AppendModule did.  A refusal leaves the package unchanged.
enum class AppendResult {
  Appended,
  // A module of the same set already goes to the record's destination
  // (SameDestination).
  SameDestination,
  // The package carries a signature, which a byte behind it would break:
  // it must be unsigned first (UnsignPackage) and signed again afterwards.
  Signed,
  // Bytes that are no whole module follow the last whole module of a
  // Windows program (WalkResult::strayBytes): a module appended behind
  // them would be out of the installer's reach.  RepairPackage cuts them.
  StrayBytes,
  // A file that is no journal holds the journal's name (append_journal.h).
  NotAJournal,
  // A failure; System::LastError() holds the system's code of its cause.
  Failed,
};

// Appends the source's scrambled content and the encoded record to the end
// of the existing package.  On failure after bytes were written, the package
// is cut back to its former length.  Shows no message.  Fails before writing
// when the record's recordSize is not kRecordSize or the package would reach
// 2 GiB, and after copying when the source did not hold exactly contentSize
// bytes.
//  - The package is held under an exclusive lock while it grows, so appends
//    from several processes never interleave: a second writer waits.
//  - Crash-safe: a journal beside the package records its former length
//    until the module is complete and on the disk (append_journal.h); the
//    next append first cuts back what an interrupted one left.
//  - The record's reserved bytes carry the content check (content_check.h).
//  - `failed` (when given) says whether a failure or a refusal concerns the
//    package or its journal.
AppendResult AppendModule(const Platform& platform, const std::string& sourcePath,
                          const std::string& packagePath, const ModuleRecord& record,
                          const ProgressFn& progress = {}, FailedFile* failed = nullptr);

// How an extraction ended, for callers that tell the user more than "it
// failed".
enum class ExtractResult {
  Done,     // the file is in place, written in full, with its attributes
  Failed,   // a file-system failure; LastError() holds its code
  Damaged,  // the content does not match the check its record carries
  // The package could not be opened or read, or it ends inside the module
  // (cut short while the copy ran); LastError() holds the cause.
  PackageUnreadable,
  NoRoom,        // the volume has less room than the content needs
  LinkInTheWay,  // a link (or an unreadable entry) stands on the way
};
struct ExtractReport {
  ExtractResult result = ExtractResult::Failed;
  LinkSearch links;               // LinkInTheWay: what stands where
  std::uint64_t bytesNeeded = 0;  // NoRoom: the content's size
  std::uint64_t bytesFree = 0;    // NoRoom: what the volume has
};
struct ExtractOptions {
  ProgressFn progress;
  // The user agreed to replace a file at the destination; otherwise a file
  // found there at the end fails the extraction (kErrorAlreadyExists).
  bool replaceExisting = false;
  // Below the destination's root nothing may be a link: looked at before
  // the staging file is written and again right before the swap.
  bool refuseLinks = false;
};

// A call another program refuses for a moment (an antivirus scanning a new
// file, the search indexer, a preview) with a sharing or lock violation is
// tried again this often, this long apart: about two seconds in all.
inline constexpr int kSharingRetries = 10;
inline constexpr std::uint32_t kSharingRetryMilliseconds = 200;
inline bool IsSharingRefusal(std::uint32_t error) {
  return error == win::kErrorSharingViolation || error == win::kErrorLockViolation;
}

// Copies `contentSize` bytes of content from `contentOffset` of the package,
// descrambled, to `destination` (its folder must exist) and gives the file
// `attributes`.  Nothing is lost on the way:
//  - The content goes to a staging file beside the destination
//    (common/name_rules.h), which is flushed to the disk and verified
//    against the content check of its record (a mismatch fails with the
//    system's CRC code and Damaged) before it takes the destination's name
//    in one rename (FileSystem::MoveIntoPlace).  Until that moment a file
//    already at the destination stays as it was, content and attributes.
//  - Before anything is written, the volume must have room for the whole
//    content beside what is there (NoRoom otherwise).
//  - Every failure removes the staging file, silently; no partial file is
//    ever under the destination's name.  On failure System::LastError()
//    holds the cause.  Shows no message.
bool ExtractModule(const Platform& platform, const PackageRef& package,
                   const std::string& destination, std::int32_t contentOffset,
                   std::uint32_t contentSize, std::uint32_t attributes,
                   const ExtractOptions& options = {}, ExtractReport* report = nullptr);

// A module's content staged beside its destination (StageModule): whole,
// on the disk and verified, under a staging name with the staging bits, and
// held open, so that no other run takes it for a leftover.  A staged module
// that is never placed (PlaceStagedModule) is closed and removed when it
// goes, silently, leaving the last error as it was.
class StagedModule {
 public:
  StagedModule(const Platform& platform, FileHandle handle, std::string path,
               std::string destination, std::uint32_t attributes);
  StagedModule(StagedModule&& other) noexcept;
  StagedModule& operator=(StagedModule&&) = delete;
  StagedModule(const StagedModule&) = delete;
  StagedModule& operator=(const StagedModule&) = delete;
  ~StagedModule();
  const std::string& destination() const { return destination_; }
  // Closes and removes the staging file now.
  void Discard();

 private:
  friend bool PlaceStagedModule(StagedModule& staged, const ExtractOptions& options,
                                ExtractReport* report);
  const Platform* platform_;
  FileHandle handle_;
  std::string path_;
  std::string destination_;
  std::uint32_t attributes_;
  bool placed_ = false;
};

// The first half of ExtractModule: the content copied to a staging file
// beside `destination` and verified, with its room checked first.  nullopt
// on failure, with the report and the last error as ExtractModule leaves
// them.
std::optional<StagedModule> StageModule(const Platform& platform, const PackageRef& package,
                                        const std::string& destination, std::int32_t contentOffset,
                                        std::uint32_t contentSize, std::uint32_t attributes,
                                        const ExtractOptions& options,
                                        ExtractReport* report = nullptr);
// The second half: the staged file gets its final bits and takes the
// destination's name in one rename (replacing a file there only with
// `replaceExisting`), links looked at again right before.  On failure the
// staging file is removed and the destination is as it was.
bool PlaceStagedModule(StagedModule& staged, const ExtractOptions& options,
                       ExtractReport* report = nullptr);

// Copies the file `source` to `destination` as an extraction writes a
// module: through a staging file beside it, flushed, given `attributes` and
// renamed into place (never over an entry of that name: kErrorAlreadyExists).
// On failure nothing is left at `destination` or beside it, and
// System::LastError() holds the cause.  Shows no message.
bool CopyFileIntoPlace(const Platform& platform, const std::string& source,
                       const std::string& destination, std::uint32_t attributes);

// Copies the file `source` into a new staging file in the folder of the
// path `beside` (its path in `staging`): a staging file's name and bits,
// flushed, for the caller to finish and rename.  A run killed before it
// does leaves a file that RemoveStagingLeftovers knows as its own.  With
// `held`, the file stays open there from its creation on, so that another
// run's RemoveStagingLeftovers passes it over while this one works on it
// (the caller closes it before the rename); else it is closed.  On failure
// nothing is left and System::LastError() holds the cause.  Shows no
// message.
bool CopyToStagingFile(const Platform& platform, const std::string& source,
                       const std::string& beside, std::string* staging, FileHandle* held = nullptr);

// Removes a staging file this run made, whatever its bits, keeping the
// last error as it was.
void RemoveOwnStagingFile(const Platform& platform, const std::string& staging);

// Whether a file can be written in `folder`: a staging file is created
// there and removed again.  False with the system's code in LastError (a
// write-protected volume, a locked one, a policy that denies writing).
// Shows no message.
bool ProbeWritable(const Platform& platform, const std::string& folder);

// Whether the file at `path` already is what extracting the module would
// make of it: the same bytes, and the read-only, hidden and system bits
// the extraction would give it.  False when it differs or cannot be read.
// With `bitsToo` false only the bytes count.
bool FileHoldsModule(const Platform& platform, const PackageRef& package, const std::string& path,
                     std::int32_t contentOffset, std::uint32_t contentSize,
                     std::uint32_t attributes, bool bitsToo = true);

// Writes `bytes` as the new file `destination` the same way: whole or not
// at all under that name, never over an entry of that name.
bool WriteFileIntoPlace(const Platform& platform, const std::string& bytes,
                        const std::string& destination);

// Removes the staging files that an interrupted extraction left in `folder`
// and gives their paths.  Only what is proven a leftover goes: an entry with
// a staging name that is a file with exactly the bits a staging file carries
// (hidden and system, not read-only, no link).  A user's file of that name,
// a folder or a link stays, and so does a leftover whose bits are not those
// (killed before its bits were set, or after its final bits: it is then a
// complete file, and harmless).  One that cannot go now goes with the next
// run.  Shows no message.
std::vector<std::string> RemoveStagingLeftovers(const Platform& platform,
                                                const std::string& folder);

// What a module's content check says.
enum class ContentState {
  Sound,       // the content matches its check
  Unchecked,   // the record carries no check
  Damaged,     // the content does not match, or the package ends inside it
  Unreadable,  // the package could not be opened, sought or read
};
// Reads a walked module's content and compares it with its check.
ContentState CheckModuleContent(const Platform& platform, const PackageRef& package,
                                const WalkedModule& module);
// The same for a module FindModule found, against the check of the record
// right behind its content, as ExtractModule compares what it copies: so a
// set can be checked whole before anything of it is written.  Damaged
// leaves the CRC code in LastError; Unreadable the cause (end of file when
// the package ends inside the module).
ContentState CheckFoundModule(const Platform& platform, const PackageRef& package,
                              std::int32_t contentOffset, std::uint32_t contentSize);

// A package checked as `oempack verify` and the installer's /verify check
// it: every module's content against its check, every module within the
// installer's reach, no stray bytes, a walk that ends at the image.
struct ModuleProblem {
  std::size_t module = 0;                      // its index in the walk
  ContentState state = ContentState::Damaged;  // Damaged or Unreadable
  std::uint32_t error = 0;                     // Unreadable: the system's code
};
struct PackageVerdict {
  WalkResult walk;
  std::size_t sound = 0;                // modules checked and sound
  std::vector<ModuleProblem> problems;  // damaged or unreadable modules, newest first
  std::size_t beyondReach = 0;          // modules beyond 2 GiB
  bool IsSound() const {
    return problems.empty() && beyondReach == 0 && walk.strayBytes == 0 &&
           walk.end == WalkEnd::Image;
  }
};
PackageVerdict VerifyPackage(const Platform& platform, const PackageRef& package);
// The verdict of a sound package in one line: "3 module(s), 3 checked and
// sound, 0 without a check; not signed" (or "signed, certificate table of
// N bytes").
std::string SoundSummary(const PackageVerdict& verdict);
// How a finding names its module: module "NAME" at offset N, the name as a
// terminal shows it.
std::string ModuleAt(const WalkedModule& module);

// Removes a signed package's certificate table, the signer's zero padding
// in front of it and its directory entry, and writes the recomputed PE
// checksum: the package is unsigned again, with the same modules.
//  - Under the exclusive lock.  A journal (append_journal.h) records the
//    length the package is cut back to before the header changes; then the
//    header is written and flushed, then the file is cut.  A crash after
//    the header write leaves the old table behind an unsigned header:
//    readers walk from the journal's length and see every module, the next
//    append or unsign cuts the rest.  A crash before it leaves the package
//    signed as it was.
//  - NotSigned when there is no table; an unsign that a crash cut short is
//    completed then.  On Failed, System::LastError() holds the cause and
//    `failed` which file it concerns.
//  - NoCertificate, unchanged, when the security entry names bytes at the
//    end that are no signer's certificate table (ReadSignedTail): they may
//    hold modules, so nothing is cut.
//  - StrayBytes and NotAJournal, unchanged, as AppendModule refuses.
enum class UnsignResult { Unsigned, NotSigned, NoCertificate, StrayBytes, NotAJournal, Failed };
UnsignResult UnsignPackage(const Platform& platform, const std::string& packagePath,
                           std::int64_t* removedBytes = nullptr, FailedFile* failed = nullptr);

// What RepairPackage found, shown before it cuts anything.
struct RepairPlan {
  std::int64_t length = 0;             // the package's length now
  std::int64_t keptEnd = 0;            // where it ends afterwards: its last whole module
  std::int64_t interruptedAppend = 0;  // bytes an interrupted append or unsign left
  std::int64_t strayBytes = 0;         // bytes behind the last whole module
  std::int64_t certificateTable = 0;   // a signature that goes with them (0: none)
  std::size_t modulesKept = 0;
  JournalState journal = JournalState::None;  // Stale: it is removed
};
// Cuts a Windows program back to its last whole module (keptEnd): what an
// interrupted append or unsign left, stray bytes, and a signature over them
// (its entry zeroed and the checksum written, as UnsignPackage does).  The
// modules before stay.  Under the exclusive lock, crash-safe as an append:
// a journal records keptEnd before anything changes.  `show` sees the plan
// before the first change.
//  - Sound: nothing to cut (a stale journal is removed all the same).
//  - Unchanged: NotAProgram, a file that is no Windows program (without an
//    image end from its headers, stray bytes cannot be told from modules);
//    NotAJournal, as AppendModule refuses; Failed, a failure (LastError;
//    `failed` says which file).
enum class RepairResult { Repaired, Sound, NotAProgram, NotAJournal, Failed };
RepairResult RepairPackage(const Platform& platform, const std::string& packagePath,
                           const std::function<void(const RepairPlan&)>& show = {},
                           FailedFile* failed = nullptr);

// Replaces `path` with its last path component; false (path unchanged) when empty.
bool FileNameFromPath(System& system, std::string& path);

// The system's words for the last error on one line (its line break cut),
// or, for the codes the package operations leave for what they detect
// themselves (a source that changed while it was appended, a content check
// that fails, a package that would pass 2 GiB, a source that is no regular
// file), their own words, which say more.
std::string LastErrorLine(System& system);

}  // namespace brelvane

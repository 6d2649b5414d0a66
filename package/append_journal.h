// The journal of an append: before the first byte of a module reaches the
// package, the writer records the package's length beside it in
// "<package>-journal", and removes that file once the module and its record
// are complete and on the disk.  A journal that outlives its writer (a
// killed process, a power cut) marks an interrupted append: readers walk the
// package from the length it records, so every earlier module stays in
// reach, and the next writer cuts the package back to that length before it
// appends.
//
// The journal also carries a check of the package's last bytes before the
// append, so a journal left beside a package that has since been replaced
// by another file is recognised as stale and never cuts the new one.  That
// check can be computed by anyone who reads the package, so a journal also
// counts only while the bytes beyond the length it records are no whole
// module: a journal never hides or cuts one.  Only a file that parses as a
// journal is ever removed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace brelvane {

// Which file a writer's failure concerns, so that its message names it: the
// package, or the journal beside it.
enum class FailedFile { Package, Journal };

std::string JournalPath(const std::string& packagePath);

// What stands at the journal's name, judged against the package's bytes up
// to `end` (where its modules end: its length, or where a signer's padding
// begins).
//  - Interrupted: a journal of this package (the bytes before the length it
//    records are those it checked) whose bytes beyond that length do not
//    end in a whole module: an append or unsign died half-way.
//  - Stale: a journal that names another package, or the same one before a
//    complete change (the bytes beyond its length end in a whole module; a
//    journal never hides or cuts one), or one torn while it was written (at
//    most its 24 bytes, beginning with its tag as far as they go: what a
//    writer killed while creating it leaves).
//  - Foreign: a file that does not parse as a journal.
enum class JournalState { None, Interrupted, Stale, Foreign };
struct JournalCheck {
  JournalState state = JournalState::None;
  std::int64_t formerLength = 0;  // Interrupted only
};
// nullopt when the name is taken but cannot be read (a FIFO, a folder, no
// permission: LastError says why) or the package cannot be read.
std::optional<JournalCheck> InspectJournal(const Platform& platform, const std::string& packagePath,
                                           FileHandle package, std::int64_t end);

// The length a reader walks from: `end`, or the former length an
// interrupted append's journal records.  The reader holds its shared lock,
// so no writer is at work.  Any other journal state is passed over; `state`
// (when given) receives it.
std::int64_t CommittedLength(const Platform& platform, const std::string& packagePath,
                             FileHandle package, std::int64_t end, JournalState* state = nullptr);

// A writer's side, under the package's exclusive lock, with `package` open
// for appending (a handle that also reads).
//  - RollBackInterruptedAppend: cuts the package back to the length an
//    interrupted journal records and removes the journal; removes a stale
//    one.  Failed (last error set, `failed` says which file) when that
//    cannot be done, NotAJournal beside a file that is no journal (it is
//    never removed: a writer refuses to work beside it); nothing may be
//    written then.
//  - BeginJournal: records `formerLength` and puts it on the disk.
//  - EndJournal: removes the journal; the append is complete.
enum class RollBackResult { Done, NotAJournal, Failed };
RollBackResult RollBackInterruptedAppend(const Platform& platform, const std::string& packagePath,
                                         FileHandle package, FailedFile* failed = nullptr);
bool BeginJournal(const Platform& platform, const std::string& packagePath, FileHandle package,
                  std::int64_t formerLength);
bool EndJournal(const Platform& platform, const std::string& packagePath);

// Removes the journal of a package that is gone (a killed build's file,
// taken away): only a file that parses as a journal, whole or torn.
void RemoveOrphanJournal(const Platform& platform, const std::string& packagePath);

}  // namespace brelvane

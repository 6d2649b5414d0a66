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
// by another file is recognised as stale and never cuts the new one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace brelvane {

std::string JournalPath(const std::string& packagePath);

// The length a reader walks from: `length` (the package's length now), or
// the former length an interrupted append's journal records.  The reader
// holds its shared lock, so no writer is at work.  A journal that cannot be
// read, or does not belong to this package, is passed over.
std::int64_t CommittedLength(const Platform& platform, const std::string& packagePath,
                             FileHandle package, std::int64_t length);

// A writer's side, under the package's exclusive lock, with `package` open
// for appending (a handle that also reads).
//  - RollBackInterruptedAppend: when a journal is there, cuts the package
//    back to the length it records and removes it.  False (last error set)
//    when that cannot be done; nothing may be appended then.
//  - BeginJournal: records `formerLength` and puts it on the disk.
//  - EndJournal: removes the journal; the append is complete.
bool RollBackInterruptedAppend(const Platform& platform, const std::string& packagePath,
                               FileHandle package);
bool BeginJournal(const Platform& platform, const std::string& packagePath, FileHandle package,
                  std::int64_t formerLength);
bool EndJournal(const Platform& platform, const std::string& packagePath);

}  // namespace brelvane

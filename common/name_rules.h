// Which names a module may carry onto a drive.  A package is data from
// outside: a crafted record could name a file that Windows would place
// elsewhere than the record says (a parent folder, another drive, an
// alternate data stream, a device), so every name is checked before
// anything is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brelvane {

// The longest path Windows opens through the ANSI calls (MAX_PATH without
// the terminator).
inline constexpr std::size_t kMaxPathLength = 259;
// The longest single name the Windows file systems store.
inline constexpr std::size_t kMaxNameLength = 255;

// Staging files.  A file is written beside its destination under a name of
// the form "~BV" and five hexadecimal digits, ".TMP" (an 8.3 name, hidden)
// and only renamed to its own name once it is complete and on the disk.  No
// module may carry such a name, so a leftover that a crash or a pulled
// drive left behind is known by its name alone.
inline constexpr std::size_t kStagingNameLength = 12;
// A directory search for staging names (it also meets long names whose
// short form fits: IsStagingName tells them apart).
inline constexpr char kStagingSearchPattern[] = "~BV?????.TMP";
// The staging name numbered `number` (its low 20 bits).
std::string StagingName(std::uint32_t number);
// Whether `name` has the staging form, letter case aside.
bool IsStagingName(std::string_view name);

// Why `name` cannot be written as one file inside a folder, or nullopt when
// it can.  Refused: an empty name, path separators, colons (drive letters,
// alternate data streams), characters Windows forbids in names (control
// characters and < > " | ? *), a trailing dot or blank (Windows drops them,
// so "a." would land on "a", and ".." on the parent), device names (CON,
// PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, with any extension and
// trailing blanks), names longer than kMaxNameLength, and staging names.
std::optional<std::string> FileNameProblem(std::string_view name);

// Why `folder` (a path below a drive root, '\\' or '/' separated) would not
// stay below the root or not be made as named, or nullopt.  Every component
// follows the rules of FileNameProblem; empty components (a doubled
// separator) are harmless, as is one leading separator, but a leading
// doubled separator starts a network or device path and a drive letter
// ("C:\Windows") another drive's root, and both are refused.
std::optional<std::string> FolderProblem(std::string_view folder);

// `folder` as Windows' path rules make it: the trailing blanks and dots of
// each part dropped ("Docs " is "Docs").  A part made only of dots and
// blanks (".." climbs) is kept as it is, for FolderProblem to refuse.  The
// install run takes stored folders in this form; the builder refuses to
// store one that needs it.
std::string WindowsFolderForm(std::string_view folder);

// The length of "X:\folder\name" (or "X:\name" for an empty folder), the
// path a module lands on, whatever the drive letter.
std::size_t ModulePathLength(std::string_view fileName, std::string_view extractDir);

// Why a module called `fileName` with the extract folder `extractDir` would
// not land as that plain file below the drive root, or nullopt: the name
// follows FileNameProblem, the folder FolderProblem, and the whole path on
// the drive, and that of the staging file beside it, is at most
// kMaxPathLength characters.  The install run refuses
// such a module, so the builder refuses to store one.
std::optional<std::string> ModulePlacementProblem(std::string_view fileName,
                                                  std::string_view extractDir);

}  // namespace brelvane

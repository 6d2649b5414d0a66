// The builder page's logic ("OEM Page"): names the installer that the
// builder works on, lists its modules, adds a user-defined module to it and
// extracts a module back out of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/page_ending.h"
#include "app/wizard_state.h"
#include "builder/builder_view.h"
#include "package/package.h"
#include "platform/platform.h"

namespace brelvane {

inline constexpr char kOemPageCaption[] = "OEM Page";
inline constexpr char kCantGetFileSize[] = "Can't get file size:\r\n%s\r\nError: %s";
inline constexpr char kNothingToExtract[] = "Nothing to Extract";
inline constexpr char kUnableToExtract[] = "Unable to Extract Module!";
// The list stops at a module record that fails its own check: its path and
// where the record ends.
inline constexpr char kDamagedRecordFormat[] =
    "This installer is damaged:\r\n%s\r\nThe module record ending at offset %s does not match "
    "its check. The modules before it cannot be read.";
inline constexpr char kExtractedOk[] = "Module Extracted Successfully!";
inline constexpr char kOverwriteQuestion[] =
    "%s \r\nalready exist!  Delete this file before Installing?";
inline constexpr char kBuilderOverwriteCaption[] = "Overwrite";
// The volume lacks room for the module beside the file it replaces: the
// file, the bytes needed and the bytes free.
inline constexpr char kNoRoomToExtract[] =
    "There is not enough room for\r\n%s\r\nNeeded: %s, free: %s.\r\nNothing has been written.";
inline constexpr char kTargetIsInstaller[] =
    "%s \r\nis the installer itself!  Extract the module to another file.";
// Content offsets are signed 32-bit: a module beyond 2 GiB cannot be read.
inline constexpr char kModuleBeyondReach[] =
    "The module \"%s\" begins beyond 2 GiB in the installer, where it cannot be read.\r\n"
    "Nothing is extracted.";
inline constexpr char kLinkOnTheWay[] =
    "%s is a symbolic link or junction: nothing is extracted through a link.\r\n"
    "Choose another place for the module.";
// A module that every install would refuse (common/name_rules.h): its
// name and the rule it breaks.
// The installer already holds a module of this name and folder: the
// installer, the name.
inline constexpr char kTwinModuleFormat[] =
    "The installer\r\n%s\r\nalready holds a user-defined module named \"%s\".\r\nAdd this file as "
    "one more module of that name?";
inline constexpr char kRefusedModuleFormat[] =
    "The module \"%s\" cannot be added: %s.\r\n"
    "Every install would refuse it, so nothing is added.";
// An installer that carries a signature is never appended to: the module
// would break the signature.
inline constexpr char kSignedInstaller[] =
    "%s is signed: adding a module would break its signature, so nothing is added.\r\n"
    "Unsign it first (oempack unsign), add the modules, then sign it again.";
// An installer whose last bytes are no whole module (what an interrupted
// append can leave once the file is copied): a module behind them would be
// out of the installer's reach.
inline constexpr char kStrayBytesInstaller[] =
    "%s ends in stray bytes behind its last whole module: a module added behind them would be "
    "out of the installer's reach, so nothing is added.\r\n"
    "Cut them first with \"oempack repair\".";
// The installer already holds a module of the same set that goes to the
// same file on the drive.
inline constexpr char kSameDestinationInstaller[] =
    "%s already holds a module of the same set that goes to the same file on the drive (names "
    "are compared without regard to letter case, as Windows compares them), so nothing is "
    "added.\r\nGive the module another name or folder.";
// A file that is no journal holds the name of the installer's journal.
inline constexpr char kNotAJournal[] =
    "%s holds the name of the installer's journal but is not a journal: it is left alone, "
    "so nothing is added.\r\nMove it away, then add the module again.";
inline constexpr char kRunFromDesktop[] =
    "Please run this application from DESKTOP folder. \r\nIf still does not work contact Quorvix";

// One column of the module list: heading, alignment and width in dialog
// units, so that a column keeps its width against its text at every DPI.
// At 96 DPI the widths are those of the first design (19, 15, 11, 20 and 30
// average characters of the system font, 7 pixels each), within a pixel.
// The sixth says which drives an install puts the module on: a module no
// install installs is only carried.
struct ListColumn {
  const char* heading;
  bool centred;
  int widthInDialogUnits;
};
inline constexpr ListColumn kModuleListColumns[] = {
    {"Module Name", false, 89}, {"Prefefined Module", true, 70},  {"Size(in Bytes)", true, 51},
    {"Extact to)", false, 93},  {"File Attributes)", false, 140}, {"Installed on", false, 93},
};
inline constexpr int kInstalledOnColumn = 5;

// Shows why an append refused `installer` for its state (signed, stray
// bytes, a file that is no journal at its journal's name); false when
// `result` is no such refusal.
bool ShowInstallerRefusal(const Platform& platform, const std::string& installer,
                          AppendResult result);

class OemPage {
 public:
  OemPage(const Platform& platform, WizardState& state, BuilderView& view)
      : platform_(platform), state_(state), view_(view) {}

  // Puts the shared package path into the installer edit (running the name
  // change handler) and shows or hides the module commands: hidden, as in
  // the installer as shipped, unless `moduleCommands` (the builder mode
  // asked for on the command line); "Delete Module" stays hidden either way.
  // The name change handler's ending stops it before the commands.
  [[nodiscard]] PageEnding OnInitDialog(bool moduleCommands);
  // Lists the installer's modules when the installer edit names a file that
  // can be opened.  Gives true.
  bool OnSetActive();
  // Rebuilds the rows from the installer at `path`, newest module first.
  void LoadModuleList(const std::string& path);

  // Both need the running program's own path, and end the program when the
  // system cannot give it.
  [[nodiscard]] PageEnding OnInstallerNameChange();
  [[nodiscard]] PageEnding OnSetInstaller();
  void OnBrowseModule();
  // Appends the module edit's file; one whose name an install would refuse
  // is reported and not appended.  Then lists the installer again.
  void OnAddModule();
  // The first half of OnAddModule, which may run beside the window (the
  // append flushes the installer to disk): it only reads the page's texts
  // and shows messages.  A module of the name and folder the installer
  // already holds is appended only when the maker says so: the builder
  // cannot take a module out again.
  struct Added {
    std::string installer;  // to list again
    bool appended = false;
  };
  Added AppendTheModule();
  // The second half: lists the installer again, the module just appended
  // selected and in view, which is what confirms the append.
  void ListAfterAdding(const Added& added);
  // Extracts the module of each selected row: the very module the row shows,
  // found by its place in the package, also when names repeat.
  void OnExtractModule();
  // A click on a column's heading sorts the rows by that column; a second
  // click on the same heading reverses the order.  The selected module stays
  // selected, in its new row.
  void OnColumnClick(int column);

  // The module behind each listed row, in row order.
  const std::vector<WalkedModule>& listedModules() const { return listed_; }

 private:
  // Whether `installer` already holds a module of the record's kind, name
  // and folder (letter case aside, as the drive's file system sees it).
  bool HoldsTwinOf(const std::string& installer, const ModuleRecord& record);
  // The ending when the running program's own path cannot be had.
  Ending OwnPathMissing() const;
  bool CanOpenForReading(const std::string& path);
  void ClearList();
  // Shows the loaded modules in the order of the sort the user chose (none:
  // as the walk found them); the listed modules follow the rows.
  void ShowRows();
  // The module listed in `row`, looked up afresh in the package at its
  // content offset; nullopt when the package no longer holds it there.
  std::optional<WalkedModule> ModuleOfRow(int row);
  // Extracts one row's module; false when the command must end.
  bool ExtractRow(int row);
  // What kept a module from `target`, when the user can act on it (room,
  // a link on the way); the general failure notice follows it.
  void ShowExtractProblem(const ExtractReport& report, const std::string& target);

  Platform platform_;
  WizardState& state_;
  BuilderView& view_;
  std::vector<WalkedModule> loaded_;  // as the walk found them, newest first
  std::vector<WalkedModule> listed_;  // in row order
  int sortColumn_ = -1;               // none: the walk's order
  bool descending_ = false;
};

}  // namespace brelvane

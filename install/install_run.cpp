// The install run behind the Install button: every module of the drive
// model's set, newest first, onto the drive.
#include "install/install_run.h"

#include <atomic>

#include <algorithm>
#include <climits>
#include <vector>

#include "common/error_text.h"
#include "common/fs_helpers.h"
#include "common/messages.h"
#include "common/name_rules.h"
#include "common/path_text.h"
#include "common/printable.h"
#include "install/install_page.h"
#include "package/content_check.h"
#include "package/package.h"
#include "package/package_guard.h"

namespace brelvane {

LinkSearch LinkOnTheWay(const Platform& platform, char letter, const ModuleRecord& record) {
  return FindLinkBelowRoot(platform, DestinationFile(platform.system, letter, record));
}

std::string DestinationDirectory(System& system, char letter, const ModuleRecord& record) {
  return Format("%c:\\%s", letter, system.FromAnsi(record.extractDir).c_str());
}

std::string DestinationFile(System& system, char letter, const ModuleRecord& record) {
  const std::string name = system.FromAnsi(record.fileName);
  if (record.extractDir.empty()) return Format("%c:\\%s", letter, name.c_str());
  return Format("%c:\\%s\\%s", letter, system.FromAnsi(record.extractDir).c_str(), name.c_str());
}

namespace {

// The module set as the run meets it, newest first, and what it weighs.
struct SetModule {
  ModuleRecord record;
  std::int32_t contentOffset = 0;
  std::int32_t found = 0;  // FindModule's answer: where the next search ends
};
struct ModuleSet {
  std::vector<SetModule> modules;
  std::uint64_t totalBytes = 0;
  bool readable = true;  // false: a search failed (-1) after these
  bool damaged = false;  // the failed search met a damaged record
};

std::string DriveRoot(char letter) { return Format("%c:\\", letter); }

// The levels of a module's folder below the drive root, shallowest first
// ("E:\\a", "E:\\a\\b").
std::vector<std::string> FolderLevels(const std::string& directory) {
  std::vector<std::string> levels;
  for (std::size_t end = 3; end <= directory.size(); ++end) {
    if (end < directory.size() && directory[end] != '\\' && directory[end] != '/') continue;
    if (directory[end - 1] == '\\' || directory[end - 1] == '/') continue;
    levels.push_back(directory.substr(0, end));
  }
  return levels;
}

// A file's size as the volume allocates it: whole clusters.
std::int64_t OnDisk(std::uint64_t size, std::uint32_t cluster) {
  if (cluster <= 1) return static_cast<std::int64_t>(size);
  return static_cast<std::int64_t>((size + cluster - 1) / cluster * cluster);
}

// Names the link, or the entry that cannot be told from one, that stands on
// the module's way.
void ShowLinkRefusal(const Platform& platform, const ModuleRecord& record,
                     const LinkSearch& links) {
  if (links.found == LinkSearch::Found::Link) {
    ShowError(platform, Format(kLinkInTheWayFormat, NameInMessage(record.fileName).c_str(),
                               NameInMessage(links.at).c_str()));
    return;
  }
  const std::string error = platform.system.ErrorText(links.error);
  ShowError(platform,
            Format(kUnreadableOnTheWayFormat, NameInMessage(links.at).c_str(), error.c_str()));
}

// Shows why the record may not be written on the drive, and gives why:
// its name or folder breaks the rule (the record is data from outside: the
// same rule the builder applied before storing it, for packages made by
// anything else), or a link or an unreadable entry stands on its way.
std::optional<RunStop> ShowPlacementRefusal(const Platform& platform, char letter,
                                            const ModuleRecord& record) {
  if (std::optional<std::string> problem =
          ModulePlacementProblem(record.fileName, record.extractDir)) {
    ShowError(platform, Format(kUnsafeModuleFormat, NameInMessage(record.fileName).c_str(),
                               NameInMessage(record.extractDir).c_str(), problem->c_str()));
    return RunStop::UnsafeModule;
  }
  const LinkSearch links = LinkOnTheWay(platform, letter, record);
  if (links.found == LinkSearch::Found::None) return std::nullopt;
  ShowLinkRefusal(platform, record, links);
  return RunStop::WriteFailed;
}

// How one module's turn ended.
enum class ModuleTurn { Installed, Skipped, Unchanged, Stopped };

// The run's observer, which may be none.
class RunRecord {
 public:
  explicit RunRecord(InstallObserver* observer) : observer_(observer) {}
  void Written(const std::string& destination, std::uint64_t size) {
    if (observer_ != nullptr) observer_->FileWritten(destination, size);
  }
  void Skipped(const std::string& destination, std::uint64_t size) {
    if (observer_ != nullptr) observer_->FileSkipped(destination, size);
  }
  void Unchanged(const std::string& destination, std::uint64_t size) {
    if (observer_ != nullptr) observer_->FileUnchanged(destination, size);
  }
  void Superseded(const std::string& destination) {
    if (observer_ != nullptr) observer_->FileSuperseded(destination);
  }
  void LeftoverRemoved(const std::string& path) {
    if (observer_ != nullptr) observer_->LeftoverRemoved(path);
  }
  void Healed(const std::string& what) {
    if (observer_ != nullptr) observer_->Healed(what);
  }
  void RoomCounted(const std::string& where, std::uint64_t needed, std::uint64_t free) {
    if (observer_ != nullptr) observer_->RoomCounted(where, needed, free);
  }
  void FolderTaken(const std::string& stored, const std::string& taken) {
    if (observer_ != nullptr) observer_->FolderTaken(stored, taken);
  }
  // Gives Stopped, the turn that ends the run.
  ModuleTurn Stop(RunStop why) {
    stop = why;
    return ModuleTurn::Stopped;
  }
  RunStop stop = RunStop::WriteFailed;  // why a Stopped turn stopped
  std::string drive;  // the identity of the drive the run began on (DriveIdentity)

 private:
  InstallObserver* observer_;
};

// What the existence test finds at a destination.  Only "not found" means
// nothing is there: a file the run may not open (denied by its permissions
// or a policy) is a file all the same, asked about like any other.  The
// open shares with nobody, so a file another program holds open (the
// utility started from the drive) fails it with a sharing violation; a
// brief hold (an antivirus scan, the search indexer, a preview) is waited
// out.  A folder there is no file: the extraction names it.
enum class Existing { None, File, Unreadable, InUse };

bool IsNotFound(std::uint32_t error) {
  return error == win::kErrorFileNotFound || error == win::kErrorPathNotFound;
}

Existing LookAtDestination(const Platform& platform, const std::string& destination) {
  const std::uint32_t attributes = platform.files.GetAttributes(destination);
  if (attributes == win::kInvalidAttributes && IsNotFound(platform.system.LastError())) {
    return Existing::None;
  }
  if (attributes != win::kInvalidAttributes && (attributes & win::kAttrDirectory) != 0) {
    return Existing::None;
  }
  for (int attempt = 0;; ++attempt) {
    ScopedFile existing(platform.files, platform.files.OpenReadExclusive(destination));
    if (existing.valid()) return Existing::File;
    const std::uint32_t error = platform.system.LastError();
    if (IsNotFound(error)) return Existing::None;
    if (!IsSharingRefusal(error)) return Existing::Unreadable;
    if (attempt == kSharingRetries) return Existing::InUse;
    platform.system.Sleep(kSharingRetryMilliseconds);
  }
}

std::string DriveIdentity(const Platform& platform, char letter);

// Codes a drive that is not there gives: a letter no volume holds, a card
// reader without its card, a device that went away.
bool IsAbsenceCode(std::uint32_t code) {
  constexpr std::uint32_t kInvalidDrive = 15;
  constexpr std::uint32_t kNotReady = 21;
  constexpr std::uint32_t kDevNotExist = 55;
  constexpr std::uint32_t kNoSuchDevice = 433;
  constexpr std::uint32_t kDeviceNotConnected = 1167;
  return IsNotFound(code) || code == kInvalidDrive || code == kNotReady || code == kDevNotExist ||
         code == kNoSuchDevice || code == kDeviceNotConnected;
}

// Whether the drive the run began on went away under it: its root is not
// there any more (a stick pulled out, a card reader without its card), or
// another volume now answers at its letter (another stick plugged in
// meanwhile).  A root that answers with another failure (access denied, a
// lock) is no absence.  The last error is kept as it was.
bool DriveWentAway(const Platform& platform, char letter, const std::string& identity) {
  const std::uint32_t before = platform.system.LastError();
  bool gone = false;
  if (platform.files.GetAttributes(DriveRoot(letter)) == win::kInvalidAttributes) {
    gone = IsAbsenceCode(platform.system.LastError());
  } else if (!identity.empty()) {
    const std::string now = DriveIdentity(platform, letter);
    gone = !now.empty() && now != identity;
  }
  platform.system.SetLastError(before);
  return gone;
}

// Says so when the drive went away; a failure is then the drive's absence,
// whatever code the call that met it left.
std::optional<RunStop> ShowDriveRemoved(const Platform& platform, char letter,
                                        const RunRecord& run) {
  if (!DriveWentAway(platform, letter, run.drive)) return std::nullopt;
  ShowError(platform, Format(kDriveRemovedFormat, letter));
  return RunStop::DriveRemoved;
}

void ShowFileInUse(const Platform& platform, const std::string& destination) {
  ShowNotice(platform, Format(kFileInUseFormat, NameInMessage(destination).c_str()));
}

// Whether a module may go to `destination`, and whether it replaces a file
// there.  The installer may itself sit on the drive: replacing it with its
// module would lose every module still to come.  A file there that nobody
// else holds open is replaced when the user agrees; else the module is
// skipped.  One that another program holds open is not asked about (no
// replace could succeed while it is open): the run stops and says so.
struct Placement {
  ModuleTurn turn = ModuleTurn::Installed;
  bool replaces = false;
  RunStop why = RunStop::UnsafeModule;  // for a Stopped turn
};
Placement AskToReplace(const Platform& platform, const PackageRef& package, char letter,
                       const SetModule& module, const std::string& destination,
                       const RunRecord& run) {
  const ModuleRecord& record = module.record;
  if (WouldReplacePackage(platform.files, package.path, destination)) {
    ShowError(platform, Format(kUnsafeModuleFormat, NameInMessage(record.fileName).c_str(),
                               NameInMessage(record.extractDir).c_str(),
                               "it would replace this installer itself"));
    return {ModuleTurn::Stopped};  // an unsafe module
  }
  switch (LookAtDestination(platform, destination)) {
    case Existing::None: return {ModuleTurn::Installed};
    case Existing::InUse:
      ShowFileInUse(platform, destination);
      return {ModuleTurn::Stopped, false, RunStop::WriteFailed};
    case Existing::File:
      // Already what the set holds: nothing to ask, nothing to write.
      if (FileHoldsModule(platform, package, destination, module.contentOffset, record.contentSize,
                          record.attributes)) {
        return {ModuleTurn::Unchanged};
      }
      break;
    case Existing::Unreadable:
      // A drive that went away leaves nothing to ask about.
      if (std::optional<RunStop> gone = ShowDriveRemoved(platform, letter, run)) {
        return {ModuleTurn::Stopped, false, *gone};
      }
      break;
  }
  if (!AskYesNoOwned(platform, kOverwriteCaption,
                     Format(kAlreadyExistsFormat, NameInMessage(destination).c_str()))) {
    return {ModuleTurn::Skipped};
  }
  return {ModuleTurn::Installed, true};
}

// The system's words end with a line break on Windows: inside a message,
// where more lines follow, it would leave an empty line.
std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

std::string ErrorTextInLine(System& system) { return WithoutLineEnd(GetLastErrorText(system)); }

// A module whose content does not match its check, and one that cannot be
// read from the package: the message, and why the run stops.
RunStop ShowDamaged(const Platform& platform, const ModuleRecord& record) {
  ShowError(platform, Format(kDamagedModuleFormat, NameInMessage(record.fileName).c_str()));
  return RunStop::DamagedModule;
}

RunStop ShowUnreadable(const Platform& platform, const ModuleRecord& record) {
  const std::string error = GetLastErrorText(platform.system);
  ShowError(platform, Format(kUnreadablePackageFormat, NameInMessage(record.fileName).c_str(),
                             error.c_str()));
  return RunStop::UnreadablePackage;
}

// Tells the user why the module could not be written to `destination`;
// gives why the run stops.
RunStop ShowExtractFailure(const Platform& platform, char letter, const ModuleRecord& record,
                           const std::string& destination, const ExtractReport& report,
                           bool replaces, RunRecord& run) {
  switch (report.result) {
    case ExtractResult::Damaged: return ShowDamaged(platform, record);
    case ExtractResult::PackageUnreadable: return ShowUnreadable(platform, record);
    default: break;
  }
  if (std::optional<RunStop> gone = ShowDriveRemoved(platform, letter, run)) return *gone;
  switch (report.result) {
    case ExtractResult::Damaged:
    case ExtractResult::PackageUnreadable: break;
    case ExtractResult::NoRoom:
      run.RoomCounted(DriveRoot(letter), report.bytesNeeded, report.bytesFree);
      ShowError(platform, Format(kNoRoomFormat, letter, NameInMessage(destination).c_str(),
                                 SizeInUnits(report.bytesNeeded, true).c_str(),
                                 SizeInUnits(report.bytesFree).c_str()));
      return RunStop::WriteFailed;
    case ExtractResult::LinkInTheWay:
      ShowLinkRefusal(platform, record, report.links);
      return RunStop::WriteFailed;
    case ExtractResult::Done:
    case ExtractResult::Failed: break;
  }
  const std::uint32_t code = platform.system.LastError();
  const std::string error = GetLastErrorText(platform.system);
  if (code == win::kErrorVirusInfected || code == win::kErrorVirusDeleted) {
    ShowError(platform, Format(kBlockedByAntivirusFormat, NameInMessage(destination).c_str(),
                               WithoutLineEnd(error).c_str()));
    return RunStop::WriteFailed;
  }
  // Opened by another program while the question waited: the swap could not
  // take its place, whatever words the system had for that.
  if (replaces && LookAtDestination(platform, destination) == Existing::InUse) {
    ShowFileInUse(platform, destination);
    return RunStop::WriteFailed;
  }
  ShowNotice(platform, Format(replaces ? kCannotWriteFormat : kCannotWriteNewFormat,
                              NameInMessage(destination).c_str(), WithoutLineEnd(error).c_str()));
  return RunStop::WriteFailed;
}

// Folders ending in a blank or a dot were stored by older builders as
// typed; Windows drops those characters, so the run does too, and says so
// (to `run`, when given).
void TakeFolderAsWindowsDoes(ModuleRecord& record, RunRecord* run) {
  std::string taken = WindowsFolderForm(record.extractDir);
  if (taken == record.extractDir) return;
  if (run != nullptr) run->FolderTaken(record.extractDir, taken);
  record.extractDir = std::move(taken);
}

// The set's modules newest first, each folder as Windows takes it.
ModuleSet FindModuleSet(const Platform& platform, const PackageRef& package, const char* setMarker,
                        RunRecord* run = nullptr) {
  ModuleSet set;
  std::uint32_t searchEnd = 0;
  for (;;) {
    SetModule module;
    module.found = FindModule(platform, package, setMarker, &module.contentOffset, true,
                              &module.record, searchEnd);
    if (module.found <= 0) {
      set.readable = module.found == 0;
      set.damaged = !set.readable && platform.system.LastError() == kErrorCrc;
      return set;
    }
    TakeFolderAsWindowsDoes(module.record, run);
    set.totalBytes += module.record.contentSize;
    searchEnd = static_cast<std::uint32_t>(module.found);
    set.modules.push_back(std::move(module));
  }
}

}  // namespace

VolumeState DriveVolumeState(const Platform& platform, char letter) {
  const std::optional<VolumeFacts> facts = platform.files.DescribeVolume(DriveRoot(letter));
  if (!facts && platform.system.LastError() == win::kFveLockedVolume) return VolumeState::Locked;
  return facts && facts->readOnly ? VolumeState::ReadOnly : VolumeState::Writable;
}

std::vector<std::string> SetDestinations(const Platform& platform, const PackageRef& package,
                                         char letter, const char* setMarker) {
  std::vector<std::string> destinations;
  const ModuleSet set = FindModuleSet(platform, package, setMarker);
  for (const SetModule& module : set.modules) {
    destinations.push_back(DestinationFile(platform.system, letter, module.record));
  }
  return destinations;
}

namespace {

// The folders of the set's modules on the drive, each once, where an
// interrupted run may have left something: modules the run refuses, and
// folders with a link on the way, are left out (the run refuses them later,
// naming the link).
std::vector<std::string> SetFolders(const Platform& platform, char letter, const ModuleSet& set) {
  std::vector<std::string> folders;
  std::vector<std::string> seen;
  for (const SetModule& module : set.modules) {
    if (ModulePlacementProblem(module.record.fileName, module.record.extractDir)) continue;
    const std::string folder = DestinationDirectory(platform.system, letter, module.record);
    if (std::find(seen.begin(), seen.end(), folder) != seen.end()) continue;
    seen.push_back(folder);
    if (FindLinkBelowRoot(platform, folder).found != LinkSearch::Found::None) continue;
    folders.push_back(folder);
  }
  return folders;
}

// Removes what an interrupted run left in the set's folders on the drive:
// staging files proven its own (package.h).  The root holds the probe of
// the drive's writability, whatever the set.
void RemoveLeftovers(const Platform& platform, char letter, const ModuleSet& set, RunRecord& run) {
  std::vector<std::string> folders = SetFolders(platform, letter, set);
  const std::string root = DriveRoot(letter);
  if (std::find(folders.begin(), folders.end(), root) == folders.end()) folders.push_back(root);
  for (const std::string& folder : folders) {
    if (!platform.files.IsDirectory(folder)) continue;
    for (const std::string& path : RemoveStagingLeftovers(platform, folder)) {
      run.LeftoverRemoved(path);
    }
  }
}

// The bar and the file line while the run copies; hidden again however the
// run ends.
class RunProgress {
 public:
  RunProgress(PageView& view, std::uint64_t total) : view_(view), total_(total) {
    view_.SetProgress(ids::kProgressBar, 0, total_);
    view_.SetText(ids::kProgressFile, "");
    view_.Show(ids::kProgressBar, true);
    view_.Show(ids::kProgressFile, true);
  }
  RunProgress(const RunProgress&) = delete;
  RunProgress& operator=(const RunProgress&) = delete;
  ~RunProgress() {
    view_.Show(ids::kProgressBar, false);
    view_.Show(ids::kProgressFile, false);
  }
  // The callback for one module's copy, which starts at `done_` bytes.
  ProgressFn Starting(const std::string& destination) {
    view_.SetText(ids::kProgressFile, destination);
    return [this](std::uint64_t done, std::uint64_t) {
      view_.SetProgress(ids::kProgressBar, done_ + done, total_);
    };
  }
  void Finished(std::uint32_t contentSize) {
    done_ += contentSize;
    view_.SetProgress(ids::kProgressBar, done_, total_);
  }
  // Back to `done` bytes, for a run that starts its copies again.
  void Rewind(std::uint64_t done) {
    done_ = done;
    view_.SetProgress(ids::kProgressBar, done_, total_);
  }

 private:
  PageView& view_;
  std::uint64_t total_;
  std::uint64_t done_ = 0;
};

// The file a replace would remove, as far as making room goes.
struct OldFile {
  std::uint64_t size = 0;
  std::uint32_t attributes = 0;
  std::uint32_t links = 1;
};
std::optional<OldFile> LookAtOldFile(const Platform& platform, const std::string& path) {
  FileSystem& files = platform.files;
  OldFile old;
  {
    ScopedFile file(files, files.OpenRead(path));
    const std::int64_t length = file.valid() ? files.Length(file.get()) : -1;
    if (length < 0) return std::nullopt;
    old.size = static_cast<std::uint64_t>(length);
  }
  old.attributes = files.GetAttributes(path);
  const std::optional<FileId> id = files.Identify(path);
  if (old.attributes == win::kInvalidAttributes || !id) return std::nullopt;
  old.links = id->links;
  return old;
}

// The bits a put-back file gets again: those a file keeps.
std::uint32_t KeptBits(std::uint32_t attributes) {
  const std::uint32_t kept =
      attributes & (win::kAttrReadOnly | win::kAttrHidden | win::kAttrSystem | win::kAttrArchive);
  return kept != 0 ? kept : win::kAttrNormal;
}

// How many names in the temporary folder a kept copy tries.
constexpr std::uint32_t kKeptCopyNames = 100;

// The note that stands beside a kept copy while the file it keeps may be
// gone from the drive: the file's path, its size and its bits, so that the
// next run knows the copy as this program's (the note and a copy of that
// size, never a name alone) and can put the file back or its bits on again.
std::string NoteOf(const std::string& kept) { return kept + ".where"; }
constexpr char kNoteTitle[] = "Brelvane kept copy";

struct KeptNote {
  std::string destination;
  std::uint64_t size = 0;
  std::uint32_t attributes = 0;
  // The drive's own identity (its root folder's): another stick of the same
  // model at the same letter is never taken for it.
  std::string drive;
};

// The identity of the drive at `letter`, as a note holds it; empty when it
// cannot be had.
std::string DriveIdentity(const Platform& platform, char letter) {
  const std::optional<FileId> id = platform.files.Identify(DriveRoot(letter));
  if (!id) return {};
  return std::to_string(id->volume) + ":" + std::to_string(id->index);
}

bool WriteNote(const Platform& platform, const std::string& path, const KeptNote& note) {
  std::string text = kNoteTitle;
  for (const std::string& line :
       {note.destination, std::to_string(note.size), std::to_string(note.attributes), note.drive}) {
    text.append("\r\n").append(line);
  }
  text.append("\r\n");
  return WriteFileIntoPlace(platform, text, path);
}

std::optional<KeptNote> ReadNote(const Platform& platform, const std::string& path) {
  FileSystem& files = platform.files;
  ScopedFile file(files, files.OpenRead(path));
  if (!file.valid()) return std::nullopt;
  std::string text(1024, '\0');
  const std::int64_t got = files.Read(file.get(), text.data(), text.size());
  if (got <= 0) return std::nullopt;
  text.resize(static_cast<std::size_t>(got));
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  const auto number = [](const std::string& line, std::size_t digits) {
    return !line.empty() && line.size() <= digits &&
           line.find_first_not_of("0123456789") == std::string::npos;
  };
  if (lines.size() != 5 || lines[0] != kNoteTitle || !number(lines[2], 19) ||
      !number(lines[3], 10) || lines[4].empty()) {
    return std::nullopt;
  }
  return KeptNote{lines[1], std::stoull(lines[2]),
                  static_cast<std::uint32_t>(std::stoull(lines[3])), lines[4]};
}

// The temporary folder with its closing separator, or nullopt.
std::optional<std::string> TempFolder(System& system) {
  const std::optional<std::string> temp = system.TempDirectory();
  if (!temp || temp->empty()) return std::nullopt;
  const char last = temp->back();
  return last == '\\' || last == '/' ? *temp : *temp + "\\";
}

// Copies `destination` into the computer's temporary folder under a name
// nothing has there yet, its note written first; its path, or nullopt with
// the error set and `folder` saying where it was to go.
std::optional<std::string> KeepACopy(const Platform& platform, const std::string& destination,
                                     const KeptNote& note, std::string& folder) {
  const std::optional<std::string> base = TempFolder(platform.system);
  if (!base) return std::nullopt;
  folder = *base;
  // The name is cut short (never inside a character) so that the copy and
  // its note stay within the 255 characters a name may have.
  std::string name = FindFileName(destination);
  if (name.size() > 200) {
    std::size_t cut = 200;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  for (std::uint32_t number = 1; number <= kKeptCopyNames; ++number) {
    const std::string kept = *base + Format("kept-%u-%s", number, name.c_str());
    if (platform.files.Exists(kept)) continue;
    if (!WriteNote(platform, NoteOf(kept), note)) {
      const std::uint32_t error = platform.system.LastError();
      if (error == win::kErrorFileExists || error == win::kErrorAlreadyExists) continue;
      return std::nullopt;
    }
    if (CopyFileIntoPlace(platform, destination, kept, win::kAttrNormal)) return kept;
    const std::uint32_t error = platform.system.LastError();
    platform.files.DeleteFile(NoteOf(kept));
    platform.system.SetLastError(error);
    if (error != win::kErrorFileExists && error != win::kErrorAlreadyExists) return std::nullopt;
  }
  return std::nullopt;
}

// Removes a kept copy and its note, once the file it kept is safe.
void DropKeptCopy(const Platform& platform, const std::string& kept) {
  platform.files.DeleteFile(kept);
  platform.files.DeleteFile(NoteOf(kept));
}

// Removes the old file at `path` (a read-only one too).
bool RemoveOldFile(const Platform& platform, const std::string& path, const OldFile& old) {
  FileSystem& files = platform.files;
  if ((old.attributes & win::kAttrReadOnly) != 0 &&
      !files.SetAttributes(path, KeptBits(old.attributes & ~win::kAttrReadOnly))) {
    return false;
  }
  if (files.DeleteFile(path)) return true;
  const std::uint32_t error = platform.system.LastError();
  files.SetAttributes(path, KeptBits(old.attributes));
  platform.system.SetLastError(error);
  return false;
}

// A replace on a drive without room for the module beside the file it
// replaces, where there is room in its place: the file is copied to the
// computer's temporary folder (the user is told where), removed, and the
// module written where it was.  If the module cannot be written, the file
// is put back from its copy.  The copy goes once either is in place; a run
// killed in between leaves it where the user was told.  A file with other
// names (hard links) frees no room when one goes, and is not touched.
ModuleTurn ReplaceKeepingACopy(const Platform& platform, const PackageRef& package, char letter,
                               const SetModule& module, const std::string& destination,
                               ExtractOptions options, const ExtractReport& refused,
                               RunProgress& progress, RunRecord& run) {
  const ModuleRecord& record = module.record;
  const std::optional<OldFile> old = LookAtOldFile(platform, destination);
  if (!old || old->links != 1 || refused.bytesFree + old->size < record.contentSize) {
    return run.Stop(ShowExtractFailure(platform, letter, record, destination, refused, true, run));
  }
  std::string folder;
  const std::optional<std::string> kept = KeepACopy(
      platform, destination,
      KeptNote{destination, old->size, old->attributes, DriveIdentity(platform, letter)}, folder);
  if (!kept) {
    const std::string error = ErrorTextInLine(platform.system);
    ShowError(platform, Format(kCannotKeepCopyFormat, NameInMessage(destination).c_str(),
                               NameInMessage(folder).c_str(), error.c_str()));
    return run.Stop(RunStop::WriteFailed);
  }
  ShowNotice(platform, Format(kKeptCopyFormat, letter, NameInMessage(destination).c_str(),
                              NameInMessage(*kept).c_str()));
  if (!RemoveOldFile(platform, destination, *old)) {
    const std::string error = GetLastErrorText(platform.system);
    // Gone with the drive, the old file may or may not be there: its copy
    // and note stay for the next run to heal.
    if (std::optional<RunStop> gone = ShowDriveRemoved(platform, letter, run)) {
      return run.Stop(*gone);
    }
    DropKeptCopy(platform, *kept);
    ShowNotice(platform,
               Format(kCannotWriteFormat, NameInMessage(destination).c_str(), error.c_str()));
    return run.Stop(RunStop::WriteFailed);
  }
  options.replaceExisting = false;
  ExtractReport report;
  if (ExtractModule(platform, package, destination, module.contentOffset, record.contentSize,
                    record.attributes, options, &report)) {
    DropKeptCopy(platform, *kept);
    progress.Finished(record.contentSize);
    run.Written(destination, record.contentSize);
    return ModuleTurn::Installed;
  }
  const std::uint32_t failure = platform.system.LastError();
  if (CopyFileIntoPlace(platform, *kept, destination, KeptBits(old->attributes))) {
    DropKeptCopy(platform, *kept);
    platform.system.SetLastError(failure);
    return run.Stop(ShowExtractFailure(platform, letter, record, destination, report, true, run));
  }
  const std::string notPutBack = ErrorTextInLine(platform.system);
  const std::string why = WithoutLineEnd(platform.system.ErrorText(failure));
  ShowError(platform, Format(kNotPutBackFormat, NameInMessage(destination).c_str(), why.c_str(),
                             notPutBack.c_str(), NameInMessage(*kept).c_str()));
  return run.Stop(RunStop::WriteFailed);
}

// The first entry on the way down to `directory` that is no folder (a
// file where a folder must go), or nullopt.
std::optional<std::string> FileInTheWay(const Platform& platform, const std::string& directory) {
  for (const std::string& level : FolderLevels(directory)) {
    const std::uint32_t attributes = platform.files.GetAttributes(level);
    if (attributes == win::kInvalidAttributes) return std::nullopt;  // nothing lies below
    if ((attributes & win::kAttrDirectory) == 0) return level;
  }
  return std::nullopt;
}

// Tells the user that the module's folder could not be created: the folder,
// the system's words and, where a file stands in its way, that file.
RunStop ShowFolderFailure(const Platform& platform, char letter, const std::string& directory,
                          const RunRecord& run) {
  const std::string error = ErrorTextInLine(platform.system);
  if (std::optional<RunStop> gone = ShowDriveRemoved(platform, letter, run)) return *gone;
  if (const std::optional<std::string> file = FileInTheWay(platform, directory)) {
    ShowNotice(platform, Format(kFolderBlockedFormat, NameInMessage(directory).c_str(),
                                error.c_str(), NameInMessage(*file).c_str()));
    return RunStop::WriteFailed;
  }
  ShowNotice(platform,
             Format(kCannotCreateFolderFormat, NameInMessage(directory).c_str(), error.c_str()));
  return RunStop::WriteFailed;
}

// One module's turn as decided before anything is written: where it goes,
// and whether it replaces a file there.
struct PlannedModule {
  const SetModule* module = nullptr;
  std::string destination;
  bool replaces = false;
};

// Asks every question before anything is written (the set's names and the
// links on its way were looked at before): each module is refused (it would
// replace the installer), skipped, left alone as identical, or planned.  `lastDestination` receives
// where the last one handled goes.
std::optional<RunStop> PlanModules(const Platform& platform, const PackageRef& package, char letter,
                                   const ModuleSet& set, RunProgress* progress, RunRecord& run,
                                   std::vector<PlannedModule>& planned,
                                   std::string& lastDestination) {
  for (const SetModule& module : set.modules) {
    const ModuleRecord& record = module.record;
    const std::string destination = DestinationFile(platform.system, letter, record);
    const Placement placement = AskToReplace(platform, package, letter, module, destination, run);
    switch (placement.turn) {
      case ModuleTurn::Stopped: return placement.why;
      case ModuleTurn::Skipped:
        if (progress != nullptr) progress->Finished(record.contentSize);
        run.Skipped(destination, record.contentSize);
        break;
      case ModuleTurn::Unchanged:
        if (progress != nullptr) progress->Finished(record.contentSize);
        run.Unchanged(destination, record.contentSize);
        break;
      case ModuleTurn::Installed:
        planned.push_back({&module, destination, placement.replaces});
        break;
    }
    lastDestination = destination;
  }
  return std::nullopt;
}

// Creates the module's folder where it is missing; why the run stops,
// after saying why, when it cannot.
std::optional<RunStop> MakeFolder(const Platform& platform, char letter, const ModuleRecord& record,
                                  const RunRecord& run) {
  const std::string directory = DestinationDirectory(platform.system, letter, record);
  if (platform.files.IsDirectory(directory) || CreatePath(platform, directory)) {
    return std::nullopt;
  }
  return ShowFolderFailure(platform, letter, directory, run);
}

// The options a planned module's copy and rename take.  The links are
// looked at again inside: a folder may have been swapped for one while a
// question waited.
ExtractOptions OptionsFor(const PlannedModule& plan) {
  ExtractOptions options;
  options.replaceExisting = plan.replaces;
  options.refuseLinks = true;
  return options;
}

// Whether every module of the set can be staged beside the files it
// replaces: the drive then holds the whole set before the first file takes
// its name.
bool RoomToStageAll(const Platform& platform, char letter, const ModuleSet& set) {
  const std::optional<std::uint64_t> free = platform.files.FreeBytes(DriveRoot(letter));
  if (!free) return true;  // a volume that does not say: a staging file finds out
  const std::optional<VolumeFacts> facts = platform.files.DescribeVolume(DriveRoot(letter));
  const std::uint32_t cluster = facts ? facts->clusterBytes : 0;
  std::uint64_t need = 0;
  for (const SetModule& module : set.modules) {
    need += static_cast<std::uint64_t>(OnDisk(module.record.contentSize, cluster));
  }
  return need <= *free;
}

// Places the planned modules that were staged, newest first: each staged
// file takes its name in one rename.  A failing rename leaves the ones
// before it in place and removes the staged ones after it.
std::optional<RunStop> PlaceAll(const Platform& platform, char letter,
                                const std::vector<PlannedModule>& planned,
                                std::vector<StagedModule>& staged, RunRecord& run,
                                bool& placedAny) {
  for (std::size_t i = 0; i < planned.size(); ++i) {
    const ModuleRecord& record = planned[i].module->record;
    ExtractReport report;
    if (!PlaceStagedModule(staged[i], OptionsFor(planned[i]), &report)) {
      return ShowExtractFailure(platform, letter, record, planned[i].destination, report,
                                planned[i].replaces, run);
    }
    placedAny = true;
    run.Written(planned[i].destination, record.contentSize);
  }
  return std::nullopt;
}

// The whole set staged beside the files it replaces before anything is
// asked or replaced: every module verified as it is copied, so a damaged one
// is named before the first question and every byte is read from the
// package once.  Then the questions, then the renames.  A stop the user
// asks for, a damaged module or any failure before the first rename leaves
// every file on the drive as it was.  `noRoom`: a staging file found the
// drive full; nothing was asked or replaced.
std::optional<RunStop> InstallStaged(const Platform& platform, const PackageRef& package,
                                     char letter, const ModuleSet& set, RunProgress& progress,
                                     RunRecord& run, std::string& lastDestination,
                                     const std::atomic<bool>& stopAsked, bool& noRoom,
                                     bool& placedAny) {
  std::vector<StagedModule> staged;
  staged.reserve(set.modules.size());
  for (const SetModule& module : set.modules) {
    const ModuleRecord& record = module.record;
    if (stopAsked.load()) {
      ShowNotice(platform, kStoppedBeforeReplacing);
      return RunStop::StoppedByUser;
    }
    if (std::optional<RunStop> stop = MakeFolder(platform, letter, record, run)) return stop;
    const std::string destination = DestinationFile(platform.system, letter, record);
    ExtractOptions options;
    options.refuseLinks = true;
    options.progress = progress.Starting(destination);
    ExtractReport report;
    std::optional<StagedModule> one =
        StageModule(platform, package, destination, module.contentOffset, record.contentSize,
                    record.attributes, options, &report);
    if (!one) {
      if (report.result == ExtractResult::NoRoom) {
        noRoom = true;
        return std::nullopt;
      }
      return ShowExtractFailure(platform, letter, record, destination, report, false, run);
    }
    progress.Finished(record.contentSize);
    staged.push_back(std::move(*one));
  }
  // The bar is full once the set is staged: the questions move it no more.
  std::vector<PlannedModule> planned;
  if (std::optional<RunStop> stop =
          PlanModules(platform, package, letter, set, nullptr, run, planned, lastDestination)) {
    return stop;
  }
  // Only what is to be placed stays staged, in the plan's order; the rest
  // is removed now.
  std::vector<StagedModule> kept;
  std::size_t next = 0;
  for (std::size_t i = 0; i < set.modules.size(); ++i) {
    if (next < planned.size() && planned[next].module == &set.modules[i]) {
      kept.push_back(std::move(staged[i]));
      ++next;
    }
  }
  staged.clear();
  if (stopAsked.load()) {
    ShowNotice(platform, kStoppedBeforeReplacing);
    return RunStop::StoppedByUser;
  }
  // The questions may have waited long: another stick may stand at the
  // letter now.
  if (std::optional<RunStop> gone = ShowDriveRemoved(platform, letter, run)) return gone;
  return PlaceAll(platform, letter, planned, kept, run, placedAny);
}

// Reads every module of the set and compares it with its check, so that a
// damaged installer is refused before anything is written; the extraction
// checks each copy again before it takes its name.
std::optional<RunStop> ShowDamagedModule(const Platform& platform, const PackageRef& package,
                                         const ModuleSet& set) {
  for (const SetModule& module : set.modules) {
    const ModuleRecord& record = module.record;
    switch (CheckFoundModule(platform, package, module.contentOffset, record.contentSize)) {
      case ContentState::Sound:
      case ContentState::Unchecked: continue;
      case ContentState::Damaged: return ShowDamaged(platform, record);
      case ContentState::Unreadable: return ShowUnreadable(platform, record);
    }
  }
  return std::nullopt;
}

// The planned modules one at a time, for a drive without room for the whole
// set beside the files it replaces: each is copied and takes its name
// before the next, and a replace without room beside the old file keeps a
// copy of it and writes in its place.  Every module is checked first, so a
// damaged set still leaves the drive as it was.
std::optional<RunStop> InstallOneByOne(const Platform& platform, const PackageRef& package,
                                       char letter, const ModuleSet& set, RunProgress& progress,
                                       RunRecord& run, std::string& lastDestination,
                                       const std::atomic<bool>& stopAsked) {
  if (std::optional<RunStop> damaged = ShowDamagedModule(platform, package, set)) return damaged;
  std::vector<PlannedModule> planned;
  if (std::optional<RunStop> stop =
          PlanModules(platform, package, letter, set, &progress, run, planned, lastDestination)) {
    return stop;
  }
  // The questions come before any write here: the drive they were asked
  // about must still be the one at the letter.
  if (std::optional<RunStop> gone = ShowDriveRemoved(platform, letter, run)) return gone;
  unsigned handled = 0;
  for (const PlannedModule& plan : planned) {
    // A stop the user asked for takes effect between two files, so that
    // every file on the drive is whole.
    if (handled > 0 && stopAsked.load()) {
      ShowNotice(platform, Format(kStoppedByUserFormat,
                                  NameInMessage(planned[handled - 1].destination).c_str(), handled,
                                  static_cast<unsigned>(planned.size())));
      return RunStop::StoppedByUser;
    }
    const SetModule& module = *plan.module;
    const ModuleRecord& record = module.record;
    if (std::optional<RunStop> stop = MakeFolder(platform, letter, record, run)) return stop;
    ExtractOptions options = OptionsFor(plan);
    options.progress = progress.Starting(plan.destination);
    ExtractReport report;
    if (!ExtractModule(platform, package, plan.destination, module.contentOffset,
                       record.contentSize, record.attributes, options, &report)) {
      if (report.result == ExtractResult::NoRoom && plan.replaces) {
        if (ReplaceKeepingACopy(platform, package, letter, module, plan.destination, options,
                                report, progress, run) == ModuleTurn::Stopped) {
          return run.stop;
        }
        ++handled;
        continue;
      }
      return ShowExtractFailure(platform, letter, record, plan.destination, report, plan.replaces,
                                run);
    }
    progress.Finished(record.contentSize);
    run.Written(plan.destination, record.contentSize);
    ++handled;
  }
  return std::nullopt;
}

// Whether a file of the set is held open by another program, looked at
// before anything is written, so that closing it and pressing Install again
// is all it takes.  Modules the run refuses anyway, and the installer's own
// file (which it holds open itself), are left to the run's own turn.
bool ShowSetFileInUse(const Platform& platform, const PackageRef& package, char letter,
                      const ModuleSet& set) {
  for (const SetModule& module : set.modules) {
    const ModuleRecord& record = module.record;
    if (ModulePlacementProblem(record.fileName, record.extractDir)) continue;
    if (LinkOnTheWay(platform, letter, record).found != LinkSearch::Found::None) continue;
    const std::string destination = DestinationFile(platform.system, letter, record);
    if (WouldReplacePackage(platform.files, package.path, destination)) continue;
    if (LookAtDestination(platform, destination) == Existing::InUse) {
      ShowFileInUse(platform, destination);
      return true;
    }
  }
  return false;
}

// The set's module that goes to `destination`, if any.
const SetModule* ModuleGoingTo(const Platform& platform, char letter, const ModuleSet& set,
                               const std::string& destination) {
  for (const SetModule& module : set.modules) {
    if (platform.system.SamePathIgnoringCase(
            DestinationFile(platform.system, letter, module.record), destination)) {
      return &module;
    }
  }
  return nullptr;
}

bool IsAbsent(const Platform& platform, const std::string& path) {
  return platform.files.GetAttributes(path) == win::kInvalidAttributes &&
         IsNotFound(platform.system.LastError());
}

// A kept copy that a run killed while it replaced a file on a full drive
// left in the temporary folder, proven this drive's and this set's by its
// note (the drive's identity, a file of the set) and by the copy's size.
struct KeptCopy {
  std::string kept;
  std::string destination;
  KeptNote note;
  const SetModule* module = nullptr;
};

std::vector<KeptCopy> FindKeptCopies(const Platform& platform, char letter, const ModuleSet& set) {
  std::vector<KeptCopy> found;
  const std::optional<std::string> base = TempFolder(platform.system);
  if (!base) return found;
  RemoveStagingLeftovers(platform, *base);
  const std::string drive = DriveIdentity(platform, letter);
  const std::optional<std::vector<DirEntry>> notes =
      platform.files.FindFiles(*base + "kept-*.where");
  if (!notes || drive.empty()) return found;
  for (const DirEntry& entry : *notes) {
    const std::string notePath = *base + entry.name;
    std::optional<KeptNote> note = ReadNote(platform, notePath);
    // A note of another drive stays for that drive's next run.
    if (!note || note->drive != drive || note->destination.size() < 3) continue;
    // The drive may have come back under another letter.
    std::string destination = note->destination;
    destination[0] = letter;
    const SetModule* module = ModuleGoingTo(platform, letter, set, destination);
    if (module == nullptr) continue;
    const std::string kept = notePath.substr(0, notePath.size() - 6);
    const std::optional<OldFile> copy = LookAtOldFile(platform, kept);
    if (!copy || copy->size != note->size) {
      platform.files.DeleteFile(notePath);  // the copy never became whole, or went
      continue;
    }
    found.push_back({kept, destination, std::move(*note), module});
  }
  return found;
}

// Heals what the kept copies stand for: the run puts a removed file back
// (the question is then asked again), puts its bits back where only they
// went, or drops the copy where the replace was complete; the user is told
// what became of a file that is not back.
void HealKeptCopies(const Platform& platform, const PackageRef& package,
                    const std::vector<KeptCopy>& copies, RunRecord& run) {
  for (const KeptCopy& copy : copies) {
    const ModuleRecord& record = copy.module->record;
    if (FileHoldsModule(platform, package, copy.destination, copy.module->contentOffset,
                        record.contentSize, record.attributes)) {
      run.Healed("the replace of " + copy.destination + " was complete; its kept copy " +
                 copy.kept + " is removed");
      DropKeptCopy(platform, copy.kept);
      continue;
    }
    const std::optional<OldFile> there = LookAtOldFile(platform, copy.destination);
    if (there && there->size == copy.note.size) {
      platform.files.SetAttributes(copy.destination, KeptBits(copy.note.attributes));
      run.Healed(copy.destination + " keeps its bits; its kept copy " + copy.kept + " is removed");
      DropKeptCopy(platform, copy.kept);
      continue;
    }
    if (IsAbsent(platform, copy.destination) &&
        CopyFileIntoPlace(platform, copy.kept, copy.destination, KeptBits(copy.note.attributes))) {
      ShowNotice(platform, Format(kPutBackFormat, NameInMessage(copy.destination).c_str(),
                                  NameInMessage(copy.kept).c_str()));
      run.Healed(copy.destination + " is put back from " + copy.kept);
      DropKeptCopy(platform, copy.kept);
      continue;
    }
    ShowNotice(platform, Format(kKeptCopyLeftFormat, NameInMessage(copy.destination).c_str(),
                                NameInMessage(copy.kept).c_str()));
    run.Healed("the kept copy of " + copy.destination + " stays at " + copy.kept);
    platform.files.DeleteFile(NoteOf(copy.kept));
  }
}

// A staging file of this program's that a run killed after the copy left
// whole, proven by its bytes, which are those of a module of the set for
// that folder.  With the module's bits it takes its name where the
// destination is gone and no kept copy stands for it; otherwise it goes
// (the kept copy is put back, or the question is asked again, or the module
// is written afresh), before anything else needs its room.
void FinishInterruptedStaging(const Platform& platform, const PackageRef& package, char letter,
                              const ModuleSet& set, const std::vector<KeptCopy>& copies,
                              RunRecord& run) {
  for (const std::string& folder : SetFolders(platform, letter, set)) {
    const std::string base = folder.back() == '\\' ? folder : folder + "\\";
    const std::optional<std::vector<DirEntry>> entries =
        platform.files.FindFiles(base + kStagingSearchPattern);
    if (!entries) continue;
    for (const DirEntry& entry : *entries) {
      if (!IsStagingName(entry.name) ||
          (entry.attributes & (win::kAttrDirectory | win::kAttrReparsePoint)) != 0) {
        continue;
      }
      // A file with other names, or one another run holds, is nobody's
      // leftover.
      const std::string path = base + entry.name;
      const std::optional<FileId> id = platform.files.Identify(path);
      if (!id || id->links != 1) continue;
      {
        ScopedFile held(platform.files, platform.files.OpenReadExclusive(path));
        if (!held.valid()) continue;
      }
      for (const SetModule& module : set.modules) {
        const ModuleRecord& record = module.record;
        if (DestinationDirectory(platform.system, letter, record) != folder ||
            !FileHoldsModule(platform, package, path, module.contentOffset, record.contentSize,
                             record.attributes, false)) {
          continue;
        }
        const std::string destination = DestinationFile(platform.system, letter, record);
        const bool kept = std::any_of(copies.begin(), copies.end(),
                                      [&](const KeptCopy& copy) { return copy.module == &module; });
        if (!kept && IsAbsent(platform, destination) &&
            FileHoldsModule(platform, package, path, module.contentOffset, record.contentSize,
                            record.attributes) &&
            platform.files.MoveIntoPlace(path, destination, false)) {
          run.Healed("an interrupted run's " + path + " takes its place as " + destination);
        } else {
          platform.files.SetAttributes(path, win::kAttrNormal);
          if (platform.files.DeleteFile(path)) run.LeftoverRemoved(path);
        }
        break;
      }
    }
  }
}

// Drops the older modules of the set that go to the same file as a newer
// one (a set built before the builder refused such pairs): the newer one is
// installed, and the run never asks about a file it wrote itself.
void DropSuperseded(const Platform& platform, char letter, ModuleSet& set, RunRecord& run) {
  std::vector<SetModule> kept;
  for (SetModule& module : set.modules) {
    const bool superseded = std::any_of(kept.begin(), kept.end(), [&](const SetModule& newer) {
      return SameDestination(platform.system, newer.record, module.record);
    });
    if (!superseded) {
      kept.push_back(std::move(module));
      continue;
    }
    set.totalBytes -= module.record.contentSize;
    run.Superseded(DestinationFile(platform.system, letter, module.record));
  }
  set.modules = std::move(kept);
}

RunStop ShowWriteProtected(const Platform& platform, char letter) {
  ShowError(platform, Format(kWriteProtectedFormat, letter));
  return RunStop::WriteProtected;
}

RunStop ShowLocked(const Platform& platform, char letter) {
  ShowError(platform, Format(kDriveLockedFormat, letter, letter));
  return RunStop::DriveLocked;
}

// What the volume says of itself, before anything is written: a read-only
// volume (a write-protect switch, a policy that mounts it so) or one that
// BitLocker keeps locked.
std::optional<RunStop> ShowVolumeRefusal(const Platform& platform, char letter) {
  switch (DriveVolumeState(platform, letter)) {
    case VolumeState::Locked: return ShowLocked(platform, letter);
    case VolumeState::ReadOnly: return ShowWriteProtected(platform, letter);
    case VolumeState::Writable: break;
  }
  return std::nullopt;
}

// The folders on the way to the set's destinations that the run creates,
// each taking a cluster of its own, shallowest first.
std::vector<std::string> FoldersToCreate(const Platform& platform, char letter,
                                         const ModuleSet& set) {
  std::vector<std::string> missing;
  for (const SetModule& module : set.modules) {
    for (const std::string& level :
         FolderLevels(DestinationDirectory(platform.system, letter, module.record))) {
      if (platform.files.IsDirectory(level)) continue;
      if (std::find(missing.begin(), missing.end(), level) == missing.end()) {
        missing.push_back(level);
      }
    }
  }
  return missing;
}

// Where the set's first writes land: for each module's folder, its deepest
// level that is there already (the root where none is), each once.
std::vector<std::string> ProbeFolders(const Platform& platform, char letter, const ModuleSet& set) {
  std::vector<std::string> folders;
  for (const SetModule& module : set.modules) {
    std::string deepest = DriveRoot(letter);
    for (const std::string& level :
         FolderLevels(DestinationDirectory(platform.system, letter, module.record))) {
      if (!platform.files.IsDirectory(level)) break;
      deepest = level;
    }
    if (std::find(folders.begin(), folders.end(), deepest) == folders.end()) {
      folders.push_back(deepest);
    }
  }
  return folders;
}

// A staging file made and removed where the set's first writes land: the
// first write, which names the cause when the drive refuses writing.
std::optional<RunStop> ShowWriteRefusal(const Platform& platform, char letter, const ModuleSet& set,
                                        const RunRecord& run) {
  bool writable = true;
  for (const std::string& folder : ProbeFolders(platform, letter, set)) {
    writable = ProbeWritable(platform, folder);
    if (!writable) break;
  }
  if (writable) return std::nullopt;
  const std::uint32_t code = platform.system.LastError();
  const std::string error = ErrorTextInLine(platform.system);
  switch (code) {
    case win::kErrorWriteProtect: return ShowWriteProtected(platform, letter);
    case win::kFveLockedVolume: return ShowLocked(platform, letter);
    case win::kErrorAccessDenied:
      ShowError(platform, Format(kWriteDeniedFormat, letter, error.c_str()));
      return RunStop::WriteDenied;
    default:
      if (std::optional<RunStop> gone = ShowDriveRemoved(platform, letter, run)) return gone;
      ShowError(platform, Format(kCannotWriteDriveFormat, letter, error.c_str()));
      return RunStop::WriteFailed;
  }
}

// The bytes an existing file at `destination` frees when the set replaces
// it: none for a file with other names (hard links), which stays.
std::uint64_t FreedByReplacing(const Platform& platform, const std::string& destination) {
  const std::uint32_t attributes = platform.files.GetAttributes(destination);
  if (attributes == win::kInvalidAttributes || (attributes & win::kAttrDirectory) != 0) return 0;
  const std::optional<OldFile> old = LookAtOldFile(platform, destination);
  return old && old->links == 1 ? old->size : 0;
}

// Room for the whole set, counted before the first write.  The run writes
// each module beside the file it replaces and then frees that file's
// clusters; where it cannot fit beside it, the file is copied to the
// temporary folder and replaced in place.  The most the drive holds at any
// moment of the run, new folders included, must fit what it has free.
std::optional<RunStop> ShowRoomRefusal(const Platform& platform, const PackageRef& package,
                                       char letter, const ModuleSet& set, RunRecord& run) {
  const std::string root = DriveRoot(letter);
  const std::optional<std::uint64_t> free = platform.files.FreeBytes(root);
  if (!free) return std::nullopt;  // a volume that does not say: the copies find out
  const std::optional<VolumeFacts> facts = platform.files.DescribeVolume(root);
  const std::uint32_t cluster = facts ? facts->clusterBytes : 0;
  const auto available = static_cast<std::int64_t>(std::min<std::uint64_t>(*free, INT64_MAX));
  std::int64_t balance =
      static_cast<std::int64_t>(FoldersToCreate(platform, letter, set).size()) * OnDisk(1, cluster);
  std::int64_t peak = balance;
  std::uint64_t keptCopy = 0;
  for (const SetModule& module : set.modules) {
    const ModuleRecord& record = module.record;
    const std::string destination = DestinationFile(platform.system, letter, record);
    const std::uint64_t oldSize = FreedByReplacing(platform, destination);
    // A file that already is the module is left alone: it takes nothing.
    if (oldSize == record.contentSize &&
        FileHoldsModule(platform, package, destination, module.contentOffset, record.contentSize,
                        record.attributes)) {
      continue;
    }
    const std::int64_t added = OnDisk(record.contentSize, cluster);
    const std::int64_t freed = OnDisk(oldSize, cluster);
    std::int64_t need = balance + added;
    if (need > available && freed > 0) {
      need -= freed;
      keptCopy = std::max(keptCopy, oldSize);
    }
    peak = std::max(peak, need);
    balance += added - freed;
  }
  // A temporary folder on the drive itself takes the kept copy from the
  // same room.
  const std::optional<std::string> temp = platform.system.TempDirectory();
  if (keptCopy > 0 && temp && temp->size() >= root.size() &&
      platform.system.SamePathIgnoringCase(temp->substr(0, root.size()), root)) {
    peak += static_cast<std::int64_t>(keptCopy);
  }
  if (peak > available) {
    const auto needed = static_cast<std::uint64_t>(peak);
    const auto has = static_cast<std::uint64_t>(available);
    run.RoomCounted(root, needed, has);
    ShowError(platform, Format(kSetNoRoomFormat, letter, SizeInUnits(needed, true).c_str(),
                               SizeInUnits(has).c_str(), SizeInUnits(needed - has, true).c_str()));
    return RunStop::NoRoom;
  }
  const std::optional<std::uint64_t> tempFree =
      keptCopy > 0 && temp ? platform.files.FreeBytes(*temp) : std::nullopt;
  if (tempFree && *tempFree < keptCopy) {
    run.RoomCounted(*temp, keptCopy, *tempFree);
    ShowError(platform,
              Format(kTempNoRoomFormat, NameInMessage(*temp).c_str(),
                     SizeInUnits(keptCopy, true).c_str(), SizeInUnits(*tempFree).c_str()));
    return RunStop::NoRoom;
  }
  return std::nullopt;
}

// Readies the drive for `set` before anything is asked: the refusals that
// can be known without writing, so that a drive that cannot take the set is
// left exactly as it was, then what a killed run left.  Gives why the run
// stops, if it does.
std::optional<RunStop> PrepareDrive(const Platform& platform, const PackageRef& package,
                                    char letter, ModuleSet& set, RunRecord& run) {
  DropSuperseded(platform, letter, set, run);
  if (std::optional<RunStop> refused = ShowVolumeRefusal(platform, letter)) return refused;
  // Every module's name and folder, and the links on its way, before
  // anything is asked or written.
  for (const SetModule& module : set.modules) {
    if (std::optional<RunStop> refused = ShowPlacementRefusal(platform, letter, module.record)) {
      return refused;
    }
  }
  if (ShowSetFileInUse(platform, package, letter, set)) return RunStop::WriteFailed;
  // What a killed run left: its marked staging files go, its whole ones
  // take their place or go, and then its kept copies are healed, with the
  // room the staging files held.
  RemoveLeftovers(platform, letter, set, run);
  for (const std::string& folder : ProbeFolders(platform, letter, set)) {
    for (const std::string& path : RemoveStagingLeftovers(platform, folder)) {
      run.LeftoverRemoved(path);
    }
  }
  const std::vector<KeptCopy> copies = FindKeptCopies(platform, letter, set);
  FinishInterruptedStaging(platform, package, letter, set, copies, run);
  HealKeptCopies(platform, package, copies, run);
  if (std::optional<RunStop> refused = ShowRoomRefusal(platform, package, letter, set, run)) {
    return refused;
  }
  if (std::optional<RunStop> refused = ShowWriteRefusal(platform, letter, set, run)) return refused;
  return std::nullopt;
}

// Installs every module with `setMarker`, newest first; a skipped one still
// counts as handled.  Gives why the run stopped when there is none or one
// stops it; nothing when the set is on the drive.  `lastDestination`
// receives where the last one handled went.
std::optional<RunStop> InstallModuleSet(const Platform& platform, const PackageRef& package,
                                        char letter, const char* setMarker, PageView& view,
                                        RunRecord& run, std::string& lastDestination,
                                        const std::atomic<bool>& stopAsked) {
  run.drive = DriveIdentity(platform, letter);
  ModuleSet set = FindModuleSet(platform, package, setMarker, &run);
  // A damaged record may hide modules of the set or name them wrongly: the
  // set is not what its maker built, so none of it is installed.
  if (set.damaged) {
    ShowError(platform, kDamagedInstaller);
    return RunStop::DamagedModule;
  }
  if (set.modules.empty()) {
    return set.readable ? RunStop::NoModuleSet : RunStop::UnreadablePackage;
  }
  // A search that failed after some modules leaves the set unknown: none
  // of it is written.
  if (!set.readable) return RunStop::UnreadablePackage;
  if (std::optional<RunStop> refused = PrepareDrive(platform, package, letter, set, run))
    return refused;
  RunProgress progress(view, set.totalBytes);
  bool noRoom = !RoomToStageAll(platform, letter, set);
  if (!noRoom) {
    const std::vector<std::string> newFolders = FoldersToCreate(platform, letter, set);
    bool placedAny = false;
    if (std::optional<RunStop> stop =
            InstallStaged(platform, package, letter, set, progress, run, lastDestination, stopAsked,
                          noRoom, placedAny)) {
      // Nothing put in place: the folders made for the set go again, deepest
      // first (one that now holds anything stays).
      if (!placedAny) {
        for (auto folder = newFolders.rbegin(); folder != newFolders.rend(); ++folder) {
          platform.files.RemoveDirectory(*folder);
        }
      }
      return stop;
    }
    if (!noRoom) return std::nullopt;
  }
  progress.Rewind(0);
  return InstallOneByOne(platform, package, letter, set, progress, run, lastDestination, stopAsked);
}

}  // namespace

std::optional<InstallRunResult> InstallPage::FindDriveAgain() {
  const Platform& platform = sheet_.platform();
  DriveModel freshModel = DriveModel::None;
  const char freshLetter = FindTargetDrive(platform, &freshModel);
  if (freshLetter == 0) {
    RefreshStatus();
    ShowNotice(platform, kNoDriveInformation);
    Stopped(RunStop::NoDrive);
    return InstallRunResult::StayOnPage();
  }
  if (freshModel != model_) {
    return InstallRunResult::EndProgram(Ending{NoticeMessage(platform, kDriveChanged), 0});
  }
  // The same drive may have come back under another letter since the page
  // was shown: write where it is now, not where it was, and say so on the
  // page before anything is written.
  if (freshLetter != driveLetter_) {
    driveLetter_ = freshLetter;
    view_.SetText(ids::kPluggedInLine, kPluggedInPrefix + std::string(1, driveLetter_));
  }
  return std::nullopt;
}

void InstallPage::Stopped(RunStop why) {
  if (observer_ != nullptr) observer_->Stopped(why);
}

InstallRunResult InstallPage::OnApply() {
  const Platform& platform = sheet_.platform();
  if (std::optional<InstallRunResult> ended = FindDriveAgain()) return std::move(*ended);
  const char* setMarker = SetMarkerOf(model_);
  if (setMarker == nullptr) {
    Stopped(RunStop::UnsupportedModel);
    return InstallRunResult::StayOnPage();
  }
  std::string lastDestination;
  RunRecord run(observer_);
  stopAsked_ = false;
  if (std::optional<RunStop> stop =
          InstallModuleSet(platform, sheet_.state().package(), driveLetter_, setMarker, view_, run,
                           lastDestination, stopAsked_)) {
    if (*stop != RunStop::StoppedByUser) ShowNotice(platform, kCannotContinue);
    Stopped(*stop);
    return InstallRunResult::StayOnPage();
  }
  ShowNotice(platform, kInstallComplete);
  // Read even while hidden: on the 9x family it is never shown, so never ticked.
  if (view_.IsChecked(ids::kLaunchCheckBox)) {
    const bool started = platform.system.Launch(lastDestination);
    if (!started) {
      const std::string error = GetLastErrorText(platform.system);
      ShowNotice(platform, Format(kCannotLaunchFormat, NameInMessage(lastDestination).c_str(),
                                  error.c_str()));
    }
    if (observer_ != nullptr) observer_->Launched(lastDestination, started);
  }
  return InstallRunResult::CloseSheet();
}

}  // namespace brelvane

// Rules of the install run that stand on their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/fs_helpers.h"
#include "package/module_record.h"
#include "package/package.h"

namespace brelvane {

inline constexpr char kNoDriveInformation[] = "Unable to get Mivora Information!";
inline constexpr char kDriveChanged[] =
    "The Mivora has been changed!. Please restart the application!\r\nGood Bye!";
inline constexpr char kCannotContinue[] = "Unable To Continue Installation!\r\nGood Bye!";
inline constexpr char kAlreadyExistsFormat[] =
    "%s \r\nalready exist!  Delete this file before Installing?";
// A module that could not be written: the file is named with the system's
// words, and what stood there before is still there.
inline constexpr char kCannotWriteFormat[] =
    "Unable to install file:\r\n%s\r\nA file that was there before is unchanged.\r\nError: %s";
// The same where no file was there before.
inline constexpr char kCannotWriteNewFormat[] = "Unable to install file:\r\n%s\r\nError: %s";
// The drive lacks room for a module beside the file it replaces: the drive,
// the file, the bytes needed and the bytes free.
inline constexpr char kNoRoomFormat[] =
    "There is not enough room on drive %c: for\r\n%s\r\nNeeded: %s, free: %s.\r\n"
    "Nothing has been written.";
// The drive lacks room for a module beside the file it replaces, but has
// room for it in that file's place: the drive, the file and where its copy
// is kept meanwhile.
inline constexpr char kKeptCopyFormat[] =
    "There is not enough room on drive %c: for\r\n%s\r\nbeside the file it replaces. That file "
    "is copied to\r\n%s\r\nand then replaced in place. If the new file cannot be written, the "
    "file is put back from that copy.";
// The copy of the file to be replaced could not be kept: the file, the
// temporary folder and the system's words.
inline constexpr char kCannotKeepCopyFormat[] =
    "Unable to keep a copy of\r\n%s\r\nin the temporary folder\r\n%s\r\nError: %s\r\nNothing has "
    "been written.";
// The module could not be written where the file was, and the file could
// not be put back either: the file, why each failed, and where its copy is.
inline constexpr char kNotPutBackFormat[] =
    "Unable to install file:\r\n%s\r\nError: %s\r\nThe file that was there could not be put "
    "back: %s\r\nIts copy is kept at\r\n%s";
inline constexpr char kInstallComplete[] =
    "Thank you for using Quorvix product!\r\nInstallation Complete!";
inline constexpr char kCannotLaunchFormat[] = "Unable execute :%s\r\nSystem Message: %s";
inline constexpr char kUnsafeModuleFormat[] =
    "The module \"%s\" (folder \"%s\") cannot be installed safely: %s.\r\n"
    "It is not installed.";
inline constexpr char kLinkInTheWayFormat[] =
    "The module \"%s\" cannot be installed safely: this is a symbolic link or junction,\r\n%s\r\n"
    "and nothing is written through a link on the drive.\r\nIt is not installed.";
// A folder (or the file) on the way whose attributes cannot be read, so it
// cannot be told from a link: its path and the system's words.
inline constexpr char kUnreadableOnTheWayFormat[] =
    "Unable to get attributes of\r\n%s\r\nError Message: %s";
inline constexpr char kDamagedModuleFormat[] =
    "The module \"%s\" in this installer is damaged: its content does not match its check.\r\n"
    "Obtain a fresh copy of the installer.";
// The installer could not be read while a module was copied from it, or it
// ends inside the module: the module's name and the system's words.
inline constexpr char kUnreadablePackageFormat[] =
    "The module \"%s\" cannot be read from this installer: %s\r\n"
    "Obtain a fresh copy of the installer.";
// The walk over the set stopped on bytes that are no whole module record:
// a record that fails its own check, or an installer cut short (a download
// that stopped halfway).  Nothing it says can be trusted.
inline constexpr char kDamagedInstaller[] =
    "This installer file is damaged or incomplete: a module record in it is cut off or does "
    "not match its check.\r\nNothing is installed. Download the installer again.";
// A file of the set that another program holds open (the utility started
// from the drive, say): it cannot be replaced while it is open.
inline constexpr char kFileInUseFormat[] =
    "Unable to install file:\r\n%s\r\nThe file is in use: a program has it open (Brelvane "
    "itself, when it runs from the drive).\r\nClose that program, then press Install again.";
// A module's folder that cannot be created because a file stands where it
// or a folder above it must go: the folder, the system's words and the file.
inline constexpr char kFolderBlockedFormat[] =
    "Unable to create folder:\r\n%s\r\nError: %s\r\nThis file is in the way:\r\n%s\r\nMove or "
    "rename it, then press Install again.";
// A module's folder that cannot be created for another reason: the folder
// and the system's words.
inline constexpr char kCannotCreateFolderFormat[] =
    "Unable to create folder:\r\n%s\r\nError: %s\r\nMake sure the drive can be written, then "
    "press Install again.";

// The drive cannot take the set, found before anything is written: each
// names the cause and what to do.
inline constexpr char kWriteProtectedFormat[] =
    "Drive %c: is write-protected: nothing can be written on it.\r\nSlide the drive's "
    "write-protect switch to unlock it (or lift its protection), then press Install again.\r\n"
    "Nothing has been written.";
inline constexpr char kDriveLockedFormat[] =
    "Drive %c: is locked by BitLocker Drive Encryption.\r\nUnlock drive %c: in Explorer "
    "(open it and enter its password), then press Install again.\r\nNothing has been written.";
inline constexpr char kWriteDeniedFormat[] =
    "Writing on drive %c: is denied: %s\r\nYour organisation may block writing to USB drives: "
    "ask your administrator.\r\nNothing has been written.";
inline constexpr char kCannotWriteDriveFormat[] =
    "Unable to write on drive %c: %s\r\nNothing has been written.";
// The drive, what the whole set needs (counting what its replaces free,
// each file rounded up to the drive's clusters), what is free, and the
// difference.
inline constexpr char kSetNoRoomFormat[] =
    "There is not enough room on drive %c: for the module set.\r\nNeeded: %s, free: %s. Free "
    "%s more on the drive, then press Install again.\r\nNothing has been written.";
// A replace that can only happen in the old file's place keeps a copy of
// that file in the temporary folder, which lacks room for it.
inline constexpr char kTempNoRoomFormat[] =
    "There is not enough room in the temporary folder\r\n%s\r\nfor a copy of a file the set "
    "replaces. Needed: %s, free: %s.\r\nNothing has been written.";
// Shown on the install page beside the drive, when the volume says so
// without anything being written.
inline constexpr char kWriteProtectedLineFormat[] =
    "Drive %c: is write-protected: slide its switch to unlock it.";
inline constexpr char kLockedLineFormat[] = "Drive %c: is locked: unlock it in Explorer.";
// An antivirus program refused a file of the set: the file and its words.
inline constexpr char kBlockedByAntivirusFormat[] =
    "Unable to install file:\r\n%s\r\nAn antivirus program blocked it: %s\r\nLook in the "
    "antivirus program's quarantine, or ask your administrator, then press Install again.";

// The drive went away while the set was written (pulled out, say): its
// letter, and what to do.
inline constexpr char kDriveRemovedFormat[] =
    "Drive %c: was removed during the install: plug it in again and press Install.";

// The user stopped the run: the file written last, and how many of the
// set's files are on the drive.
inline constexpr char kStoppedByUserFormat[] =
    "The installation was stopped after\r\n%s\r\n%u of %u files of the set are installed; the "
    "others are not.\r\nPress Install to install them.";

// A run killed while it replaced a file on a full drive had removed the
// file: it is put back from the copy it kept (the file, the copy).
inline constexpr char kPutBackFormat[] =
    "An installation that was interrupted had removed\r\n%s\r\nto replace it: the file is put "
    "back from the copy it kept,\r\n%s\r\nThe installation asks about it again.";
// The same where it cannot be put back: where the copy is.
inline constexpr char kKeptCopyLeftFormat[] =
    "An installation that was interrupted kept a copy of\r\n%s\r\nThe copy stays there for "
    "you:\r\n%s";
// The user stopped the run while the set was copied, before any file of it
// took its name.
inline constexpr char kStoppedBeforeReplacing[] =
    "The installation was stopped before any file of the set was put in place: the drive is "
    "as it was.\r\nPress Install to install the set.";

// Why an install run stopped short, besides the messages it shows.
enum class RunStop {
  NoDrive,            // the drive is gone when Install is pressed
  DriveRemoved,       // the drive went away while the set was written
  UnsupportedModel,   // the drive's model has no module set at all
  NoModuleSet,        // the package holds no module of the drive's set
  UnsafeModule,       // a module's name or folder breaks the name rule, or it would replace the
                      // installer itself
  DamagedModule,      // a module's content, or a module record, does not match its check
  UnreadablePackage,  // the package could not be read while the set was sought or copied
  WriteFailed,        // a file could not be written: folder, room, a link on the way, the write
  StoppedByUser,      // the user asked the run to stop; it did after the file being written
  WriteProtected,     // the drive is write-protected (a switch, a read-only mount)
  DriveLocked,        // the drive is a BitLocker drive not yet unlocked
  WriteDenied,        // writing on the drive is denied (a policy, the drive's permissions)
  NoRoom,             // the drive lacks room for the whole set
};

// Told what an install run does, file by file, for a record of it (the
// unattended run's log).  The interactive run has none.
class InstallObserver {
 public:
  virtual ~InstallObserver() = default;
  virtual void FileWritten(const std::string& destination, std::uint64_t size) = 0;
  // The user kept the file that was there, which differs from the module.
  virtual void FileSkipped(const std::string& destination, std::uint64_t size) = 0;
  // The file there already holds the module's bytes and bits: left alone.
  virtual void FileUnchanged(const std::string& destination, std::uint64_t size) = 0;
  // An older module of the set goes to the same file as a newer one, which
  // is the one installed.
  virtual void FileSuperseded(const std::string& destination) = 0;
  virtual void Stopped(RunStop why) = 0;
  // The utility was started (or not) at the end.
  virtual void Launched(const std::string& path, bool started) = 0;
  // A staging file that an interrupted run left was removed.
  virtual void LeftoverRemoved(const std::string& path) = 0;
  // What an interrupted run left was put right: a replace finished, a file
  // or its bits put back, a kept copy named.
  virtual void Healed(const std::string& what) = 0;
  // A module's stored folder is taken in the form Windows gives it
  // (WindowsFolderForm): the folder as stored and as taken.
  virtual void FolderTaken(const std::string& stored, const std::string& taken) = 0;
  // The room counted where a box names it in larger units: the place (a
  // drive's root, the temporary folder), the bytes needed and free.
  virtual void RoomCounted(const std::string& where, std::uint64_t needed, std::uint64_t free) {
    (void)where;
    (void)needed;
    (void)free;
  }
};

// Whether a folder below the drive root on the way to the module's
// destination file, or that file itself, is a symbolic link or junction (the
// run never writes through one) or cannot be told from one.
LinkSearch LinkOnTheWay(const Platform& platform, char letter, const ModuleRecord& record);

// The destination folder ("E:\dir") and file ("E:\dir\name", or "E:\name"
// for an empty folder) of a module on drive `letter`.  The record's 8-bit
// names are read in the ANSI code page.
std::string DestinationDirectory(System& system, char letter, const ModuleRecord& record);
std::string DestinationFile(System& system, char letter, const ModuleRecord& record);
// What the volume behind drive `letter` says of itself, before anything is
// written: a read-only one (a write-protect switch, a policy that mounts it
// so), one that BitLocker keeps locked, or neither (a volume that does not
// answer is written on: the first write finds out).
enum class VolumeState { Writable, ReadOnly, Locked };
VolumeState DriveVolumeState(const Platform& platform, char letter);

// The destination files of the modules with `setMarker` in the package, as
// far as the package can be read; nothing is shown or written.
std::vector<std::string> SetDestinations(const Platform& platform, const PackageRef& package,
                                         char letter, const char* setMarker);

}  // namespace brelvane

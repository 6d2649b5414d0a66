// The platform seam: every call the portable core makes into the operating
// system goes through one of the small interfaces below.  The core speaks
// Windows paths ("E:\dir\file"), Windows error codes and Windows attribute
// bits; a backend translates (POSIX simulation) or passes them through (Win32).
//
// Conventions shared by every operation:
//  - a failing call returns the failure value named on it and leaves the
//    Windows error code in System::LastError(), as Win32 does;
//  - nothing here throws, and nothing here shows anything to the user
//    except Prompts;
//  - paths and texts are the backend's own narrow form: UTF-8 on Windows
//    (any name the system can hold), the host's bytes in the simulation.
//    Names stored in module records are 8-bit text of the ANSI code page
//    and pass FromAnsi/ToAnsi on their way to and from a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brelvane {

// ---- Windows constants the core needs (values as the system defines them) --
namespace win {
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorWriteProtect = 19;
inline constexpr std::uint32_t kErrorReadFault = 30;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorLockViolation = 33;
inline constexpr std::uint32_t kErrorHandleDiskFull = 39;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorInvalidName = 123;
// An antivirus refused the file: it holds a virus, or the antivirus removed it.
inline constexpr std::uint32_t kErrorVirusInfected = 225;
inline constexpr std::uint32_t kErrorVirusDeleted = 226;
inline constexpr std::uint32_t kErrorNegativeSeek = 131;
inline constexpr std::uint32_t kErrorDirNotEmpty = 145;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorFilenameExcedRange = 206;
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorDirectory = 267;
// Not a regular file: a FIFO, a device or a console stands where a file
// was expected.
inline constexpr std::uint32_t kErrorBadFileType = 222;
// A symbolic link or junction stands where nothing may be followed.
inline constexpr std::uint32_t kErrorStoppedOnSymlink = 681;
// FVE_E_LOCKED_VOLUME: a BitLocker volume that has not been unlocked yet.
inline constexpr std::uint32_t kFveLockedVolume = 0x80310000u;

inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrSystem = 0x04;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;
inline constexpr std::uint32_t kAttrNormal = 0x80;
// A symbolic link or junction (reported for the link itself, not followed).
inline constexpr std::uint32_t kAttrReparsePoint = 0x400;
inline constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// Message box style values and answers.
inline constexpr std::uint32_t kMbOk = 0x00;
inline constexpr std::uint32_t kMbOkCancel = 0x01;
inline constexpr std::uint32_t kMbYesNo = 0x04;
inline constexpr std::uint32_t kMbIconHand = 0x10;
inline constexpr std::uint32_t kMbIconQuestion = 0x20;
inline constexpr std::uint32_t kMbIconInformation = 0x40;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

inline constexpr int kVerPlatformWin32Windows = 1;
inline constexpr int kVerPlatformWin32Nt = 2;

// Registry.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

// STORAGE_BUS_TYPE of a disk attached through USB (mass storage or UAS).
inline constexpr std::uint32_t kBusTypeUsb = 7;

// The buses a machine file and discovery's explanation name in words
// (STORAGE_BUS_TYPE); any other is written as its number.
struct BusName {
  const char* name;
  std::uint32_t type;
};
inline constexpr BusName kBusNames[] = {
    {"scsi", 1}, {"ata", 3},      {"raid", 8},  {"sata", 11},
    {"sd", 12},  {"virtual", 14}, {"nvme", 17}, {"usb", kBusTypeUsb},
};
}  // namespace win

// ---- Files -----------------------------------------------------------------

// A low-level file descriptor as the C runtime hands it out; -1 is none.
using FileHandle = int;
inline constexpr FileHandle kNoFile = -1;

enum class SeekFrom { Begin = 0, Current = 1, End = 2 };

// Readers share a package; a writer holds it alone.
enum class LockMode { Shared, Exclusive };

// Which file a name stands for: two names of one file (hard links included)
// give the same identity.  Volume serial and file index on Windows, device
// and inode on POSIX.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  // How many names the file has (hard links); not part of its identity.
  std::uint32_t links = 1;
  bool operator==(const FileId& other) const {
    return volume == other.volume && index == other.index;
  }
};

// What a volume says of itself (GetVolumeInformation and GetDiskFreeSpace;
// statvfs in the simulation).
struct VolumeFacts {
  // Mounted read-only: a write-protect switch, or a policy that mounts
  // removable drives that way.
  bool readOnly = false;
  // The allocation unit a file's size is rounded up to; 0 when unknown.
  std::uint32_t clusterBytes = 0;
};

struct DirEntry {
  std::string name;          // as the directory search reports it, "." and ".." included
  std::uint32_t attributes;  // Windows attribute bits (0x10 for a directory)
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The opens of existing files take regular files only: a FIFO, a device
  // or a console fails at once (without blocking) with kErrorBadFileType.

  // Binary, read-only open (_open with _O_RDONLY | _O_BINARY).
  virtual FileHandle OpenRead(const std::string& path) = 0;
  // Read-only open that grants no sharing to others: fails with a sharing
  // violation while anybody else has the file open.  Used for "can this file
  // be opened right now" tests.
  virtual FileHandle OpenReadExclusive(const std::string& path) = 0;
  // Binary, write-only exclusive create (_O_CREAT | _O_EXCL): fails when any
  // entry already has the name.  The new file is an ordinary writable file.
  virtual FileHandle CreateExclusive(const std::string& path) = 0;
  // The same create, the file carrying `attributes` from the moment its name
  // appears, so that no interruption leaves it under its name without them.
  // By default a create followed by SetAttributes, for a backend that cannot
  // do both at once.
  virtual FileHandle CreateExclusiveWithAttributes(const std::string& path,
                                                   std::uint32_t attributes) {
    const FileHandle file = CreateExclusive(path);
    if (file != kNoFile) SetAttributes(path, attributes);
    return file;
  }
  // Binary open of an existing file in append mode: every write lands at the
  // end, wherever the position stands; reads go where the position says.
  virtual FileHandle OpenAppend(const std::string& path) = 0;
  // Binary read-write open of an existing file: writes land where the
  // position stands (rewriting a header in place).
  virtual FileHandle OpenUpdate(const std::string& path) = 0;

  // Byte count read (0 at end of file) or -1.
  virtual std::int64_t Read(FileHandle file, void* buffer, std::size_t size) = 0;
  // Byte count written or -1; fewer bytes than asked is a short write.
  virtual std::int64_t Write(FileHandle file, const void* buffer, std::size_t size) = 0;
  // New position or -1.
  virtual std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) = 0;
  // Current length of an open file or -1.
  virtual std::int64_t Length(FileHandle file) = 0;
  // Cuts an open file back to `length` bytes (undoing a partial append).
  virtual bool Truncate(FileHandle file, std::int64_t length) = 0;
  // Holds or releases a lock over the whole file; Lock waits until the lock
  // is granted or fails.  A shared lock needs a handle open for reading, an
  // exclusive one a handle open for writing.
  virtual bool Lock(FileHandle file, LockMode mode) = 0;
  virtual bool Unlock(FileHandle file) = 0;
  // Commits what was written through the handle to the disk (fsync,
  // FlushFileBuffers).
  virtual bool Flush(FileHandle file) = 0;
  virtual bool Close(FileHandle file) = 0;

  // GetFileAttributes: the bits, or win::kInvalidAttributes.  A symbolic
  // link or junction reports its own bits with kAttrReparsePoint.
  virtual std::uint32_t GetAttributes(const std::string& path) = 0;
  // SetFileAttributes.
  virtual bool SetAttributes(const std::string& path, std::uint32_t attributes) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;
  virtual bool CreateDirectory(const std::string& path) = 0;
  virtual bool RemoveDirectory(const std::string& path) = 0;
  // FindFirstFile/FindNextFile over `pattern` (a directory followed by
  // "\*.*"): every entry in the order the system delivers it, or nullopt when
  // the search cannot start.
  virtual std::optional<std::vector<DirEntry>> FindFiles(const std::string& pattern) = 0;
  // PathFileExists and PathIsDirectory.
  virtual bool Exists(const std::string& path) = 0;
  virtual bool IsDirectory(const std::string& path) = 0;
  // The identity of the file or directory `path` names, links followed; or
  // nullopt when it cannot be reached.
  virtual std::optional<FileId> Identify(const std::string& path) = 0;

  // Renames the file `from` to `to` in the same folder in one step
  // (MoveFileEx with write-through; rename and a flush of the folder on
  // POSIX).  Without `replaceExisting` it fails with kErrorAlreadyExists
  // when any entry has the name `to`; with it, it takes the place of the
  // file there (a read-only or hidden one too).  Only the folder's entry
  // changes: a link at `to` is replaced itself, nothing is written through
  // one, and other names of a replaced file keep its content and
  // attributes.  A directory at `to` is never replaced.
  //
  // On POSIX the calls that write (CreateExclusive, SetAttributes,
  // DeleteFile, MoveIntoPlace) reach their entry's folder from the drive's
  // folder without following a link: a link on the way fails with
  // kErrorStoppedOnSymlink.
  virtual bool MoveIntoPlace(const std::string& from, const std::string& to,
                             bool replaceExisting) = 0;
  // The bytes the caller may still write on the volume that holds `folder`
  // (GetDiskFreeSpaceEx), or nullopt.
  virtual std::optional<std::uint64_t> FreeBytes(const std::string& folder) = 0;
  // What the volume that holds `folder` says of itself, or nullopt with the
  // system's code (a locked BitLocker volume answers kFveLockedVolume).
  virtual std::optional<VolumeFacts> DescribeVolume(const std::string& folder) = 0;
};

// ---- System ----------------------------------------------------------------

// What the storage stack says of the volume behind a drive letter.
struct VolumeStorage {
  std::uint32_t bus_type = 0;  // the disk's STORAGE_BUS_TYPE (win::kBusTypeUsb for USB)
  // The disk's vendor and product as its device descriptor spells them,
  // blanks at either end trimmed; empty when the disk names none.
  std::string vendor;
  std::string product;
  std::uint32_t disk_number = 0;  // which disk holds the volume
  // Where the volume's partition starts on that disk, when the stack says.
  std::optional<std::uint64_t> partition_offset;
  bool operator==(const VolumeStorage&) const = default;
};

// The local wall-clock time (GetLocalTime, localtime_r).
struct LocalTime {
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

class System {
 public:
  virtual ~System() = default;

  // GetLastError / SetLastError of the calling thread.
  virtual std::uint32_t LastError() = 0;
  virtual void SetLastError(std::uint32_t code) = 0;
  // FormatMessageA(0x1300, ..., code, 0x400): the system's own text, with
  // its line break; empty when the system has none.
  virtual std::string ErrorText(std::uint32_t code) = 0;
  // GetVersionExA's platform id (1 for the 9x family, 2 for NT); 0 when the
  // call fails.
  virtual int PlatformId() = 0;
  // The length of CurrentDirectory's answer counting the terminating zero,
  // or 0 on failure.
  virtual std::uint32_t CurrentDirectoryLength() = 0;
  // GetCurrentDirectory: the directory, or nullopt on failure.
  virtual std::optional<std::string> CurrentDirectory() = 0;
  // GetModuleFileName(nullptr): the running program's full path, or nullopt.
  virtual std::optional<std::string> OwnExecutablePath() = 0;
  // GetTempPath: the folder for temporary files, with its closing
  // separator; nullopt on failure.
  virtual std::optional<std::string> TempDirectory() = 0;
  // The local time now.
  virtual LocalTime Now() = 0;
  // Waits `milliseconds` (Sleep, nanosleep): a short, bounded wait before a
  // call is tried again.
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // GetLogicalDrives: bit 0 for A.
  virtual std::uint32_t LogicalDrives() = 0;
  // The storage stack's answer for the volume at `letter` (\\.\X: opened
  // without access rights; IOCTL_STORAGE_QUERY_PROPERTY for the disk's bus,
  // vendor and product, IOCTL_STORAGE_GET_DEVICE_NUMBER for which disk,
  // IOCTL_DISK_GET_PARTITION_INFO_EX for the partition's offset); nullopt
  // when the volume cannot be opened or the disk's queries fail.
  virtual std::optional<VolumeStorage> QueryVolumeStorage(char letter) = 0;
  // WideCharToMultiByte(CP_ACP, 0, ...) of `units` UTF-16 code units.
  virtual std::string WideToAnsi(const std::uint16_t* units, std::size_t count) = 0;
  // 8-bit text of the ANSI code page (a module record's name or folder) in
  // the form paths take here, so a name lands where the ANSI calls put it.
  virtual std::string FromAnsi(const std::string& bytes) = 0;
  // The reverse, for a name about to be stored in a record; nullopt when a
  // character has no form in the ANSI code page.
  virtual std::optional<std::string> ToAnsi(const std::string& text) = 0;
  // Whether two paths name the same file as the system spells paths: equal
  // but for letter case, as the system folds it (on Windows its ordinal
  // comparison ignoring case, so "\xc3\x89" and "\xc3\xa9" match; the
  // simulation folds as platform/case_fold.h does).
  virtual bool SamePathIgnoringCase(const std::string& a, const std::string& b) = 0;
  // ShellExecuteEx with the default verb, SW_SHOWNORMAL and the program's
  // icon; does not wait for the started program.
  virtual bool Launch(const std::string& path) = 0;
  // Runs the program `arguments[0]` (found as the system finds a command:
  // by its path, or on PATH) with the others as its arguments, each passed
  // as it is, no shell between, and waits for it to end: its exit code, or
  // nothing when it cannot be started (LastError says why).  It shares the
  // caller's console and standard handles.
  virtual std::optional<int> RunProgram(const std::vector<std::string>& arguments) = 0;
  // The shell's light-weight path routines (shlwapi).
  // PathStripPath: what follows the last path separator.
  virtual std::string StripPath(const std::string& path) = 0;
  // PathSkipRoot: the index just past the root ("X:\" or "\\server\share\"),
  // or nullopt when the path has no root.
  virtual std::optional<std::size_t> SkipRoot(const std::string& path) = 0;
  // PathIsUNC.
  virtual bool IsUnc(const std::string& path) = 0;
  // Ends the process at once with `code`.  Only a front-end calls it, to carry
  // out an ending that page logic gave (app/page_ending.h).
  [[noreturn]] virtual void ExitProcess(int code) = 0;
};

// ---- Registry (read-only) --------------------------------------------------

// An open key, or one of the predefined roots below.  0 is no key.
using RegKey = std::uintptr_t;
inline constexpr RegKey kNoKey = 0;
inline constexpr RegKey kHkeyLocalMachine = 0x80000002u;
inline constexpr RegKey kHkeyDynData = 0x80000006u;

class Registry {
 public:
  virtual ~Registry() = default;
  // RegOpenKeyExA(parent, subkey, 0, access, out): a Windows error code.
  virtual long OpenKey(RegKey parent, const std::string& subkey, std::uint32_t access,
                       RegKey* out) = 0;
  // RegEnumKeyExA(key, index, name, &size, ...): `name_capacity` is the size
  // of the caller's name buffer in characters with its terminator; a longer
  // name fails with ERROR_MORE_DATA, an index past the end with
  // ERROR_NO_MORE_ITEMS.
  virtual long EnumKey(RegKey key, std::uint32_t index, std::size_t name_capacity,
                       std::string* name) = 0;
  // RegQueryValueExA(key, name, 0, type, data, &size): copies the raw data
  // into `data` (at most `*size` bytes), stores its length in `*size`; data
  // larger than the buffer fails with ERROR_MORE_DATA, a missing value with
  // ERROR_FILE_NOT_FOUND.  String data includes its terminating zero.
  virtual long QueryValue(RegKey key, const std::string& name, std::uint32_t* type,
                          std::uint8_t* data, std::uint32_t* size) = 0;
  virtual long CloseKey(RegKey key) = 0;
};

// ---- Prompts ---------------------------------------------------------------

struct Message {
  std::string text;
  std::string caption;
  std::uint32_t style = win::kMbOk;  // MB_* value, e.g. 0x10, 0x24, 0x21
  bool owned_by_page = false;        // a page's own box rather than the application's
  bool plain = false;                // shown with its style alone, no icon added
};

class Prompts {
 public:
  virtual ~Prompts() = default;
  // A modal message box: the answer (win::kIdOk, kIdCancel, kIdYes, kIdNo).
  virtual int Show(const Message& message) = 0;
  // The wait cursor: shown between Begin and End; scopes nest.
  virtual void BeginWait() = 0;
  virtual void EndWait() = 0;
};

// One value handed to the core: the backends it works through.
struct Platform {
  FileSystem& files;
  System& system;
  Registry& registry;
  Prompts& prompts;
};

// RAII for a file handle: closes it unless released.
class ScopedFile {
 public:
  ScopedFile(FileSystem& files, FileHandle handle) : files_(&files), handle_(handle) {}
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  ~ScopedFile() { Reset(); }
  FileHandle get() const { return handle_; }
  bool valid() const { return handle_ != kNoFile; }
  // Closes now; the result of the close.
  bool Reset() {
    bool ok = true;
    if (handle_ != kNoFile) ok = files_->Close(handle_);
    handle_ = kNoFile;
    return ok;
  }
  // Hands the handle on, open, for the caller to close.
  FileHandle Release() {
    const FileHandle handle = handle_;
    handle_ = kNoFile;
    return handle;
  }

 private:
  FileSystem* files_;
  FileHandle handle_;
};

// RAII for an open registry key.
class ScopedKey {
 public:
  explicit ScopedKey(Registry& registry) : registry_(&registry) {}
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  ~ScopedKey() { Reset(); }
  // Opens `subkey` under `parent`; true on success.
  bool Open(RegKey parent, const std::string& subkey, std::uint32_t access) {
    Reset();
    RegKey key = kNoKey;
    if (registry_->OpenKey(parent, subkey, access, &key) != 0) return false;
    key_ = key;
    return true;
  }
  RegKey get() const { return key_; }
  void Reset() {
    if (key_ != kNoKey) registry_->CloseKey(key_);
    key_ = kNoKey;
  }

 private:
  Registry* registry_;
  RegKey key_ = kNoKey;
};

// RAII for the wait cursor.
class WaitCursor {
 public:
  explicit WaitCursor(Prompts& prompts) : prompts_(prompts) { prompts_.BeginWait(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
  ~WaitCursor() { prompts_.EndWait(); }

 private:
  Prompts& prompts_;
};

}  // namespace brelvane

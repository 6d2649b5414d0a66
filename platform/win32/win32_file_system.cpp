#include "platform/win32/win32_file_system.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#include <shlwapi.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/win32/win32_text.h"

// Paths arrive as UTF-8 and go to the wide-character calls, so a folder the
// ANSI code page cannot name still opens.

// The seam's operation names, not the headers' A/W macros.
#undef DeleteFile
#undef CreateDirectory
#undef RemoveDirectory

namespace brelvane {
namespace {

// The C runtime sets errno; the system call beneath it usually leaves the
// Windows code as well.  When it did not (the runtime refused on its own),
// the code comes from errno.
DWORD CodeFromErrno(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EACCES: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EMFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_INVALID_PARAMETER;
  }
}

// Runs a C runtime call that signals failure with -1 and makes sure the
// last error holds a Windows code afterwards.
// A call that succeeds leaves the code as it was before.
template <typename Call>
auto WithLastError(Call call) {
  const DWORD before = ::GetLastError();
  ::SetLastError(ERROR_SUCCESS);
  errno = 0;
  auto result = call();
  if (result >= 0) {
    ::SetLastError(before);
  } else if (::GetLastError() == ERROR_SUCCESS) {
    ::SetLastError(CodeFromErrno(errno));
  }
  return result;
}

unsigned ChunkSize(std::size_t size) {
  return size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
}

HANDLE OsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(::_get_osfhandle(file)); }

// Only files on a disk are packages or modules: a pipe, a console or a
// device opened by name is closed again and refused.
FileHandle RegularOnly(FileHandle file) {
  if (file < 0) return file;
  if (::GetFileType(OsHandle(file)) == FILE_TYPE_DISK) return file;
  ::_close(file);
  ::SetLastError(ERROR_BAD_FILE_TYPE);
  return kNoFile;
}

}  // namespace

FileHandle Win32FileSystem::OpenRead(const std::string& path) {
  return RegularOnly(WithLastError(
      [&] { return ::_wopen(win32text::Widen(path).c_str(), _O_RDONLY | _O_BINARY); }));
}

FileHandle Win32FileSystem::OpenReadExclusive(const std::string& path) {
  return RegularOnly(WithLastError([&] {
    return ::_wsopen(win32text::Widen(path).c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW);
  }));
}

FileHandle Win32FileSystem::CreateExclusive(const std::string& path) {
  return WithLastError([&] {
    return ::_wopen(win32text::Widen(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                    _S_IREAD | _S_IWRITE);
  });
}

FileHandle Win32FileSystem::CreateExclusiveWithAttributes(const std::string& path,
                                                          std::uint32_t attributes) {
  // The system creates the file with its bits, so that its name never
  // appears without them: a run killed right after the create leaves a file
  // the next run knows.  Shared as the runtime's own create shares.
  const DWORD bits = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                   FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  HANDLE handle = ::CreateFileW(win32text::Widen(path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                bits != 0 ? bits : FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return kNoFile;
  const int file = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (file < 0) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    ::DeleteFileW(win32text::Widen(path).c_str());
    ::SetLastError(error != ERROR_SUCCESS ? error : ERROR_TOO_MANY_OPEN_FILES);
    return kNoFile;
  }
  return file;
}

FileHandle Win32FileSystem::OpenAppend(const std::string& path) {
  return RegularOnly(WithLastError(
      [&] { return ::_wopen(win32text::Widen(path).c_str(), _O_RDWR | _O_APPEND | _O_BINARY); }));
}

FileHandle Win32FileSystem::OpenUpdate(const std::string& path) {
  return RegularOnly(
      WithLastError([&] { return ::_wopen(win32text::Widen(path).c_str(), _O_RDWR | _O_BINARY); }));
}

std::int64_t Win32FileSystem::Read(FileHandle file, void* buffer, std::size_t size) {
  return WithLastError([&] { return ::_read(file, buffer, ChunkSize(size)); });
}

std::int64_t Win32FileSystem::Write(FileHandle file, const void* buffer, std::size_t size) {
  int written = WithLastError([&] { return ::_write(file, buffer, ChunkSize(size)); });
  // A short write means the disk is full.
  if (written >= 0 && static_cast<std::size_t>(written) < size) ::SetLastError(ERROR_DISK_FULL);
  return written;
}

std::int64_t Win32FileSystem::Seek(FileHandle file, std::int64_t offset, SeekFrom from) {
  int origin = from == SeekFrom::Begin ? SEEK_SET : from == SeekFrom::Current ? SEEK_CUR : SEEK_END;
  return WithLastError([&] { return ::_lseeki64(file, offset, origin); });
}

std::int64_t Win32FileSystem::Length(FileHandle file) {
  return WithLastError([&] { return ::_filelengthi64(file); });
}

bool Win32FileSystem::Truncate(FileHandle file, std::int64_t length) {
  const DWORD before = ::GetLastError();
  ::SetLastError(ERROR_SUCCESS);
  errno_t error = ::_chsize_s(file, length);
  if (error == 0) {
    ::SetLastError(before);
    return true;
  }
  if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(CodeFromErrno(error));
  return false;
}

bool Win32FileSystem::Lock(FileHandle file, LockMode mode) {
  HANDLE handle = OsHandle(file);
  if (handle == INVALID_HANDLE_VALUE) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  OVERLAPPED from_start{};
  const DWORD flags = mode == LockMode::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  return ::LockFileEx(handle, flags, 0, MAXDWORD, MAXDWORD, &from_start) != 0;
}

bool Win32FileSystem::Unlock(FileHandle file) {
  HANDLE handle = OsHandle(file);
  if (handle == INVALID_HANDLE_VALUE) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  OVERLAPPED from_start{};
  return ::UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &from_start) != 0;
}

bool Win32FileSystem::Flush(FileHandle file) {
  HANDLE handle = OsHandle(file);
  if (handle == INVALID_HANDLE_VALUE) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return ::FlushFileBuffers(handle) != 0;
}

bool Win32FileSystem::Close(FileHandle file) {
  return WithLastError([&] { return ::_close(file); }) == 0;
}

std::uint32_t Win32FileSystem::GetAttributes(const std::string& path) {
  return ::GetFileAttributesW(win32text::Widen(path).c_str());
}

bool Win32FileSystem::SetAttributes(const std::string& path, std::uint32_t attributes) {
  return ::SetFileAttributesW(win32text::Widen(path).c_str(), attributes) != 0;
}

bool Win32FileSystem::DeleteFile(const std::string& path) {
  return ::DeleteFileW(win32text::Widen(path).c_str()) != 0;
}

bool Win32FileSystem::CreateDirectory(const std::string& path) {
  return ::CreateDirectoryW(win32text::Widen(path).c_str(), nullptr) != 0;
}

bool Win32FileSystem::RemoveDirectory(const std::string& path) {
  return ::RemoveDirectoryW(win32text::Widen(path).c_str()) != 0;
}

std::optional<std::vector<DirEntry>> Win32FileSystem::FindFiles(const std::string& pattern) {
  WIN32_FIND_DATAW data{};
  HANDLE search = ::FindFirstFileW(win32text::Widen(pattern).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<DirEntry> entries;
  do {
    entries.push_back({win32text::Narrow(data.cFileName), data.dwFileAttributes});
  } while (::FindNextFileW(search, &data));
  ::FindClose(search);
  return entries;
}

bool Win32FileSystem::Exists(const std::string& path) {
  return ::PathFileExistsW(win32text::Widen(path).c_str()) != 0;
}

bool Win32FileSystem::IsDirectory(const std::string& path) {
  return ::PathIsDirectoryW(win32text::Widen(path).c_str()) != 0;
}

std::optional<FileId> Win32FileSystem::Identify(const std::string& path) {
  // No access but the attributes, shared with everybody; directories need
  // the backup-semantics flag to be opened at all.
  HANDLE handle = ::CreateFileW(win32text::Widen(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
  const DWORD error = ::GetLastError();
  ::CloseHandle(handle);
  if (!known) {
    ::SetLastError(error);
    return std::nullopt;
  }
  return FileId{info.dwVolumeSerialNumber,
                (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
                info.nNumberOfLinks};
}

namespace {

constexpr DWORD kBitsInTheWay =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// A handle closed on scope exit.
struct ScopedHandle {
  HANDLE handle = INVALID_HANDLE_VALUE;
  explicit ScopedHandle(HANDLE h) : handle(h) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Close(); }
  bool valid() const { return handle != INVALID_HANDLE_VALUE; }
  void Close() {
    if (valid()) ::CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
};

// The file at a name as itself (a link is not followed), for its
// attributes only; every kind of sharing is granted.
HANDLE OpenForAttributes(const std::wstring& path) {
  return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                       nullptr);
}

bool SetBasicInfo(HANDLE file, FILE_BASIC_INFO info) {
  return ::SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof info) != 0;
}

// What a replace changed on the old file before the rename: its read-only,
// hidden and system bits, which stop MoveFileEx.  Kept to give them back to
// the file's other names (hard links) or to the old file after a failure.
struct ClearedBits {
  FILE_BASIC_INFO before{};
  BY_HANDLE_FILE_INFORMATION identity{};
  bool cleared = false;
  // The file lives on under other names once this one is replaced.
  bool shared() const { return cleared && identity.nNumberOfLinks > 1; }
};

// Clears the bits in the way through `old`, the file at the name (invalid:
// none there, which is fine).
bool ClearBitsInTheWay(const ScopedHandle& old, ClearedBits& bits) {
  if (!old.valid()) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  if (!::GetFileInformationByHandleEx(old.handle, FileBasicInfo, &bits.before,
                                      sizeof bits.before) ||
      !::GetFileInformationByHandle(old.handle, &bits.identity)) {
    return false;
  }
  if ((bits.before.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if ((bits.before.FileAttributes & kBitsInTheWay) == 0) return true;
  FILE_BASIC_INFO plain = bits.before;
  plain.FileAttributes &= ~kBitsInTheWay;
  if (plain.FileAttributes == 0) plain.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!SetBasicInfo(old.handle, plain)) return false;
  bits.cleared = true;
  return true;
}

// Gives the old file its bits back, reaching it by its identity: after the
// rename its only names are its other hard links.  `folder` is any handle
// on the same volume.
void RestoreBitsById(const std::wstring& folder, const ClearedBits& bits) {
  ScopedHandle hint(::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!hint.valid()) return;
  FILE_ID_DESCRIPTOR id{};
  id.dwSize = sizeof id;
  id.Type = FileIdType;
  id.FileId.QuadPart = static_cast<LONGLONG>(
      (static_cast<ULONGLONG>(bits.identity.nFileIndexHigh) << 32) | bits.identity.nFileIndexLow);
  ScopedHandle old(::OpenFileById(hint.handle, &id, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS));
  if (old.valid()) SetBasicInfo(old.handle, bits.before);
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? L"." : path.substr(0, cut + 1);
}

bool MoveReplacing(const std::wstring& from, const std::wstring& to) {
  return ::MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// FileRenameInfoEx and its flags (Windows 10 1607 and later; the flag that
// ignores the read-only bit from 1809).  The headers for Windows 7 name none
// of them.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kRenameReplaceIfExists = 0x00000001;
constexpr DWORD kRenameIgnoreReadOnly = 0x00000040;

// Renames `from` to `to` in its own folder, taking the place of the file
// there however it is marked, and without changing that file's bits.  False
// with nothing changed where the system or the volume does not know the
// flags (older Windows, Wine, some file systems) or the rename fails.
bool RenameIgnoringReadOnly(const std::wstring& from, const std::wstring& to) {
  const std::size_t cut = to.find_last_of(L"\\/");
  if (cut == std::wstring::npos || FolderOf(from) != FolderOf(to)) return false;
  // A bare name renames within the file's own folder.
  const std::wstring name = to.substr(cut + 1);
  if (name.empty()) return false;
  ScopedHandle source(::CreateFileW(
      from.c_str(), DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!source.valid()) return false;
  const std::size_t nameBytes = name.size() * sizeof(wchar_t);
  const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t);
  // The flags share the first field with ReplaceIfExists; the buffer is
  // aligned for the structure's pointer-sized field.
  std::vector<std::uint64_t> buffer((size + 7) / 8, 0);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  const DWORD flags = kRenameReplaceIfExists | kRenameIgnoreReadOnly;
  std::memcpy(info, &flags, sizeof flags);
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(info->FileName, name.c_str(), nameBytes);
  return ::SetFileInformationByHandle(source.handle, kFileRenameInfoEx, info,
                                      static_cast<DWORD>(buffer.size() * 8)) != 0;
}

}  // namespace

bool Win32FileSystem::MoveIntoPlace(const std::string& from, const std::string& to,
                                    bool replaceExisting) {
  const std::wstring wideFrom = win32text::Widen(from);
  const std::wstring wideTo = win32text::Widen(to);
  if (!replaceExisting) {
    return ::MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
  }
  // The old file's bits are kept where the system lets the rename take a
  // read-only file's place (Windows 10 1809 and later), or takes it anyway
  // (Wine): a process killed at any moment then leaves the old file as it
  // was or the new one.
  if (RenameIgnoringReadOnly(wideFrom, wideTo) || MoveReplacing(wideFrom, wideTo)) return true;
  const DWORD refused = ::GetLastError();
  ScopedHandle old(OpenForAttributes(wideTo));
  ClearedBits bits;
  if (!ClearBitsInTheWay(old, bits)) return false;
  // Nothing stood in the rename's way but what the system refused for.
  if (!bits.cleared) {
    ::SetLastError(refused);
    return false;
  }
  // The system refuses to replace a file that is open.
  old.Close();
  if (!MoveReplacing(wideFrom, wideTo)) {
    const DWORD error = ::GetLastError();
    if (bits.cleared) {
      ScopedHandle again(OpenForAttributes(wideTo));
      if (again.valid()) SetBasicInfo(again.handle, bits.before);
    }
    ::SetLastError(error);
    return false;
  }
  // Hard links never cross volumes: the other names are on this drive.
  if (bits.shared()) RestoreBitsById(FolderOf(wideTo), bits);
  return true;
}

std::optional<std::uint64_t> Win32FileSystem::FreeBytes(const std::string& folder) {
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(win32text::Widen(folder).c_str(), &available, nullptr, nullptr)) {
    return std::nullopt;
  }
  return available.QuadPart;
}

std::optional<VolumeFacts> Win32FileSystem::DescribeVolume(const std::string& folder) {
  // The volume's root ("E:\\", or a mount point's folder): the questions
  // below take only a root.
  const std::wstring wide = win32text::Widen(folder);
  wchar_t root[MAX_PATH + 1] = {};
  if (!::GetVolumePathNameW(wide.c_str(), root, MAX_PATH)) return std::nullopt;
  DWORD flags = 0;
  if (!::GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
    return std::nullopt;
  }
  VolumeFacts facts;
  facts.readOnly = (flags & FILE_READ_ONLY_VOLUME) != 0;
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  DWORD clusters = 0;
  if (::GetDiskFreeSpaceW(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) {
    facts.clusterBytes = sectorsPerCluster * bytesPerSector;
  }
  return facts;
}

}  // namespace brelvane

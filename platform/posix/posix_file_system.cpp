#include "platform/posix/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "platform/posix/posix_error.h"

namespace brelvane {
namespace {

// Hidden and system live in this extended attribute as "0x" and the hex bits,
// the form Wine uses, so a folder written by either side reads the same on
// the other.  Read-only lives in the write permission bits; every file shows
// the archive bit (Wine keeps no other record of it).
constexpr const char* kDosAttributeName = "user.DOSATTRIB";
constexpr std::uint32_t kStoredBits = win::kAttrHidden | 0x04;  // hidden, system

bool Fail(std::uint32_t code) {
  SetPosixLastError(code);
  return false;
}

FileHandle FailHandle(std::uint32_t code) {
  SetPosixLastError(code);
  return kNoFile;
}

bool IsDirectoryHost(const std::string& host) {
  struct stat st {};
  return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentOf(const std::string& host) {
  std::size_t slash = host.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return host.substr(0, slash);
}

// Windows tells a missing file (its folder exists) from a missing path.
std::uint32_t MissingCode(const std::string& host) {
  return IsDirectoryHost(ParentOf(host)) ? win::kErrorFileNotFound : win::kErrorPathNotFound;
}

std::uint32_t CodeForErrno(int error, const std::string& host) {
  if (error == ENOENT) return MissingCode(host);
  return WindowsCodeFromErrno(error);
}

// Errors of calls on an open descriptor: a descriptor that is open but lacks
// the access asked for is refused as Windows refuses the handle.
std::uint32_t CodeForHandleErrno(int error, int fd) {
  if ((error == EBADF || error == EINVAL) && ::fcntl(fd, F_GETFD) != -1)
    return win::kErrorAccessDenied;
  return WindowsCodeFromErrno(error);
}

bool IsReadOnlyMode(mode_t mode) { return (mode & 0222) == 0; }

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool MatchesFrom(const std::string& name, std::size_t n, const std::string& pattern,
                 std::size_t p) {
  while (p < pattern.size()) {
    if (pattern[p] == '*') {
      for (std::size_t rest = n; rest <= name.size(); ++rest) {
        if (MatchesFrom(name, rest, pattern, p + 1)) return true;
      }
      return false;
    }
    if (n == name.size()) return false;
    if (pattern[p] != '?' && Upper(pattern[p]) != Upper(name[n])) return false;
    ++n;
    ++p;
  }
  return n == name.size();
}

// Directory-search matching: case-insensitive, and a pattern ending in ".*"
// also takes names without an extension ("*.*" takes every name).
bool MatchesPattern(const std::string& name, const std::string& pattern) {
  if (MatchesFrom(name, 0, pattern, 0)) return true;
  return pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
         MatchesFrom(name, 0, pattern.substr(0, pattern.size() - 2), 0);
}

// The order Windows delivers entries of a search: dot entries first, then by
// name compared in upper case.
bool ComesBefore(const DirEntry& a, const DirEntry& b) {
  auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
  if (rank(a.name) != rank(b.name)) return rank(a.name) < rank(b.name);
  return std::lexicographical_compare(
      a.name.begin(), a.name.end(), b.name.begin(), b.name.end(), [](char x, char y) {
        return static_cast<unsigned char>(Upper(x)) < static_cast<unsigned char>(Upper(y));
      });
}

// Handles opened by the C runtime do not share deletion: a file that any
// handle holds open cannot be deleted.  Every open of the simulation holds an
// advisory lock, which an exclusive probe detects.
bool IsOpenElsewhere(const std::string& host) {
  int probe = ::open(host.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (probe < 0) return false;
  bool held = ::flock(probe, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(probe);
  return held;
}

bool IsAttributeUnsupported(int error) { return error == ENOTSUP || error == EPERM; }

std::string LastName(const std::string& host) { return host.substr(host.find_last_of('/') + 1); }

std::vector<std::string> SlashNames(const std::string& rest) {
  std::vector<std::string> names;
  std::size_t at = 0;
  while (at < rest.size()) {
    std::size_t end = rest.find('/', at);
    if (end == std::string::npos) end = rest.size();
    if (end > at) names.push_back(rest.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

// Why a folder on the way could not be opened: a link there is named as one.
std::uint32_t FolderOpenCode(int dir, const std::string& name, int error) {
  struct stat st {};
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    return win::kErrorStoppedOnSymlink;
  }
  if (error == ENOENT || error == ENOTDIR) return win::kErrorPathNotFound;
  return WindowsCodeFromErrno(error);
}

// The folder that holds the entry a writing call works on, opened from the
// drive's folder one level at a time without following a link below it (a
// host path opens its parent as named), and the entry's name in it.  `host`
// names the entry through the open folder, so a folder swapped for a link
// after the walk cannot send the call elsewhere.
struct AnchoredEntry {
  int dir = -1;
  std::string leaf;
  std::string host;

  AnchoredEntry() = default;
  AnchoredEntry(AnchoredEntry&& other) noexcept
      : dir(std::exchange(other.dir, -1)),
        leaf(std::move(other.leaf)),
        host(std::move(other.host)) {}
  AnchoredEntry& operator=(AnchoredEntry&&) = delete;
  ~AnchoredEntry() {
    if (dir >= 0) ::close(dir);
  }
};

std::optional<AnchoredEntry> AnchorEntry(const DriveMap::Resolved& resolved) {
  const std::string& host = resolved.host;
  std::string start;
  std::vector<std::string> names;
  if (resolved.below_root > 0) {
    start = host.substr(0, resolved.below_root);
    names = SlashNames(host.substr(resolved.below_root));
  } else {
    start = ParentOf(host);
    names = SlashNames(LastName(host));
  }
  if (names.empty()) {
    SetPosixLastError(win::kErrorAccessDenied);
    return std::nullopt;
  }
  AnchoredEntry entry;
  entry.dir = ::open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (entry.dir < 0) {
    SetPosixLastError(errno == ENOENT || errno == ENOTDIR ? win::kErrorPathNotFound
                                                          : WindowsCodeFromErrno(errno));
    return std::nullopt;
  }
  for (std::size_t i = 0; i + 1 < names.size(); ++i) {
    const int next =
        ::openat(entry.dir, names[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      SetPosixLastError(FolderOpenCode(entry.dir, names[i], errno));
      return std::nullopt;
    }
    ::close(entry.dir);
    entry.dir = next;
  }
  entry.leaf = names.back();
  entry.host = "/proc/self/fd/" + std::to_string(entry.dir) + "/" + entry.leaf;
  return entry;
}

}  // namespace

std::optional<std::string> PosixFileSystem::HostPath(const std::string& path) const {
  auto resolved = drives_.Resolve(path);
  if (!resolved) return std::nullopt;
  return resolved->host;
}

FileHandle PosixFileSystem::OpenExisting(const std::string& path, int flags, Share share) {
  auto resolved = drives_.Resolve(path);
  if (!resolved) return kNoFile;
  const std::string& host = resolved->host;
  struct stat st {};
  if (::stat(host.c_str(), &st) != 0) return FailHandle(CodeForErrno(errno, host));
  if (S_ISDIR(st.st_mode)) return FailHandle(win::kErrorAccessDenied);
  if (!S_ISREG(st.st_mode)) return FailHandle(win::kErrorBadFileType);
  // Windows refuses to open a read-only file for writing, even to a user the
  // host would let through.
  if ((flags & O_ACCMODE) != O_RDONLY && IsReadOnlyMode(st.st_mode))
    return FailHandle(win::kErrorAccessDenied);
  // Non-blocking, so that a FIFO put in the file's place since the check
  // cannot hold the open; it is refused below like any other non-file.
  int fd = ::open(host.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return FailHandle(CodeForErrno(errno, host));
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    ::close(fd);
    return FailHandle(win::kErrorBadFileType);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // Sharing as the C runtime's open asks for it: ordinary opens share with
  // each other; an exclusive open shares with nobody.  Advisory locks reach
  // other processes of the simulation as well as this one.
  int how = share == Share::None ? LOCK_EX : LOCK_SH;
  if (::flock(fd, how | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    return FailHandle(win::kErrorSharingViolation);
  }
  return fd;
}

FileHandle PosixFileSystem::OpenRead(const std::string& path) {
  return OpenExisting(path, O_RDONLY, Share::ReadWrite);
}

FileHandle PosixFileSystem::OpenReadExclusive(const std::string& path) {
  return OpenExisting(path, O_RDONLY, Share::None);
}

FileHandle PosixFileSystem::OpenAppend(const std::string& path) {
  return OpenExisting(path, O_RDWR | O_APPEND, Share::ReadWrite);
}

FileHandle PosixFileSystem::OpenUpdate(const std::string& path) {
  return OpenExisting(path, O_RDWR, Share::ReadWrite);
}

FileHandle PosixFileSystem::CreateExclusive(const std::string& path) {
  auto resolved = drives_.Resolve(path);
  if (!resolved) return kNoFile;
  auto place = AnchorEntry(*resolved);
  if (!place) return kNoFile;
  int fd = ::openat(place->dir, place->leaf.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    // A missing folder on the way is a missing path, whichever level it is.
    if (errno == ENOENT || errno == ENOTDIR) return FailHandle(win::kErrorPathNotFound);
    return FailHandle(CodeForErrno(errno, place->host));
  }
  ::flock(fd, LOCK_SH | LOCK_NB);
  return fd;
}

FileHandle PosixFileSystem::CreateExclusiveWithAttributes(const std::string& path,
                                                          std::uint32_t attributes) {
  const std::uint32_t bits = attributes & kStoredBits;
  auto resolved = drives_.Resolve(path);
  if (!resolved) return kNoFile;
  auto place = AnchorEntry(*resolved);
  if (!place) return kNoFile;
  // An unnamed file in the folder gets its bits, then its name: linking
  // fails when the name exists, as the exclusive create does.
  // Where the folder's file system has no unnamed files or no bits: the
  // create, then the bits.
  auto createThenMark = [&] {
    const FileHandle file = PosixFileSystem::CreateExclusive(path);
    if (file != kNoFile) SetAttributes(path, attributes);
    return file;
  };
  int fd = bits == 0 ? -1 : ::openat(place->dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return createThenMark();
  char text[16];
  const int length = std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(bits));
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::fsetxattr(fd, kDosAttributeName, text, static_cast<std::size_t>(length), 0) != 0 ||
      ::linkat(AT_FDCWD, self.c_str(), place->dir, place->leaf.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EEXIST) return FailHandle(CodeForErrno(error, place->host));
    return createThenMark();
  }
  ::flock(fd, LOCK_SH | LOCK_NB);
  return fd;
}

std::int64_t PosixFileSystem::Read(FileHandle file, void* buffer, std::size_t size) {
  ssize_t n;
  do { n = ::read(file, buffer, size); } while (n < 0 && errno == EINTR);
  if (n < 0) {
    SetPosixLastError(CodeForHandleErrno(errno, file));
    return -1;
  }
  return n;
}

std::int64_t PosixFileSystem::Write(FileHandle file, const void* buffer, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(file, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      SetPosixLastError(n < 0 ? CodeForHandleErrno(errno, file) : win::kErrorDiskFull);
      // Bytes already written stay: the caller sees a short write.
      return done > 0 ? static_cast<std::int64_t>(done) : -1;
    }
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t PosixFileSystem::Seek(FileHandle file, std::int64_t offset, SeekFrom from) {
  int whence = from == SeekFrom::Begin ? SEEK_SET : from == SeekFrom::Current ? SEEK_CUR : SEEK_END;
  off_t position = ::lseek(file, static_cast<off_t>(offset), whence);
  if (position < 0) {
    SetPosixLastError(errno == EINVAL ? win::kErrorNegativeSeek : CodeForHandleErrno(errno, file));
    return -1;
  }
  return position;
}

std::int64_t PosixFileSystem::Length(FileHandle file) {
  struct stat st {};
  if (::fstat(file, &st) != 0) {
    SetPosixLastError(CodeForHandleErrno(errno, file));
    return -1;
  }
  return st.st_size;
}

bool PosixFileSystem::Truncate(FileHandle file, std::int64_t length) {
  if (length < 0) return Fail(win::kErrorInvalidParameter);
  if (::ftruncate(file, static_cast<off_t>(length)) != 0)
    return Fail(CodeForHandleErrno(errno, file));
  return true;
}

bool PosixFileSystem::Lock(FileHandle file, LockMode mode) {
  // Open-description locks: two handles of one process exclude each other,
  // as two Windows handles do.
  struct flock lock {};
  lock.l_type = mode == LockMode::Shared ? F_RDLCK : F_WRLCK;
  lock.l_whence = SEEK_SET;
  int result;
  do { result = ::fcntl(file, F_OFD_SETLKW, &lock); } while (result != 0 && errno == EINTR);
  if (result != 0) return Fail(WindowsCodeFromErrno(errno));
  return true;
}

bool PosixFileSystem::Unlock(FileHandle file) {
  struct flock lock {};
  lock.l_type = F_UNLCK;
  lock.l_whence = SEEK_SET;
  if (::fcntl(file, F_OFD_SETLK, &lock) != 0) return Fail(WindowsCodeFromErrno(errno));
  return true;
}

bool PosixFileSystem::Flush(FileHandle file) {
  if (::fsync(file) != 0) return Fail(CodeForHandleErrno(errno, file));
  return true;
}

bool PosixFileSystem::Close(FileHandle file) {
  if (::close(file) != 0)
    return Fail(errno == EBADF ? win::kErrorInvalidHandle : WindowsCodeFromErrno(errno));
  return true;
}

std::uint32_t PosixFileSystem::StoredDosBits(const std::string& host, dev_t device, ino_t inode) {
  char text[32] = {};
  ssize_t n = ::getxattr(host.c_str(), kDosAttributeName, text, sizeof text - 1);
  if (n < 0) {
    if (!IsAttributeUnsupported(errno)) return 0;
    std::lock_guard lock(fallback_mutex_);
    auto it = fallback_bits_.find({device, inode});
    return it == fallback_bits_.end() ? 0 : it->second;
  }
  // Only the hexadecimal form counts, as for Wine.
  if (n < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return 0;
  return static_cast<std::uint32_t>(std::strtoul(text + 2, nullptr, 16)) & kStoredBits;
}

bool PosixFileSystem::StoreDosBits(const std::string& host, dev_t device, ino_t inode,
                                   std::uint32_t bits) {
  bits &= kStoredBits;
  int result;
  if (bits != 0) {
    char text[16];
    int length = std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(bits));
    result = ::setxattr(host.c_str(), kDosAttributeName, text, static_cast<std::size_t>(length), 0);
  } else {
    result = ::removexattr(host.c_str(), kDosAttributeName);
    if (result != 0 && errno == ENODATA) result = 0;
  }
  if (result == 0) return true;
  if (!IsAttributeUnsupported(errno)) return Fail(WindowsCodeFromErrno(errno));
  std::lock_guard lock(fallback_mutex_);
  if (bits != 0) {
    fallback_bits_[{device, inode}] = bits;
  } else {
    fallback_bits_.erase({device, inode});
  }
  return true;
}

std::uint32_t PosixFileSystem::HostAttributes(const std::string& host) {
  struct stat st {};
  if (::lstat(host.c_str(), &st) != 0) {
    SetPosixLastError(errno == ENOTDIR ? win::kErrorPathNotFound : CodeForErrno(errno, host));
    return win::kInvalidAttributes;
  }
  if (S_ISLNK(st.st_mode)) {
    // A link reports its own bits, as Windows reports a symbolic link's:
    // a directory link shows the directory bit, the target's mode is not
    // its read-only bit.
    struct stat target {};
    const bool directory = ::stat(host.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    std::lock_guard lock(fallback_mutex_);
    auto it = fallback_bits_.find({st.st_dev, st.st_ino});
    const std::uint32_t own = it == fallback_bits_.end() ? 0 : it->second;
    return win::kAttrReparsePoint | (directory ? win::kAttrDirectory : win::kAttrArchive) | own;
  }
  std::uint32_t bits = S_ISDIR(st.st_mode) ? win::kAttrDirectory : win::kAttrArchive;
  if (IsReadOnlyMode(st.st_mode)) bits |= win::kAttrReadOnly;
  return bits | StoredDosBits(host, st.st_dev, st.st_ino);
}

std::uint32_t PosixFileSystem::GetAttributes(const std::string& path) {
  auto resolved = drives_.Resolve(path);
  if (!resolved) return win::kInvalidAttributes;
  return HostAttributes(resolved->host);
}

bool PosixFileSystem::SetAttributes(const std::string& path, std::uint32_t attributes) {
  auto resolved = drives_.Resolve(path);
  if (!resolved) return false;
  // A drive's root is the mapped folder itself, reached as named.
  std::optional<AnchoredEntry> place = resolved->drive_root ? std::nullopt : AnchorEntry(*resolved);
  if (!resolved->drive_root && !place) return false;
  const std::string& host = place ? place->host : resolved->host;
  struct stat st {};
  if (::lstat(host.c_str(), &st) != 0) {
    return Fail(errno == ENOTDIR ? win::kErrorPathNotFound : CodeForErrno(errno, host));
  }
  if (S_ISLNK(st.st_mode)) {
    // The bits go on the link itself; its target is not touched.
    std::lock_guard lock(fallback_mutex_);
    const std::uint32_t own = attributes & (kStoredBits | win::kAttrReadOnly);
    if (own != 0) {
      fallback_bits_[{st.st_dev, st.st_ino}] = own;
    } else {
      fallback_bits_.erase({st.st_dev, st.st_ino});
    }
    return true;
  }
  // Read-only means nothing for a directory (its files stay deletable), so
  // it is not kept for one; archive and normal are implied by the file kind.
  const bool make_read_only = (attributes & win::kAttrReadOnly) != 0;
  mode_t mode = st.st_mode & 07777;
  mode_t wanted = mode;
  if (S_ISREG(st.st_mode))
    wanted = make_read_only ? (mode & ~0222) : (IsReadOnlyMode(mode) ? mode | 0200 : mode);
  // The attribute goes on while the file is still writable.
  if (wanted != mode && !make_read_only && ::chmod(host.c_str(), wanted) != 0)
    return Fail(WindowsCodeFromErrno(errno));
  if (!StoreDosBits(host, st.st_dev, st.st_ino, attributes)) return false;
  if (wanted != mode && make_read_only && ::chmod(host.c_str(), wanted) != 0)
    return Fail(WindowsCodeFromErrno(errno));
  return true;
}

bool PosixFileSystem::DeleteFile(const std::string& path) {
  auto resolved = drives_.Resolve(path);
  if (!resolved) return false;
  if (resolved->drive_root) return Fail(win::kErrorAccessDenied);
  auto place = AnchorEntry(*resolved);
  if (!place) return false;
  const std::string& host = place->host;
  struct stat st {};
  if (::lstat(host.c_str(), &st) != 0) {
    return Fail(errno == ENOTDIR ? win::kErrorPathNotFound : CodeForErrno(errno, host));
  }
  // A directory, or a link to one, goes with RemoveDirectory.
  if (S_ISDIR(st.st_mode) || (S_ISLNK(st.st_mode) && IsDirectoryHost(host))) {
    return Fail(win::kErrorAccessDenied);
  }
  // Windows refuses to delete a read-only file; the host would not.
  if (!S_ISLNK(st.st_mode) && IsReadOnlyMode(st.st_mode)) return Fail(win::kErrorAccessDenied);
  if (S_ISREG(st.st_mode) && IsOpenElsewhere(host)) return Fail(win::kErrorSharingViolation);
  if (::unlink(host.c_str()) != 0) return Fail(CodeForErrno(errno, host));
  std::lock_guard lock(fallback_mutex_);
  fallback_bits_.erase({st.st_dev, st.st_ino});
  return true;
}

bool PosixFileSystem::CreateDirectory(const std::string& path) {
  auto resolved = drives_.Resolve(path);
  if (!resolved) return false;
  if (resolved->drive_root) return Fail(win::kErrorAlreadyExists);
  if (::mkdir(resolved->host.c_str(), 0777) != 0) {
    if (errno == EEXIST) return Fail(win::kErrorAlreadyExists);
    if (errno == ENOENT || errno == ENOTDIR) return Fail(win::kErrorPathNotFound);
    return Fail(WindowsCodeFromErrno(errno));
  }
  return true;
}

bool PosixFileSystem::RemoveDirectory(const std::string& path) {
  auto resolved = drives_.Resolve(path);
  if (!resolved) return false;
  const std::string& host = resolved->host;
  // A drive's root is not a directory anyone can remove.
  if (resolved->drive_root) return Fail(win::kErrorAccessDenied);
  struct stat st {};
  if (::lstat(host.c_str(), &st) != 0) {
    return Fail(errno == ENOTDIR ? win::kErrorPathNotFound : CodeForErrno(errno, host));
  }
  if (S_ISLNK(st.st_mode)) {
    // A link to a directory goes as a link, as a junction does: never its
    // target or what lies below it.
    if (!IsDirectoryHost(host)) return Fail(win::kErrorDirectory);
    if (::unlink(host.c_str()) != 0) return Fail(WindowsCodeFromErrno(errno));
    std::lock_guard lock(fallback_mutex_);
    fallback_bits_.erase({st.st_dev, st.st_ino});
    return true;
  }
  if (!S_ISDIR(st.st_mode)) return Fail(win::kErrorDirectory);
  if (::rmdir(host.c_str()) != 0) {
    return Fail(errno == ENOTEMPTY || errno == EEXIST ? win::kErrorDirNotEmpty
                                                      : WindowsCodeFromErrno(errno));
  }
  std::lock_guard lock(fallback_mutex_);
  fallback_bits_.erase({st.st_dev, st.st_ino});
  return true;
}

namespace {

// A search pattern as its folder and the pattern of names in it.
std::pair<std::string, std::string> SplitSearchPattern(const std::string& pattern) {
  const std::size_t cut = pattern.find_last_of("\\/");
  if (cut != std::string::npos) return {pattern.substr(0, cut + 1), pattern.substr(cut + 1)};
  if (pattern.size() >= 2 && pattern[1] == ':') return {pattern.substr(0, 2), pattern.substr(2)};
  return {".", pattern};
}

// The names in a host folder, with the dot entries a search lists below a
// drive's root; nothing when the folder cannot be read (errno says why).
std::optional<std::vector<std::string>> NamesInFolder(const std::string& host, bool driveRoot) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(host.c_str()), ::closedir);
  if (!dir) return std::nullopt;
  std::vector<std::string> names;
  if (!driveRoot) names = {".", ".."};
  while (dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

std::optional<std::vector<DirEntry>> PosixFileSystem::FindFiles(const std::string& pattern) {
  const auto [folder, name_pattern] = SplitSearchPattern(pattern);
  if (name_pattern.empty()) {
    SetPosixLastError(win::kErrorFileNotFound);
    return std::nullopt;
  }
  auto resolved = drives_.Resolve(folder);
  if (!resolved) return std::nullopt;
  if (name_pattern.find_first_of("<>:\"|") != std::string::npos) {
    SetPosixLastError(win::kErrorInvalidName);
    return std::nullopt;
  }
  struct stat st {};
  if (::stat(resolved->host.c_str(), &st) != 0) {
    SetPosixLastError(win::kErrorPathNotFound);
    return std::nullopt;
  }
  if (!S_ISDIR(st.st_mode)) {
    // What the system answers for a search below a file.
    SetPosixLastError(win::kErrorInvalidName);
    return std::nullopt;
  }
  const std::optional<std::vector<std::string>> names =
      NamesInFolder(resolved->host, resolved->drive_root);
  if (!names) {
    SetPosixLastError(WindowsCodeFromErrno(errno));
    return std::nullopt;
  }
  std::vector<DirEntry> entries;
  for (const std::string& name : *names) {
    if (!MatchesPattern(name, name_pattern)) continue;
    std::uint32_t attributes = HostAttributes(resolved->host + "/" + name);
    if (attributes == win::kInvalidAttributes) continue;  // vanished since the listing
    entries.push_back({name, attributes});
  }
  if (entries.empty()) {
    SetPosixLastError(win::kErrorFileNotFound);
    return std::nullopt;
  }
  std::stable_sort(entries.begin(), entries.end(), ComesBefore);
  return entries;
}

bool PosixFileSystem::Exists(const std::string& path) {
  return GetAttributes(path) != win::kInvalidAttributes;
}

bool PosixFileSystem::IsDirectory(const std::string& path) {
  std::uint32_t attributes = GetAttributes(path);
  return attributes != win::kInvalidAttributes && (attributes & win::kAttrDirectory) != 0;
}

std::optional<FileId> PosixFileSystem::Identify(const std::string& path) {
  auto resolved = drives_.Resolve(path);
  if (!resolved) return std::nullopt;
  struct stat st {};
  if (::stat(resolved->host.c_str(), &st) != 0) {
    SetPosixLastError(CodeForErrno(errno, resolved->host));
    return std::nullopt;
  }
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                static_cast<std::uint32_t>(st.st_nlink)};
}

bool PosixFileSystem::MoveIntoPlace(const std::string& from, const std::string& to,
                                    bool replaceExisting) {
  auto source = drives_.Resolve(from);
  if (!source) return false;
  auto target = drives_.Resolve(to);
  if (!target) return false;
  if (target->drive_root || ParentOf(source->host) != ParentOf(target->host)) {
    return Fail(win::kErrorInvalidParameter);
  }
  auto place = AnchorEntry(*target);
  if (!place) return false;
  struct stat old {};
  const bool replacing = ::fstatat(place->dir, place->leaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (replacing && !replaceExisting) return Fail(win::kErrorAlreadyExists);
  if (replacing && S_ISDIR(old.st_mode)) return Fail(win::kErrorAccessDenied);
  // As on Windows, a file that another handle holds open cannot be replaced.
  if (replacing && S_ISREG(old.st_mode) && IsOpenElsewhere(place->host)) {
    return Fail(win::kErrorSharingViolation);
  }
  // Without replacing, a name that appeared since the look is not taken.
  const std::string fromLeaf = LastName(source->host);
  int renamed = ::renameat2(place->dir, fromLeaf.c_str(), place->dir, place->leaf.c_str(),
                            replaceExisting ? 0 : RENAME_NOREPLACE);
  // A file system without the flag: the look above has to do.
  if (renamed != 0 && errno == EINVAL && !replaceExisting) {
    renamed = ::renameat(place->dir, fromLeaf.c_str(), place->dir, place->leaf.c_str());
  }
  if (renamed != 0) {
    return Fail(errno == EEXIST ? win::kErrorAlreadyExists : CodeForErrno(errno, place->host));
  }
  if (replacing && old.st_nlink <= 1) {
    std::lock_guard lock(fallback_mutex_);
    fallback_bits_.erase({old.st_dev, old.st_ino});
  }
  // The new entry reaches the disk with the folder.  The rename has taken
  // effect whatever the flush says, so it counts as done.
  ::fsync(place->dir);
  return true;
}

std::optional<struct statvfs> PosixFileSystem::StatVolume(const std::string& folder) {
  auto resolved = drives_.Resolve(folder);
  if (!resolved) return std::nullopt;
  struct statvfs vfs {};
  if (::statvfs(resolved->host.c_str(), &vfs) != 0) {
    SetPosixLastError(CodeForErrno(errno, resolved->host));
    return std::nullopt;
  }
  return vfs;
}

std::optional<std::uint64_t> PosixFileSystem::FreeBytes(const std::string& folder) {
  const std::optional<struct statvfs> vfs = StatVolume(folder);
  if (!vfs) return std::nullopt;
  return static_cast<std::uint64_t>(vfs->f_bavail) * vfs->f_frsize;
}

std::optional<VolumeFacts> PosixFileSystem::DescribeVolume(const std::string& folder) {
  const std::optional<struct statvfs> vfs = StatVolume(folder);
  if (!vfs) return std::nullopt;
  VolumeFacts facts;
  facts.readOnly = (vfs->f_flag & ST_RDONLY) != 0;
  facts.clusterBytes = static_cast<std::uint32_t>(vfs->f_frsize);
  return facts;
}

}  // namespace brelvane

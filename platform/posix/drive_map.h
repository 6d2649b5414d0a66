// Drive letters of the simulation: each letter maps to a host folder, so
// "E:\dir\file" names a file below the folder mapped to E.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace brelvane {

class DriveMap {
 public:
  // Maps `letter` (either case) to an existing host folder.
  void Map(char letter, const std::string& host_folder);
  void Unmap(char letter);
  std::optional<std::string> Folder(char letter) const;
  // GetLogicalDrives' mask of the mapped letters: bit 0 for A.
  std::uint32_t Mask() const;

  struct Resolved {
    std::string host;  // the host path
    bool drive_root;   // the path names a mapped drive's root itself
    // Where the names below the drive's folder begin in `host` (the
    // folder's length); 0 for a host path, which has no drive root.
    std::size_t below_root = 0;
  };
  // Turns a Windows path into a host path.  A drive-lettered path ("x:\a\b",
  // either separator) maps below its folder, each name matched without
  // regard to case when the exact name does not exist, as Windows file names
  // are; a path without a drive letter is a host path used as is (with
  // backslashes read as slashes).  With `wildcard_last`, the last name may
  // hold '*' and '?' and is left untouched.  Fails with the Windows code in
  // the last error: an unmapped letter gives ERROR_PATH_NOT_FOUND, a
  // character Windows forbids in names ERROR_INVALID_NAME, a UNC path
  // ERROR_BAD_NETPATH (the simulation has no network).
  std::optional<Resolved> Resolve(const std::string& path, bool wildcard_last = false) const;

 private:
  mutable std::mutex mutex_;
  std::map<char, std::string> folders_;
};

}  // namespace brelvane

#include "platform/posix/drive_map.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <memory>
#include <vector>

#include "platform/case_fold.h"
#include "platform/platform.h"
#include "platform/posix/posix_error.h"

namespace brelvane {
namespace {

constexpr std::uint32_t kErrorBadNetPath = 53;

char DriveKey(char letter) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
}

bool IsSlash(char c) { return c == '\\' || c == '/'; }

bool HasDriveLetter(const std::string& path) {
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

bool IsValidName(const std::string& name, bool wildcards) {
  for (unsigned char c : name) {
    if (c < 32) return false;
    switch (c) {
      case '<':
      case '>':
      case ':':
      case '"':
      case '|': return false;
      case '*':
      case '?':
        if (!wildcards) return false;
        break;
      default: break;
    }
  }
  return true;
}

bool EntryExists(const std::string& host) {
  struct stat st {};
  return ::lstat(host.c_str(), &st) == 0;
}

// The entry of `folder` whose name equals `name` without regard to case,
// as Windows folds it.
std::optional<std::string> FindIgnoringCase(const std::string& folder, const std::string& name) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return std::nullopt;
  while (dirent* entry = ::readdir(dir.get())) {
    if (SameIgnoringCase(entry->d_name, name)) return std::string(entry->d_name);
  }
  return std::nullopt;
}

// Splits at either separator; "." names vanish and ".." climbs, never above
// the root, as Windows normalises a full path.
std::vector<std::string> NormalisedNames(const std::string& rest) {
  std::vector<std::string> names;
  std::string name;
  auto flush = [&] {
    if (name.empty() || name == ".") {
    } else if (name == "..") {
      if (!names.empty()) names.pop_back();
    } else {
      names.push_back(name);
    }
    name.clear();
  };
  for (char c : rest) {
    if (IsSlash(c)) {
      flush();
    } else {
      name += c;
    }
  }
  flush();
  return names;
}

}  // namespace

void DriveMap::Map(char letter, const std::string& host_folder) {
  std::lock_guard lock(mutex_);
  folders_[DriveKey(letter)] = host_folder;
}

void DriveMap::Unmap(char letter) {
  std::lock_guard lock(mutex_);
  folders_.erase(DriveKey(letter));
}

std::optional<std::string> DriveMap::Folder(char letter) const {
  std::lock_guard lock(mutex_);
  auto it = folders_.find(DriveKey(letter));
  if (it == folders_.end()) return std::nullopt;
  return it->second;
}

std::uint32_t DriveMap::Mask() const {
  std::lock_guard lock(mutex_);
  std::uint32_t mask = 0;
  for (const auto& [letter, folder] : folders_) {
    if (letter >= 'A' && letter <= 'Z') mask |= 1u << (letter - 'A');
  }
  return mask;
}

std::optional<DriveMap::Resolved> DriveMap::Resolve(const std::string& path,
                                                    bool wildcard_last) const {
  if (path.empty()) {
    SetPosixLastError(win::kErrorPathNotFound);
    return std::nullopt;
  }
  if (path.size() >= 2 && IsSlash(path[0]) && IsSlash(path[1])) {
    SetPosixLastError(kErrorBadNetPath);
    return std::nullopt;
  }
  if (!HasDriveLetter(path)) {
    std::string host = path;
    for (char& c : host) {
      if (c == '\\') c = '/';
    }
    return Resolved{host, false, 0};
  }
  std::optional<std::string> folder = Folder(path[0]);
  if (!folder) {
    SetPosixLastError(win::kErrorPathNotFound);
    return std::nullopt;
  }
  std::vector<std::string> names = NormalisedNames(path.substr(2));
  std::string host = *folder;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool last = i + 1 == names.size();
    const bool wildcards = last && wildcard_last;
    if (!IsValidName(names[i], wildcards)) {
      SetPosixLastError(win::kErrorInvalidName);
      return std::nullopt;
    }
    std::string candidate = host + "/" + names[i];
    if (!wildcards && !EntryExists(candidate)) {
      if (auto other = FindIgnoringCase(host, names[i])) candidate = host + "/" + *other;
    }
    host = std::move(candidate);
  }
  return Resolved{host, names.empty(), folder->size()};
}

}  // namespace brelvane

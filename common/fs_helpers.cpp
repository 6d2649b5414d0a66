#include "common/fs_helpers.h"

#include <optional>
#include <vector>

#include "common/error_text.h"
#include "common/messages.h"
#include "common/path_text.h"

namespace brelvane {
namespace {

// The search pattern for every entry of `dir`; empty for an empty path.
std::string SearchPattern(const std::string& dir) {
  if (dir.empty()) return {};
  return dir.back() == '\\' ? Format("%s*.*", dir.c_str()) : Format("%s\\*.*", dir.c_str());
}

std::string EntryPath(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '\\' ? dir + name : dir + "\\" + name;
}

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

// Whether a directory search shows nothing but the dot entries; nullopt when
// the search cannot start.
std::optional<bool> SearchShowsEmpty(const Platform& platform, const std::string& dir) {
  auto entries = platform.files.FindFiles(SearchPattern(dir));
  if (!entries) return std::nullopt;
  for (const DirEntry& entry : *entries) {
    WaitCursor wait(platform.prompts);
    if (!IsDotEntry(entry.name)) return false;
  }
  return true;
}

const char* KindWord(const Platform& platform, const std::string& path) {
  return platform.files.IsDirectory(path) ? "Directory" : "File";
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsLink(std::uint32_t attributes) {
  return attributes != win::kInvalidAttributes && (attributes & win::kAttrReparsePoint) != 0;
}

// Removes a link as itself, whatever its target holds: a link to a directory
// goes with RemoveDirectory, any other with DeleteFile.
bool RemoveLink(const Platform& platform, const std::string& path, std::uint32_t attributes) {
  return (attributes & win::kAttrDirectory) ? platform.files.RemoveDirectory(path)
                                            : platform.files.DeleteFile(path);
}

// Where each name of `path` after `root` ends, in order; empty names (a
// doubled or closing separator) count for nothing.
std::vector<std::size_t> NameEnds(const std::string& path, std::size_t root) {
  std::vector<std::size_t> ends;
  for (std::size_t at = root; at < path.size();) {
    while (at < path.size() && IsSeparator(path[at])) ++at;
    std::size_t end = at;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (end > at) ends.push_back(end);
    at = end;
  }
  return ends;
}

}  // namespace

bool DeletePath(const Platform& platform, const std::string& path, bool force) {
  if (!platform.files.Exists(path)) {
    // The kind is not known yet: its place stays empty.
    ShowError(platform, Format("Unable to find %s: %s\r\nSystem Message: %s", "", path.c_str(),
                               GetLastErrorText(platform.system).c_str()));
    return false;
  }
  const char* kind = KindWord(platform, path);
  const std::uint32_t attributes = platform.files.GetAttributes(path);
  if (attributes == win::kInvalidAttributes) {
    ShowError(platform, Format("Unable to get attributes of %s: %s \r\nError Message: %s", kind,
                               path.c_str(), GetLastErrorText(platform.system).c_str()));
    return false;
  }
  if (IsLink(attributes)) {
    // Only the link goes: its target and the target's attributes stay.
    if (RemoveLink(platform, path, attributes)) return true;
    ShowError(platform, Format("Unable to delete %s: %s \r\nError Message: %s", kind, path.c_str(),
                               GetLastErrorText(platform.system).c_str()));
    return false;
  }
  if (attributes & win::kAttrReadOnly) {
    if (!force && !AskYesNo(platform, Format("The %s: %s is read-only.\r\nDelete it anyway?", kind,
                                             path.c_str()))) {
      return true;
    }
    if (!platform.files.SetAttributes(path, attributes & ~win::kAttrReadOnly)) {
      ShowError(platform,
                Format("Unable to change attributes of %s: %s to delete\r\nError Message: %s", kind,
                       path.c_str(), GetLastErrorText(platform.system).c_str()));
      return false;
    }
  }
  if (attributes & win::kAttrDirectory) {
    // A search that cannot start proves nothing: only a directory seen to
    // be empty is removed without the user's consent.
    if (!SearchShowsEmpty(platform, path).value_or(false) &&
        !AskYesNo(platform,
                  Format("Directory: %s is not Empty.\r\nDelete Everything?", path.c_str()))) {
      return true;
    }
    if (DeleteTree(platform, path)) return true;
    ShowError(platform, Format("Unable to delete %s: %s \r\n", kind, path.c_str()));
    return false;
  }
  if (platform.files.DeleteFile(path)) return true;
  ShowError(platform, Format("Unable to delete %s: %s \r\nError Message: %s", kind, path.c_str(),
                             GetLastErrorText(platform.system).c_str()));
  return false;
}

bool IsDirectoryEmpty(const Platform& platform, const std::string& dir) {
  return SearchShowsEmpty(platform, dir).value_or(true);
}

bool DeleteTree(const Platform& platform, const std::string& dir) {
  const std::uint32_t own = platform.files.GetAttributes(dir);
  if (own == win::kInvalidAttributes || (own & win::kAttrDirectory) == 0) return false;
  if (IsLink(own)) {
    if (platform.files.RemoveDirectory(dir)) return true;
    ShowError(platform, Format("Unable to delete directory: %s \r\nError Message: %s", dir.c_str(),
                               GetLastErrorText(platform.system).c_str()));
    return false;
  }
  auto entries = platform.files.FindFiles(SearchPattern(dir));
  if (!entries) return false;
  for (const DirEntry& entry : *entries) {
    WaitCursor wait(platform.prompts);
    const std::string full = EntryPath(dir, entry.name);
    if (IsDotEntry(entry.name)) continue;
    if (IsLink(entry.attributes)) {
      if (!RemoveLink(platform, full, entry.attributes)) return false;
    } else if (entry.attributes & win::kAttrDirectory) {
      if (!DeleteTree(platform, full)) return false;
    } else if (!ClearReadOnly(platform, full) || !platform.files.DeleteFile(full)) {
      return false;
    }
  }
  if (!ClearReadOnly(platform, dir)) return false;
  if (platform.files.RemoveDirectory(dir)) return true;
  ShowError(platform, Format("Unable to delete directory: %s \r\nError Message: %s", dir.c_str(),
                             GetLastErrorText(platform.system).c_str()));
  return false;
}

bool ClearReadOnly(const Platform& platform, const std::string& path) {
  const std::uint32_t attributes = platform.files.GetAttributes(path);
  if (attributes == win::kInvalidAttributes) {
    ShowError(platform, Format("Unable to get attributes of file: %s \r\nError Message: %s",
                               path.c_str(), GetLastErrorText(platform.system).c_str()));
    return false;
  }
  if ((attributes & win::kAttrReadOnly) &&
      !platform.files.SetAttributes(path, attributes & ~win::kAttrReadOnly)) {
    ShowError(platform,
              Format("Unable to change attributes of entry: %s to delete\r\nError Message: %s",
                     path.c_str(), GetLastErrorText(platform.system).c_str()));
    return false;
  }
  return true;
}

bool CreatePath(const Platform& platform, const std::string& path) {
  if (path.size() < 4 || platform.system.IsUnc(path)) return false;
  // A path without a drive root ("X:dir") has no levels to create.
  std::optional<std::size_t> root = platform.system.SkipRoot(path);
  if (!root) return false;
  std::string level = Format("%c:", path[0]);
  for (std::size_t end : NameEnds(path, *root)) {
    std::size_t begin = end;
    while (begin > 0 && !IsSeparator(path[begin - 1])) --begin;
    level.push_back('\\');
    level.append(path, begin, end - begin);
    const std::string directory = level + '\\';
    if (!platform.files.IsDirectory(directory)) {
      if (!platform.files.CreateDirectory(directory)) return false;
      continue;
    }
    // An existing level is gone through only when it is seen not to be a link.
    const std::uint32_t attributes = platform.files.GetAttributes(level);
    if (attributes == win::kInvalidAttributes) return false;
    if (IsLink(attributes)) {
      platform.system.SetLastError(win::kErrorStoppedOnSymlink);
      return false;
    }
  }
  return true;
}

LinkSearch FindLinkBelowRoot(const Platform& platform, const std::string& path) {
  const std::size_t root = platform.system.SkipRoot(path).value_or(0);
  for (std::size_t end : NameEnds(path, root)) {
    std::string level = path.substr(0, end);
    const std::uint32_t attributes = platform.files.GetAttributes(level);
    if (attributes == win::kInvalidAttributes) {
      const std::uint32_t error = platform.system.LastError();
      // Nothing lies below a missing level.
      if (error == win::kErrorFileNotFound || error == win::kErrorPathNotFound) break;
      return {LinkSearch::Found::Unreadable, std::move(level), error};
    }
    if (IsLink(attributes)) return {LinkSearch::Found::Link, std::move(level)};
    if ((attributes & win::kAttrDirectory) == 0) break;  // a file: nothing lies below it
  }
  return {};
}

bool NamesSameFile(const Platform& platform, const std::string& a, const std::string& b) {
  FileSystem& files = platform.files;
  const std::optional<FileId> idA = files.Identify(a);
  if (idA) return idA == files.Identify(b);
  const auto [folderA, nameA] = SplitFolder(a);
  const auto [folderB, nameB] = SplitFolder(b);
  const std::optional<FileId> folder = files.Identify(folderA);
  return folder && folder == files.Identify(folderB) &&
         platform.system.SamePathIgnoringCase(nameA, nameB);
}

}  // namespace brelvane

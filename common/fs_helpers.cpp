#include "common/fs_helpers.h"

#include <optional>
#include <vector>

#include "common/error_text.h"
#include "common/messages.h"

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
    ShowError(platform, Format("Unable to get attributes of %s: %s \r\nError Message: %s", kind, path.c_str(),
                               GetLastErrorText(platform.system).c_str()));
    return false;
  }
  if (attributes & win::kAttrReadOnly) {
    if (!force && !AskYesNo(platform, Format("The %s: %s is read-only.\r\nDelete it anyway?", kind, path.c_str()))) {
      return true;
    }
    if (!platform.files.SetAttributes(path, attributes & ~win::kAttrReadOnly)) {
      ShowError(platform, Format("Unable to change attributes of %s: %s to delete\r\nError Message: %s", kind,
                                 path.c_str(), GetLastErrorText(platform.system).c_str()));
      return false;
    }
  }
  if (attributes & win::kAttrDirectory) {
    // A search that cannot start proves nothing: only a directory seen to
    // be empty is removed without the user's consent.
    if (!SearchShowsEmpty(platform, path).value_or(false) &&
        !AskYesNo(platform, Format("Directory: %s is not Empty.\r\nDelete Everything?", path.c_str()))) {
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
  if (!platform.files.IsDirectory(dir)) return false;
  auto entries = platform.files.FindFiles(SearchPattern(dir));
  if (!entries) return false;
  for (const DirEntry& entry : *entries) {
    WaitCursor wait(platform.prompts);
    const std::string full = EntryPath(dir, entry.name);
    if (entry.attributes & win::kAttrDirectory) {
      if (!IsDotEntry(entry.name) && !DeleteTree(platform, full)) return false;
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
    ShowError(platform, Format("Unable to get attributes of file: %s \r\nError Message: %s", path.c_str(),
                               GetLastErrorText(platform.system).c_str()));
    return false;
  }
  if ((attributes & win::kAttrReadOnly) && !platform.files.SetAttributes(path, attributes & ~win::kAttrReadOnly)) {
    ShowError(platform, Format("Unable to change attributes of entry: %s to delete\r\nError Message: %s",
                               path.c_str(), GetLastErrorText(platform.system).c_str()));
    return false;
  }
  return true;
}

bool CreatePath(const Platform& platform, const std::string& path) {
  if (path.size() < 4 || platform.system.IsUnc(path)) return false;
  const std::string drive = Format("%c:", path[0]);
  std::string trimmed = path;
  if (trimmed.back() == '\\') trimmed.pop_back();
  // A path without a drive root ("X:dir") has no levels to create.
  std::optional<std::size_t> root = platform.system.SkipRoot(trimmed);
  if (!root) return false;
  std::vector<std::string> components;
  std::string rest = trimmed.substr(*root);
  for (std::size_t start = 0; start <= rest.size() && !rest.empty();) {
    std::size_t cut = rest.find('\\', start);
    if (cut == std::string::npos) cut = rest.size();
    components.push_back(rest.substr(start, cut - start));
    start = cut + 1;
  }
  std::string level = drive;
  for (const std::string& component : components) {
    level += "\\" + component;
    const std::string directory = level + "\\";
    if (!platform.files.IsDirectory(directory) && !platform.files.CreateDirectory(directory)) return false;
  }
  return true;
}

}  // namespace brelvane

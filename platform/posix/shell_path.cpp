#include "platform/posix/shell_path.h"

namespace brelvane {
namespace {

bool IsNameSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }
bool IsSlash(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::size_t ShellFindFileName(const std::string& path) {
  std::size_t name = 0;
  for (std::size_t i = 0; i + 1 < path.size(); ++i) {
    if (IsNameSeparator(path[i]) && !IsSlash(path[i + 1])) name = i + 1;
  }
  return name;
}

std::string ShellStripPath(const std::string& path) { return path.substr(ShellFindFileName(path)); }

std::optional<std::size_t> ShellSkipRoot(const std::string& path) {
  if (ShellIsUnc(path)) {
    // Both the server and the share must be closed by a backslash.
    std::size_t server_end = path.find('\\', 2);
    if (server_end == std::string::npos) return std::nullopt;
    std::size_t share_end = path.find('\\', server_end + 1);
    if (share_end == std::string::npos) return std::nullopt;
    return share_end + 1;
  }
  if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') return 3;
  return std::nullopt;
}

bool ShellIsUnc(const std::string& path) {
  return path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
}

}  // namespace brelvane

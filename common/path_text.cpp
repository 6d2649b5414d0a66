#include "common/path_text.h"

namespace brelvane {

std::string FindFileName(const std::string& path) {
  auto is_slash = [](char c) { return c == '\\' || c == '/'; };
  std::size_t name = 0;
  for (std::size_t i = 0; i + 1 < path.size(); ++i) {
    if ((is_slash(path[i]) || path[i] == ':') && !is_slash(path[i + 1])) name = i + 1;
  }
  return path.substr(name);
}

std::string RemoveBlanks(const std::string& text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  std::size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::pair<std::string, std::string> SplitFolder(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return {".", path};
  return {cut == 0 ? path.substr(0, 1) : path.substr(0, cut + (path[cut - 1] == ':')),
          path.substr(cut + 1)};
}

}  // namespace brelvane

#include "builder/builder_mode.h"

#include <cctype>
#include <string_view>

namespace brelvane {

namespace {

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool IsBuilderSwitch(std::string_view word) {
  // A quoted word counts as the word itself.
  if (word.size() >= 2 && word.front() == '"' && word.back() == '"') {
    word = word.substr(1, word.size() - 2);
  }
  if (word.size() != sizeof kBuilderSwitch - 1) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(word[i])) != kBuilderSwitch[i]) return false;
  }
  return true;
}

}  // namespace

// Plain scanning rather than a string stream: a stream would pull the C++
// locale machinery into the Windows program.
bool WantsBuilder(const std::string& arguments) {
  std::size_t at = 0;
  while (at < arguments.size()) {
    while (at < arguments.size() && IsBlank(arguments[at])) ++at;
    std::size_t end = at;
    while (end < arguments.size() && !IsBlank(arguments[end])) ++end;
    if (end > at && IsBuilderSwitch(std::string_view(arguments).substr(at, end - at))) return true;
    at = end;
  }
  return false;
}

}  // namespace brelvane

#include "builder/builder_mode.h"

#include <cctype>

namespace brelvane {

bool IsBuilderSwitch(std::string_view word) {
  if (word.size() != sizeof kBuilderSwitch - 1 || (word[0] != '/' && word[0] != '-')) return false;
  for (std::size_t i = 1; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(word[i])) != kBuilderSwitch[i]) return false;
  }
  return true;
}

bool WantsBuilder(const std::vector<std::string>& words) {
  if (words.empty()) return false;
  for (const std::string& word : words) {
    if (!IsBuilderSwitch(word)) return false;
  }
  return true;
}

}  // namespace brelvane

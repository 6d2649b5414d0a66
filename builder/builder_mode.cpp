#include "builder/builder_mode.h"

#include <cctype>
#include <sstream>

namespace brelvane {

bool WantsBuilder(const std::string& arguments) {
  std::istringstream words(arguments);
  std::string word;
  while (words >> word) {
    // A quoted word counts as the word itself.
    if (word.size() >= 2 && word.front() == '"' && word.back() == '"') {
      word = word.substr(1, word.size() - 2);
    }
    if (word.size() != sizeof kBuilderSwitch - 1) continue;
    bool same = true;
    for (std::size_t i = 0; i < word.size(); ++i) {
      same = same && std::tolower(static_cast<unsigned char>(word[i])) == kBuilderSwitch[i];
    }
    if (same) return true;
  }
  return false;
}

}  // namespace brelvane

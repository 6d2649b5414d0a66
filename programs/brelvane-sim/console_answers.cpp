#include "console_answers.h"

#include <cctype>

namespace brelvane::sim {

namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::string Lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string MatchChoice(const std::string& answer, const std::vector<std::string>& choices) {
  const std::string wanted = Lowered(Trimmed(answer));
  if (wanted.empty()) return {};
  std::string match;
  for (const std::string& choice : choices) {
    if (Lowered(choice).compare(0, wanted.size(), wanted) != 0) continue;
    if (!match.empty()) return {};
    match = choice;
  }
  return match;
}

std::string ConsoleAnswers::Ask(const std::string& question,
                                const std::vector<std::string>& choices, const std::string& safe) {
  std::string listed;
  for (const std::string& choice : choices) listed += (listed.empty() ? "" : "/") + choice;
  for (;;) {
    out_ << question << " [" << listed << "]: " << std::flush;
    std::string line;
    if (ended_ || !std::getline(in_, line)) {
      ended_ = true;
      out_ << safe << " (end of input)\n";
      return safe;
    }
    const std::string choice = MatchChoice(line, choices);
    if (echo_) out_ << Trimmed(line) << "\n";
    if (!choice.empty()) return choice;
    out_ << "Please answer one of: " << listed << "\n";
  }
}

}  // namespace brelvane::sim

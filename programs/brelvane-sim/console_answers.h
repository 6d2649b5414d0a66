// The user's answers, one per line on standard input.  At the end of input
// every question takes its safe answer, so a piped run never waits.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace brelvane::sim {

class ConsoleAnswers {
 public:
  // `echo`: repeat each answer read after its question (for piped input, so
  // the transcript shows what was answered).
  ConsoleAnswers(std::istream& in, std::ostream& out, bool echo)
      : in_(in), out_(out), echo_(echo) {}

  // Prints `question` with the choices and reads until a line names one of
  // them (any leading part of it, the first letter enough, letter case
  // ignored).  Gives the chosen word as listed in `choices`, or `safe` at
  // the end of input.
  std::string Ask(const std::string& question, const std::vector<std::string>& choices,
                  const std::string& safe);

 private:
  std::istream& in_;
  std::ostream& out_;
  bool echo_;
  bool ended_ = false;
};

// The choice that `answer` names, or "" when it names none or several.
std::string MatchChoice(const std::string& answer, const std::vector<std::string>& choices);

}  // namespace brelvane::sim

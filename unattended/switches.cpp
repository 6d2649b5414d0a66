#include "unattended/switches.h"

#include <cctype>
#include <string_view>
#include <utility>
#include <vector>
#include <algorithm>
#include <string>

#include "common/printable.h"

namespace brelvane {

const char kHelpText[] =
    "brelvane-setup [/silent /accept] [/overwrite=yes|no] [/launch] [/log=FILE]\n"
    "brelvane-setup /verify [/silent] [/log=FILE]\n"
    "brelvane-setup /? | /help\n"
    "\n"
    "  /silent         no window and no message box; every question takes its answer below\n"
    "  /accept         accept the license agreement on the user's behalf (needed by /silent)\n"
    "  /overwrite=yes  replace a file that already exists on the drive (default: no, keep it)\n"
    "  /launch         start the installed utility at the end\n"
    "  /log=FILE       append a UTF-8 log, one line per event (with /silent the default is\n"
    "                  %TEMP%\\brelvane-setup.log)\n"
    "  /verify         check every module and the signature state; install nothing\n"
    "  /?, /help       show this text; install nothing\n"
    "Switches take '/' or '-' and any letter case.  /accept, /overwrite, /launch and /log\n"
    "need /silent (or /verify, for /log).\n"
    "\n"
    "Exit codes:\n"
    "  0  success: the set installed (skipped files included), /verify sound, /? shown\n"
    "  1  bad command line: an unknown switch, a bad or missing value\n"
    "  2  the agreement was not accepted (/silent without /accept)\n"
    "  3  no supported drive\n"
    "  4  several drive models, or an unsupported model (or the model changed during the run)\n"
    "  5  no module set for the drive's model in the package\n"
    "  6  a damaged or unsafe module, or an unreadable package\n"
    "  7  a file could not be written (nothing lost)\n"
    "  8  /verify: the package fails verification\n"
    "  9  another copy of the installer is running (nothing done)\n";

namespace {

// A tab stop of a message box is eight average characters: a switch shorter
// than that takes two tabs to reach the second stop, where the longer ones
// end up with one; the exit codes' words start at the first.
constexpr std::size_t kTabStopChars = 8;

// "  /silent         no window..." as its name and its words; a line that
// is no such row gives an empty name.
std::pair<std::string, std::string> RowOf(const std::string& line) {
  if (line.rfind("  ", 0) != 0 || line.size() < 3 || line[2] == ' ') return {};
  const std::size_t gap = line.find("  ", 2);
  if (gap == std::string::npos) return {};
  const std::size_t words = line.find_first_not_of(' ', gap);
  if (words == std::string::npos) return {};
  return {line.substr(2, gap - 2), line.substr(words)};
}

bool ContinuesTheLineBefore(const std::string& line, const std::string& before) {
  if (line.empty() || before.empty() || before.back() == ':') return false;
  // An indented row's wrapped words, or the second line of a sentence.
  return line.rfind("    ", 0) == 0 || std::islower(static_cast<unsigned char>(line[0]));
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// The flag a switch name sets; nullptr for a switch that is no flag.
bool* FlagOf(Switches& s, const std::string& name) {
  if (name == "?" || name == "help") return &s.help;
  if (name == "silent") return &s.silent;
  if (name == "accept") return &s.accept;
  if (name == "launch") return &s.launch;
  if (name == "verify") return &s.verify;
  return nullptr;
}

// Applies one switch (`name` in lower case, without its '/' or '-'); the
// error in words, or nothing.
std::optional<std::string> Apply(Switches& s, const std::string& word, const std::string& name,
                                 const std::optional<std::string>& value) {
  if (bool* flag = FlagOf(s, name)) {
    if (value) return word + ": this switch takes no value";
    *flag = true;
    return std::nullopt;
  }
  if (name == "overwrite") {
    const std::string answer = value ? Lower(*value) : std::string();
    if (answer != "yes" && answer != "no") return word + ": give /overwrite=yes or /overwrite=no";
    if (s.overwriteGiven && s.overwrite != (answer == "yes")) {
      return word + ": /overwrite is given twice with different answers";
    }
    s.overwrite = answer == "yes";
    s.overwriteGiven = true;
    return std::nullopt;
  }
  if (name == "log") {
    if (!value || value->empty()) return word + ": give the log file as /log=FILE";
    if (s.log && *s.log != *value) return word + ": /log is given twice with different files";
    s.log = *value;
    return std::nullopt;
  }
  if (name == "oem") return word + ": /oem opens the builder and goes with no other switch";
  return word + ": unknown switch";
}

}  // namespace

std::string HelpTextForABox() {
  std::vector<std::string> lines;
  std::string_view rest = kHelpText;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    std::string line(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (!lines.empty() && ContinuesTheLineBefore(line, lines.back())) {
      lines.back() += " " + line.substr(line.find_first_not_of(' '));
      continue;
    }
    if (auto [name, words] = RowOf(line); !name.empty()) {
      const bool shortSwitch = name[0] == '/' && name.size() < kTabStopChars;
      line = name + (shortSwitch ? "\t\t" : "\t") + words;
    }
    lines.push_back(line);
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

ParsedCommandLine ParseSwitches(const std::vector<std::string>& words) {
  ParsedCommandLine parsed;
  for (const std::string& word : words) {
    // A word is shown as a person can read it: its control characters as
    // \xNN, never sent raw to a console.
    const std::string shown = EscapeControls(word);
    if (word.size() < 2 || (word[0] != '/' && word[0] != '-')) {
      parsed.error = "\"" + shown + "\": not a switch (switches begin with / or -)";
      return parsed;
    }
    const std::size_t equals = word.find('=');
    const std::string name = Lower(std::string_view(word).substr(1, equals - 1));
    std::optional<std::string> value;
    if (equals != std::string::npos) value = word.substr(equals + 1);
    if (std::optional<std::string> error = Apply(parsed.switches, shown, name, value)) {
      parsed.error = std::move(error);
      return parsed;
    }
  }
  return parsed;
}

}  // namespace brelvane

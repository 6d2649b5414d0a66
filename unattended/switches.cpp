#include "unattended/switches.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <span>
#include <cctype>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "common/printable.h"

namespace brelvane {

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// Where a switch's value goes.  The member's type says which value the
// switch takes: a flag none, an answer yes or no, a file its name.
using Field = std::variant<bool Switches::*, std::optional<bool> Switches::*,
                           std::optional<std::string> Switches::*>;

// A short list of switch names, of fixed room, so the table is a constant
// and costs no code to build.
struct NameList {
  std::array<std::string_view, 3> items{};
  std::size_t count = 0;

  constexpr NameList() = default;
  constexpr NameList(std::initializer_list<std::string_view> names) {
    for (std::string_view name : names) items[count++] = name;
  }
  constexpr const std::string_view* begin() const { return items.data(); }
  constexpr const std::string_view* end() const { return items.data() + count; }
  constexpr std::string_view front() const { return items[0]; }
  constexpr std::string_view operator[](std::size_t i) const { return items[i]; }
  constexpr std::size_t size() const { return count; }
  constexpr bool empty() const { return count == 0; }
  constexpr operator std::span<const std::string_view>() const { return {begin(), count}; }
};

// One switch of the command line.  Names are written without their '/' and
// in lower case; the first one is the switch's name in messages.
struct SwitchRow {
  NameList names;
  Field field;
  // A file's value as the refusal of a missing one names it.
  std::string_view valueWords = {};
  // The switch takes effect only beside one of these.
  NameList needs = {};
  // The switch is refused beside any of these, for the reason given.
  NameList excludes = {};
  std::string_view excludesWhy = {};
  // The switch this one is given with: the first line of the help text
  // brackets the two together ("[/silent /accept]").
  std::string_view givenWith = {};
  // The switch asks for something of its own and goes with nothing else in
  // the first lines of the help text.
  bool alone = false;
  std::string_view help;
};

// Every switch, in the order the help text lists them.
constexpr SwitchRow kSwitchRows[] = {
    {.names = {"silent"},
     .field = &Switches::silent,
     .givenWith = "accept",
     .help = "no window and no message box; every question takes its answer below"},
    {.names = {"accept"},
     .field = &Switches::accept,
     .needs = {"silent"},
     .help = "accept the license agreement on the user's behalf (needed by /silent)"},
    {.names = {"overwrite"},
     .field = &Switches::overwrite,
     .needs = {"silent"},
     .help = "replace a file that already exists on the drive (default: no, keep it)"},
    {.names = {"launch"},
     .field = &Switches::launch,
     .needs = {"silent"},
     .help = "start the installed utility at the end"},
    {.names = {"log"},
     .field = &Switches::log,
     .valueWords = "the log file",
     .needs = {"silent", "verify"},
     .help = "append a UTF-8 log, one line per event (with /silent the default is "
             "%TEMP%\\brelvane-setup.log)"},
    {.names = {"verify"},
     .field = &Switches::verify,
     .excludes = {"accept", "overwrite", "launch"},
     .excludesWhy = "installs nothing",
     .help = "check every module and the signature state; install nothing"},
    {.names = {"diagnose"},
     .field = &Switches::diagnose,
     .valueWords = "the machine file",
     .excludes = {"silent", "verify", "log"},
     .excludesWhy = "only writes what finds the drive",
     .alone = true,
     .help = "write what finding the drive reads on this machine (the USB devices, their "
             "serial numbers, the drive letters) to a new FILE that brelvane-sim replays; "
             "no window, nothing installed, nothing sent"},
    {.names = {"?", "help", "h"},
     .field = &Switches::help,
     .alone = true,
     .help = "show this text; install nothing"},
};

constexpr std::span<const SwitchRow> Table() { return kSwitchRows; }

const SwitchRow* RowNamed(std::string_view name) {
  for (const SwitchRow& row : Table()) {
    if (std::find(row.names.begin(), row.names.end(), name) != row.names.end()) return &row;
  }
  return nullptr;
}

const SwitchRow& Row(std::string_view name) { return *RowNamed(name); }

std::string Slashed(std::string_view name) {
  std::string slashed = "/";
  slashed += name;
  return slashed;
}

bool Given(const Switches& s, const SwitchRow& row) {
  return std::visit(
      [&](auto member) {
        if constexpr (std::is_same_v<decltype(member), bool Switches::*>) {
          return s.*member;
        } else {
          return (s.*member).has_value();
        }
      },
      row.field);
}

// "/a", "/a and /b", "/a, /b and /c".
std::string Listed(std::span<const std::string_view> names) {
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) list += i + 1 == names.size() ? " and " : ", ";
    list += Slashed(names[i]);
  }
  return list;
}

// The switches whose first need is `need`.
std::vector<std::string_view> NeedingFirst(std::string_view need) {
  std::vector<std::string_view> names;
  for (const SwitchRow& row : Table()) {
    if (!row.needs.empty() && row.needs.front() == need) names.push_back(row.names.front());
  }
  return names;
}

// What follows a switch's name where the first lines of the help text
// write it ("=yes|no"), and where its row does ("=yes": the row tells what
// yes does).
std::string_view ValueForm(const SwitchRow& row, bool inItsRow) {
  if (std::holds_alternative<std::optional<bool> Switches::*>(row.field)) {
    return inItsRow ? "=yes" : "=yes|no";
  }
  if (std::holds_alternative<std::optional<std::string> Switches::*>(row.field)) return "=FILE";
  return "";
}

// The switch as the first lines of the help text write it: "/?", "/log=FILE".
std::string FormOf(const SwitchRow& row, std::string_view name) {
  return Slashed(name) + std::string(ValueForm(row, false));
}

// Applies one switch (`row`, given as `word`); the error in words, or
// nothing.
std::optional<std::string> Apply(Switches& s, const std::string& word, const SwitchRow& row,
                                 const std::optional<std::string>& value) {
  const std::string name = Slashed(row.names.front());
  if (auto* flag = std::get_if<bool Switches::*>(&row.field)) {
    if (value) return word + ": this switch takes no value";
    s.** flag = true;
    return std::nullopt;
  }
  if (auto* yesNo = std::get_if<std::optional<bool> Switches::*>(&row.field)) {
    std::optional<bool>& given = s.**yesNo;
    const std::string answer = value ? Lower(*value) : std::string();
    if (answer != "yes" && answer != "no") {
      return word + ": give " + name + "=yes or " + name + "=no";
    }
    if (given && *given != (answer == "yes")) {
      return word + ": " + name + " is given twice with different answers";
    }
    given = answer == "yes";
    return std::nullopt;
  }
  std::optional<std::string>& file = s.*std::get<std::optional<std::string> Switches::*>(row.field);
  if (!value || value->empty()) {
    return word + ": give " + std::string(row.valueWords) + " as " + FormOf(row, row.names.front());
  }
  if (file && *file != *value) return word + ": " + name + " is given twice with different files";
  file = *value;
  return std::nullopt;
}

// No line of the help text is longer than this.
constexpr std::size_t kHelpWidth = 88;

// `text` after `first` on its first line and after `indent` blanks on the
// lines it wraps onto, each line at most kHelpWidth characters.
std::string Wrapped(const std::string& first, std::string_view text, std::size_t indent) {
  std::string lines = first;
  std::size_t room = kHelpWidth - first.size();
  while (text.size() > room) {
    const std::size_t cut = text.rfind(' ', room);
    if (cut == std::string_view::npos || cut == 0) break;
    lines += std::string(text.substr(0, cut)) + "\n" + std::string(indent, ' ');
    text.remove_prefix(cut + 1);
    room = kHelpWidth - indent;
  }
  return lines + std::string(text) + "\n";
}

// A line of the first lines of the help text: the form that `mode` starts
// (none: the install), with the switches that go with it in brackets.
std::string FormLine(const SwitchRow* mode) {
  std::string line = kProgramName;
  if (mode != nullptr && mode->alone) {
    for (std::size_t i = 0; i < mode->names.size(); ++i) {
      line += i == 0 ? " " : " | ";
      line += FormOf(*mode, mode->names[i]);
    }
    return line + "\n";
  }
  if (mode != nullptr) {
    line += ' ';
    line += FormOf(*mode, mode->names.front());
  }
  std::vector<const SwitchRow*> with;
  for (const SwitchRow& row : Table()) {
    if (row.alone || !row.excludes.empty()) continue;
    const std::string_view name = row.names.front();
    if (mode != nullptr &&
        std::find(mode->excludes.begin(), mode->excludes.end(), name) != mode->excludes.end()) {
      continue;
    }
    with.push_back(&row);
  }
  for (std::size_t i = 0; i < with.size(); ++i) {
    line += " [";
    line += FormOf(*with[i], with[i]->names.front());
    if (i + 1 < with.size() && with[i]->givenWith == with[i + 1]->names.front()) {
      ++i;
      line += ' ';
      line += FormOf(*with[i], with[i]->names.front());
    }
    line += "]";
  }
  return line + "\n";
}

// How an exit code reads in the help text.
struct ExitCodeLine {
  ExitCode code;
  std::string_view words;
};
constexpr ExitCodeLine kExitCodeLines[] = {
    {ExitCode::Success,
     "success: the set installed (files already identical left alone), /verify sound, /? shown"},
    {ExitCode::BadCommandLine, "bad command line: an unknown switch, a bad or missing value"},
    {ExitCode::NotAccepted, "the agreement was not accepted (/silent without /accept)"},
    {ExitCode::NoDrive, "no supported drive (also: the drive was removed during the install)"},
    {ExitCode::WrongModels,
     "several drive models, or an unsupported model (or the model changed during the run)"},
    {ExitCode::NoModuleSet, "no module set for the drive's model in the package"},
    {ExitCode::BadPackage, "a damaged or unsafe module, or an unreadable package"},
    {ExitCode::WriteFailed, "a file could not be written (nothing lost)"},
    {ExitCode::VerifyFailed, "/verify: the package fails verification"},
    {ExitCode::AnotherCopy, "another copy of the installer is running (nothing done)"},
    {ExitCode::KeptFiles,
     "the set installed, but files that differ from it were kept (/overwrite=no): the log names "
     "them"},
    {ExitCode::WriteProtected, "the drive is write-protected (nothing written)"},
    {ExitCode::DriveLocked, "the drive is locked by BitLocker (nothing written)"},
    {ExitCode::WriteDenied, "writing on the drive is denied, as by a policy (nothing written)"},
    {ExitCode::NoRoom, "the drive lacks room for the whole set (nothing written)"},
};

}  // namespace

std::vector<int> ExitCodeNumbers() {
  std::vector<int> numbers;
  for (const ExitCodeLine& line : kExitCodeLines) numbers.push_back(ToInt(line.code));
  return numbers;
}

namespace {

// The usage lines: the install's form, then each form of its own (a
// switch alone, or one that excludes others).
std::vector<std::string> FormLines() {
  std::vector<std::string> lines{FormLine(nullptr)};
  for (const SwitchRow& row : Table()) {
    if (row.alone || !row.excludes.empty()) lines.push_back(FormLine(&row));
  }
  return lines;
}

// A row's names as the help shows them: "/log=FILE", "/?, /help".
std::string ShownNames(const SwitchRow& row) {
  std::string names;
  for (std::string_view name : row.names) {
    if (!names.empty()) names += ", ";
    names += Slashed(name);
    names += ValueForm(row, true);
  }
  return names;
}

// The note on letter case and on the switches that need others, grouped by
// the first one they need.
std::string NeedsNote() {
  std::string note = "Switches take '/' or '-' and any letter case.";
  std::vector<std::string_view> needed;
  for (const SwitchRow& row : Table()) {
    if (row.needs.empty() ||
        std::find(needed.begin(), needed.end(), row.needs.front()) != needed.end()) {
      continue;
    }
    const std::string_view need = row.needs.front();
    needed.push_back(need);
    const std::vector<std::string_view> group = NeedingFirst(need);
    note += "  " + Listed(group) + (group.size() == 1 ? " needs " : " need ") + Slashed(need);
    std::string others;
    for (std::string_view name : group) {
      const SwitchRow& member = Row(name);
      if (member.needs.size() < 2) continue;
      const std::vector<std::string_view> more(member.needs.begin() + 1, member.needs.end());
      others += (others.empty() ? "" : "; ") + std::string("or ") + Listed(more) + ", for " +
                Slashed(name);
    }
    note += (others.empty() ? "" : " (" + others + ")") + ".";
  }
  return note;
}

std::string BuildHelpText() {
  std::string text;
  for (const std::string& line : FormLines()) text += line;
  text += "\n";
  // The switches' words start in one column, two blanks after the longest.
  std::vector<std::string> shown;
  std::size_t column = 0;
  for (const SwitchRow& row : Table()) {
    shown.push_back(ShownNames(row));
    column = std::max(column, shown.back().size() + 2);
  }
  for (std::size_t i = 0; i < shown.size(); ++i) {
    shown[i].resize(column, ' ');
    text += Wrapped("  " + shown[i], Table()[i].help, 2 + column);
  }
  text += Wrapped("", NeedsNote(), 0) + "\nExit codes:\n";
  for (const ExitCodeLine& line : kExitCodeLines) {
    const std::string code = std::to_string(ToInt(line.code));
    text += Wrapped("  " + code + "  ", line.words, 4 + code.size());
  }
  return text;
}

// A tab stop of a message box is eight average characters: a switch shorter
// than that takes two tabs to reach the second stop, where the longer ones
// end up with one; the exit codes' words start at the first.
constexpr std::size_t kTabStopChars = 8;

}  // namespace

std::optional<std::string> MismatchOf(const Switches& s) {
  for (const SwitchRow& row : Table()) {
    if (row.excludes.empty() || !Given(s, row)) continue;
    for (std::string_view other : row.excludes) {
      if (!Given(s, Row(other))) continue;
      return Slashed(row.names.front()) + " " + std::string(row.excludesWhy) + ": " +
             Listed(row.excludes) + (row.excludes.size() == 1 ? " does" : " do") +
             " not go with it";
    }
  }
  for (const SwitchRow& row : Table()) {
    if (row.needs.empty() || !Given(s, row)) continue;
    const bool met = std::any_of(row.needs.begin(), row.needs.end(),
                                 [&](std::string_view need) { return Given(s, Row(need)); });
    if (met) continue;
    const std::vector<std::string_view> group = NeedingFirst(row.needs.front());
    return Listed(group) + (group.size() == 1 ? " takes" : " take") + " effect only with " +
           Slashed(row.needs.front());
  }
  return std::nullopt;
}

std::vector<std::string> SwitchForms() {
  std::vector<std::string> forms;
  for (const SwitchRow& row : Table()) {
    for (std::string_view name : row.names) forms.push_back(FormOf(row, name));
  }
  return forms;
}

const std::string& HelpText() {
  static const std::string text = BuildHelpText();
  return text;
}

std::string HelpTextForABox() {
  // Made from the tables, not from the console's wrapped text: each line of
  // the box is one usage form, one switch or one exit code.
  std::string text;
  for (const std::string& line : FormLines()) text += line;
  text += "\n";
  for (const SwitchRow& row : Table()) {
    const std::string names = ShownNames(row);
    text += names;
    text += names.size() < kTabStopChars ? "\t\t" : "\t";
    text += row.help;
    text += '\n';
  }
  text += '\n';
  text += NeedsNote();
  text += "\n\nExit codes:\n";
  for (const ExitCodeLine& line : kExitCodeLines) {
    text += std::to_string(ToInt(line.code));
    text += '\t';
    text += line.words;
    text += '\n';
  }
  std::string boxed;
  for (const char c : text) {
    if (c == '\n') boxed += '\r';
    boxed += c;
  }
  return boxed;
}

namespace {

// The words other installers take for an install without a window, which
// an administrator tries first.
bool IsOtherInstallersQuietWord(const std::string& name) {
  for (std::string_view word : {"s", "q", "qn", "qb", "quiet", "passive", "verysilent"})
    if (name == word) return true;
  return false;
}

}  // namespace

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
    // "--help", as other programs spell their switches, is "-help".
    const std::size_t start = word.starts_with("--") ? 2 : 1;
    const std::string name = Lower(std::string_view(word).substr(
        start, equals == std::string::npos ? equals : equals - start));
    std::optional<std::string> value;
    if (equals != std::string::npos) value = word.substr(equals + 1);
    const SwitchRow* row = RowNamed(name);
    std::optional<std::string> error;
    if (row != nullptr) {
      error = Apply(parsed.switches, shown, *row, value);
    } else if (name == "oem") {
      error = shown + ": /oem opens the builder and goes with no other switch";
    } else if (IsOtherInstallersQuietWord(name)) {
      error = shown + ": unknown switch; an install without a window is /silent /accept";
    } else {
      error = shown + ": unknown switch";
    }
    if (error) {
      parsed.error = std::move(error);
      return parsed;
    }
  }
  return parsed;
}

}  // namespace brelvane

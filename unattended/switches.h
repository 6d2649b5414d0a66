// The installer's command line for unattended installs: the switches, what
// they ask for, the exit codes, and the text /? shows.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brelvane {

// The program as its messages and its help text name it.
inline constexpr char kProgramName[] = "brelvane-setup";

// How an unattended run ends.  Fixed: deployment tools act on these numbers.
enum class ExitCode : int {
  Success = 0,          // the set installed, /verify sound, /? shown
  BadCommandLine = 1,   // an unknown switch, a bad or missing value
  NotAccepted = 2,      // the agreement was not accepted (/silent without /accept)
  NoDrive = 3,          // no supported drive
  WrongModels = 4,      // several drive models, an unsupported model, or the model changed
  NoModuleSet = 5,      // no module set for the drive's model in the package
  BadPackage = 6,       // a damaged or unsafe module, an unreadable package, no own file
  WriteFailed = 7,      // a file could not be written (nothing lost)
  VerifyFailed = 8,     // /verify: the package fails verification
  AnotherCopy = 9,      // another copy of the installer runs: nothing done
  KeptFiles = 10,       // the set installed, but files that differ from it were kept
  WriteProtected = 11,  // the drive is write-protected: nothing written
  DriveLocked = 12,     // the drive is locked by BitLocker: nothing written
  WriteDenied = 13,     // writing on the drive is denied (a policy): nothing written
  NoRoom = 14,          // the drive lacks room for the whole set: nothing written
};
inline int ToInt(ExitCode code) { return static_cast<int>(code); }

// What the command line asks for.  Each member is the value of one switch of
// the table in switches.cpp, which names it, says which value it takes and
// which switches it goes with, and holds its line of the help text.
struct Switches {
  bool silent = false;
  bool accept = false;
  bool launch = false;
  bool verify = false;
  bool help = false;
  std::optional<bool> overwrite;   // the answer to the Overwrite question, when given
  std::optional<std::string> log;  // the log file named by /log=
  // The machine file /diagnose= writes what drive discovery reads into.
  std::optional<std::string> diagnose;
  bool operator==(const Switches&) const = default;
};

struct ParsedCommandLine {
  Switches switches;
  std::optional<std::string> error;  // set: a bad command line, in words
};

// Reads the words of the command line (the program's name left out).  Each
// is a switch, "/name" or "-name" in any letter case, "/name=value" for
// /overwrite (yes or no, any case) and /log (a file); /? and /help ask for
// the help text.  Anything else is an error: an unknown switch, a word that
// is no switch, a flag given a value, a missing or bad value, and one switch
// given twice with different values (the same one twice is taken once).
ParsedCommandLine ParseSwitches(const std::vector<std::string>& words);

// Which of the given switches do not go together; the reason when some do
// not.  A switch that needs another takes effect only beside it, and one
// that excludes others is refused beside them.
std::optional<std::string> MismatchOf(const Switches& switches);

// Every switch as the help text's first lines write it, in the table's
// order: "/silent", "/overwrite=yes|no", "/log=FILE", "/diagnose=FILE", "/?",
// "/help".
std::vector<std::string> SwitchForms();

// Every exit code the help text explains, in its order.
std::vector<int> ExitCodeNumbers();

// The switches and the exit-code table, as /? shows them.
const std::string& HelpText();

// The help text laid out for a message box, whose font is proportional:
// each switch and exit code, a tab, then its words on the same line (the
// lines a console wraps joined again), so the words line up at tab stops.
std::string HelpTextForABox();

}  // namespace brelvane

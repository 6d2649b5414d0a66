// The unattended install: the installer driven by its command line instead
// of a person.  The same sheet, agreement and install page logic as the
// wizard, on views that show nothing, with every question answered from the
// switches and written to the log; the outcome is an exit code
// (unattended/switches.h).
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "unattended/run_log.h"
#include "unattended/switches.h"

namespace brelvane {

// Runs the command line `words` (the program's name left out; the builder's
// /oem is the front-end's to handle first) and gives the exit code.  `host`
// is the front-end's platform: its prompts show a box only without /silent
// and without a console (the help text, a bad command line, the /verify
// result); the install itself answers every question silently.  `console`
// receives the lines meant for a person when the program has one.
// With `anotherCopyRuns` (the front-end found another copy of the installer
// running) a run that would install ends with ExitCode::AnotherCopy and says
// why; /? and /verify, which only read, go on.
int RunUnattended(const Platform& host, const std::vector<std::string>& words,
                  const ConsoleFn& console, bool anotherCopyRuns = false);

inline constexpr char kAnotherCopyRuns[] =
    "another copy of the installer is running; let it finish, then start this one again "
    "(nothing installed)";
// Started with a window while another copy seems to run, whose window
// cannot be found (it runs without one, in another session, or another
// program holds the installer's name).
inline constexpr char kAnotherCopyHidden[] =
    "Another copy of the installer seems to be running, but its window cannot be found: it may "
    "run without a window or for another user.\r\nLet it finish (or end it in Task Manager), "
    "then start the installer again. Nothing has been installed.";

}  // namespace brelvane

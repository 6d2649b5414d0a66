// How page logic stops the program without ending the process itself.
//
// Where the program has to stop (the user declined, the drive changed, the
// program cannot find its own file), a handler gives an Ending: the message
// to show and the exit code to end with.  The front-end carries it out at
// once, before anything else happens: the Win32 windows show the message
// and end the process, the console wizard shows it and ends its run with the
// code.
#pragma once

#include <optional>

#include "platform/platform.h"

namespace brelvane {

struct Ending {
  Message message;   // shown through the prompts
  int exitCode = 0;  // then the program ends with it
};

// A handler's answer where it may have to stop the program: nothing more to
// do, or the ending.
using PageEnding = std::optional<Ending>;

}  // namespace brelvane

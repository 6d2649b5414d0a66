// What oempack needs of the console: message boxes and text on stderr.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/progress_bar.h"
#include "platform/platform.h"

namespace brelvane::oempack {

// Message boxes of the core (a partial file that cannot be removed, say)
// become lines on stderr.  Questions are answered No: nothing is replaced
// or removed on a console nobody answers.
class ConsolePrompts : public Prompts {
 public:
  int Show(const Message& message) override;
  void BeginWait() override {}
  void EndWait() override {}
};

// True when stderr is a terminal.
bool StderrIsTerminal();

// Writes UTF-8 text to stdout or stderr: on a Windows console as its
// characters, whatever the console's code page; elsewhere the bytes as they are.
void WriteText(std::FILE* stream, const std::string& text);

// The text of the CLI's progress bar (common/progress_bar.h) on stderr.
inline void WriteToStderr(const std::string& text) { WriteText(stderr, text); }

}  // namespace brelvane::oempack

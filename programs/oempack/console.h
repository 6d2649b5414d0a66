// What oempack needs of the console: message boxes and progress on stderr.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "package/package.h"
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

// A progress bar on stderr for copies of at least kProgressThreshold bytes
// when stderr is a terminal; otherwise an empty callback.
inline constexpr std::uint64_t kProgressThreshold = 8ull << 20;
class ProgressBar {
 public:
  ProgressBar(std::string label, std::uint64_t total, bool enabled);
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  ~ProgressBar();
  ProgressFn callback();

 private:
  void Draw(std::uint64_t done, std::uint64_t total);
  std::string label_;
  bool enabled_;
  int lastPercent_ = -1;
  bool drawn_ = false;
};

// The system's text for the last error on one line (its line break cut).
std::string LastErrorLine(System& system);

}  // namespace brelvane::oempack

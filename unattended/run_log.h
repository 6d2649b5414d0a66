// The unattended run's log: one line per event, each with the local time,
// appended to a UTF-8 file, and the lines meant for a person also to the
// console the program was started from, if any.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace brelvane {

// Writes one line (without its line end) to the console; empty when there
// is no console.
using ConsoleFn = std::function<void(const std::string& line)>;

// "2026-12-08 05:01:02"
std::string TimeStamp(const LocalTime& time);
// A message as one log line: line breaks become blanks, other control
// characters (a name from a package may hold them) are escaped.
std::string OneLine(const std::string& text);

class RunLog {
 public:
  RunLog(const Platform& platform, ConsoleFn console)
      : platform_(platform), console_(std::move(console)) {}
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Opens `path` for appending, creating the file when it is not there;
  // false when it cannot be had (the system's code in LastError).
  bool Open(const std::string& path);
  // The log file under the temporary folder that /silent writes without
  // /log; nullopt when the system names no temporary folder.
  static std::optional<std::string> DefaultPath(System& system);

  // A line in the log only.
  void Write(const std::string& text);
  // A line in the log and on the console.
  void Say(const std::string& text);
  // A line on the console only (with no file open, nowhere else to go).
  void Tell(const std::string& text) const;
  // The lines said so far, for a front-end without a console to show.
  const std::vector<std::string>& said() const { return said_; }

 private:
  Platform platform_;
  ConsoleFn console_;
  std::optional<ScopedFile> file_;
  std::vector<std::string> said_;
};

}  // namespace brelvane

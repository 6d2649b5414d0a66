// The code page an installer's module names are stored in.  The builder
// converts names itself, by its own tables, so one manifest gives the same
// bytes whichever host builds it: code page 1252 unless the maker names
// another of the single-byte Windows code pages (a maker whose users run
// code page 1251 ships Cyrillic names in 1251).
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace brelvane {

inline constexpr unsigned kDefaultCodePage = 1252;

// Whether the builder knows `number`: 874 and 1250 to 1258.
bool IsKnownCodePage(unsigned number);
// "874, 1250, 1251, ..., 1258", for a message.
std::string KnownCodePages();

// UTF-8 text as the code page's bytes; nothing when the text is no UTF-8 or
// holds a character the code page cannot hold.
std::optional<std::string> ToCodePage(unsigned number, const std::string& text);
// The code page's bytes as UTF-8 text; nothing when a byte is one the code
// page leaves undefined.
std::optional<std::string> FromCodePage(unsigned number, const std::string& bytes);

// The host's System with the ANSI code page replaced by `number`: the
// package operations store and read record names through ToAnsi and
// FromAnsi, so the builder hands them this one.  A byte the code page
// leaves undefined reads as U+FFFD.
class CodePageSystem : public System {
 public:
  CodePageSystem(System& host, unsigned number) : host_(host), number_(number) {}
  unsigned number() const { return number_; }

  std::string FromAnsi(const std::string& bytes) override;
  std::optional<std::string> ToAnsi(const std::string& text) override;

  std::uint32_t LastError() override { return host_.LastError(); }
  void SetLastError(std::uint32_t code) override { host_.SetLastError(code); }
  std::string ErrorText(std::uint32_t code) override { return host_.ErrorText(code); }
  int PlatformId() override { return host_.PlatformId(); }
  std::uint32_t CurrentDirectoryLength() override { return host_.CurrentDirectoryLength(); }
  std::optional<std::string> CurrentDirectory() override { return host_.CurrentDirectory(); }
  std::optional<std::string> OwnExecutablePath() override { return host_.OwnExecutablePath(); }
  std::optional<std::string> TempDirectory() override { return host_.TempDirectory(); }
  LocalTime Now() override { return host_.Now(); }
  void Sleep(std::uint32_t milliseconds) override { host_.Sleep(milliseconds); }
  std::uint32_t LogicalDrives() override { return host_.LogicalDrives(); }
  std::optional<VolumeStorage> QueryVolumeStorage(char letter) override {
    return host_.QueryVolumeStorage(letter);
  }
  std::string WideToAnsi(const std::uint16_t* units, std::size_t count) override {
    return host_.WideToAnsi(units, count);
  }
  // Letter case folded as Windows folds it for the characters of these code
  // pages, whatever the host: the names a set may hold once are the same
  // on every host.
  bool SamePathIgnoringCase(const std::string& a, const std::string& b) override;
  bool Launch(const std::string& path) override { return host_.Launch(path); }
  std::optional<int> RunProgram(const std::vector<std::string>& arguments) override {
    return host_.RunProgram(arguments);
  }
  std::string StripPath(const std::string& path) override { return host_.StripPath(path); }
  std::optional<std::size_t> SkipRoot(const std::string& path) override {
    return host_.SkipRoot(path);
  }
  bool IsUnc(const std::string& path) override { return host_.IsUnc(path); }
  [[noreturn]] void ExitProcess(int code) override {
    host_.ExitProcess(code);
    std::abort();  // not reached: the host's call does not return
  }

 private:
  System& host_;
  unsigned number_;
};

}  // namespace brelvane

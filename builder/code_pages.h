// The code page an installer's module names are stored in.  The builder
// converts names itself, by its own tables, so one manifest gives the same
// bytes whichever host builds it: code page 1252 unless the maker names
// another of the single-byte Windows code pages (a maker whose users run
// code page 1251 ships Cyrillic names in 1251).
#pragma once

#include <optional>
#include <string>

#include "platform/forwarding_system.h"

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
class CodePageSystem : public ForwardingSystem {
 public:
  CodePageSystem(System& host, unsigned number) : ForwardingSystem(host), number_(number) {}
  unsigned number() const { return number_; }

  std::string FromAnsi(const std::string& bytes) override;
  std::optional<std::string> ToAnsi(const std::string& text) override;
  // Letter case folded as Windows folds it for the characters of these code
  // pages, whatever the host: the names a set may hold once are the same
  // on every host.
  bool SamePathIgnoringCase(const std::string& a, const std::string& b) override;

 private:
  unsigned number_;
};

}  // namespace brelvane

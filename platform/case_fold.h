// Letter case as Windows' ordinal comparison ignoring case folds it, for the
// characters of the ANSI code pages the program stores names in (Latin,
// Greek, Cyrillic): the rule the simulation follows, and the builder's on
// every host, so that the names a set may hold once are the same everywhere.
#pragma once

#include <string>
#include <string_view>

#include "platform/utf8.h"

namespace brelvane {

// The upper case of `c`.
constexpr char32_t UpperOf(char32_t c) {
  if ((c >= U'a' && c <= U'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0xFF) return 0x178;
  // Latin Extended-A: upper and lower case in pairs, but for a few.
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return (c & 1) != 0 ? c - 1 : c;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) == 0 ? c - 1 : c;
  switch (c) {
    case 0x131: return U'I';
    case 0x192: return 0x191;
    case 0x1A1: return 0x1A0;
    case 0x1B0: return 0x1AF;
    case 0x3AC: return 0x386;
    case 0x3C2: return 0x3A3;
    case 0x3CC: return 0x38C;
    case 0x3CD: return 0x38E;
    case 0x3CE: return 0x38F;
    case 0x491: return 0x490;
    default: break;
  }
  if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;  // έ ή ί
  if (c >= 0x3B1 && c <= 0x3CB) return c - 0x20;  // Greek
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;  // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

// `text` with every character in upper case; a byte that is no UTF-8 (a
// name from an older system) stands for the character of its own value.
inline std::u32string UpperCased(std::string_view text) {
  std::u32string upper;
  for (std::size_t at = 0; at < text.size();) {
    char32_t code = static_cast<unsigned char>(text[at]);
    const std::size_t length = Utf8SequenceAt(text, at, &code);
    at += length == 0 ? 1 : length;
    upper += UpperOf(code);
  }
  return upper;
}

// Whether two texts are equal but for letter case.
inline bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return UpperCased(a) == UpperCased(b);
}

}  // namespace brelvane

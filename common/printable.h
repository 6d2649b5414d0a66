// Text from a package on a terminal: names in records are data from outside,
// and a control character in one must not move the cursor, clear the screen
// or overwrite what was printed before it.  Names are 8-bit text of code page
// 1252; the terminal gets them as the UTF-8 of their characters.
#pragma once

#include <string>
#include <string_view>

namespace brelvane {

// Code page 1252's character for a byte.  The five bytes the code page leaves
// without a character (0x81, 0x8D, 0x8F, 0x90, 0x9D) give the C1 control
// of the same value, as Windows converts them.
char16_t Cp1252ToUnicode(unsigned char byte);

// A name from a module record as UTF-8 for a terminal: 0xE9 shows as "é",
// 0x80 as "€".  The control characters (0x00-0x1F, 0x7F) and the five bytes
// that are no character are written as "\xNN", two upper-case hex digits.
std::string NameForTerminal(std::string_view name);

// A name (or a path built from names) as a message holds it: its C0
// controls and DEL written as "\xNN", every other byte as it is.  A message's
// own line breaks are then the only ones it holds, so a name cannot forge a
// line of the box or of the unattended run's log.
std::string NameInMessage(std::string_view name);

// A line for a terminal: UTF-8 (paths, the program's own words) that may
// hold 8-bit names too, read as the Windows backend reads such text: each
// well-formed UTF-8 sequence as UTF-8, every other byte as code page 1252
// (NameForTerminal).  No control character passes: C0 and DEL are written as
// "\xNN", a C1 control (U+0080-U+009F, which some terminals obey as
// escape sequences) as the "\xNN" of its two UTF-8 bytes.  With
// `keepLineBreaks`, "\n" and the pair "\r\n" stay as they are (a message's
// own line breaks); a lone "\r" is still escaped.
std::string EscapeControls(std::string_view text, bool keepLineBreaks = false);

}  // namespace brelvane

// Text from a package on a terminal: names in records are data from outside,
// and a control character in one must not move the cursor, clear the screen
// or overwrite what was printed before it.
#pragma once

#include <string>
#include <string_view>

namespace brelvane {

// The text with every control character (0x00-0x1F and 0x7F) written as
// "\xNN", two upper-case hex digits.  With `keepLineBreaks`, "\n" and the
// pair "\r\n" stay as they are (a message's own line breaks); a lone "\r"
// is still escaped.  Bytes from 0x80 up are left alone.
std::string EscapeControls(std::string_view text, bool keepLineBreaks = false);

}  // namespace brelvane

#include "common/printable.h"

namespace brelvane {

std::string EscapeControls(std::string_view text, bool keepLineBreaks) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool lineBreak =
        keepLineBreaks &&
        (byte == '\n' || (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n'));
    if ((byte < 0x20 || byte == 0x7F) && !lineBreak) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

}  // namespace brelvane

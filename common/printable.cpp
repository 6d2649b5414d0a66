#include "common/printable.h"

#include "platform/utf8.h"

namespace brelvane {
namespace {

constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool IsControl(char32_t code) { return code < 0x20 || (code >= 0x7F && code < 0xA0); }

void AppendEscape(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0F];
}

// One byte of a name: its character, or its escape when it is none to show.
void AppendNameByte(std::string& out, unsigned char byte) {
  const char32_t code = Cp1252ToUnicode(byte);
  if (IsControl(code)) {
    AppendEscape(out, byte);
  } else {
    AppendUtf8(out, code);
  }
}

}  // namespace

char16_t Cp1252ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kCp1252High[byte - 0x80];
  return byte;
}

std::string NameInMessage(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      AppendEscape(out, byte);
    } else {
      out += c;
    }
  }
  return out;
}

std::string NameForTerminal(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (const char c : name) AppendNameByte(out, static_cast<unsigned char>(c));
  return out;
}

std::string EscapeControls(std::string_view text, bool keepLineBreaks) {
  std::string out;
  out.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const bool lineBreak =
        keepLineBreaks &&
        (byte == '\n' || (byte == '\r' && at + 1 < text.size() && text[at + 1] == '\n'));
    char32_t code = 0;
    if (lineBreak) {
      out += static_cast<char>(byte);
      ++at;
    } else if (const std::size_t length = Utf8SequenceAt(text, at, &code)) {
      if (IsControl(code)) {
        for (std::size_t i = 0; i < length; ++i)
          AppendEscape(out, static_cast<unsigned char>(text[at + i]));
      } else {
        out.append(text.substr(at, length));
      }
      at += length;
    } else {
      AppendNameByte(out, byte);
      ++at;
    }
  }
  return out;
}

}  // namespace brelvane

#include "platform/sim/reg_file.h"

#include <cctype>
#include <optional>

#include "platform/platform.h"

namespace brelvane::sim {
namespace {

constexpr std::string_view kHeaderV4 = "REGEDIT4";
constexpr std::string_view kHeaderV5 = "Windows Registry Editor Version 5.00";

struct Line {
  int number = 0;
  std::string text;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The file as 8-bit text: UTF-16LE files (byte-order mark FF FE) are
// narrowed, a UTF-8 byte-order mark is dropped.
std::string DecodeText(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    return NarrowUtf16(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2, bytes.size() - 2);
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return std::string(bytes);
}

// Splits into physical lines, then joins a line that ends with a backslash
// with the next one (regedit wraps long hex data that way).  Comment lines
// never continue.
std::vector<Line> LogicalLines(const std::string& text) {
  std::vector<Line> physical;
  std::size_t start = 0;
  int number = 1;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    physical.push_back(
        {number++, std::string(TrimRight(std::string_view(text).substr(start, end - start)))});
    start = end + 1;
  }
  std::vector<Line> logical;
  for (std::size_t i = 0; i < physical.size(); ++i) {
    Line line = physical[i];
    auto is_comment = [](std::string_view s) {
      s = TrimLeft(s);
      return !s.empty() && s[0] == ';';
    };
    while (!is_comment(line.text) && !line.text.empty() && line.text.back() == '\\' &&
           i + 1 < physical.size()) {
      line.text.pop_back();
      line.text += TrimLeft(physical[++i].text);
    }
    logical.push_back(std::move(line));
  }
  return logical;
}

class Parser {
 public:
  Parser(const std::string& source, bool unicode) : source_(source), unicode_(unicode) {}

  bool ParseLine(const Line& line) {
    line_ = line.number;
    std::string_view text = Trim(line.text);
    if (text.empty() || text[0] == ';') return true;
    if (text[0] == '[') return ParseKeyLine(text);
    if (text[0] == '"' || text[0] == '@') return ParseValueLine(text);
    return Fail("not a key, value or comment line");
  }

  bool Fail(const std::string& reason) {
    error_ = source_ + ":" + std::to_string(line_) + ": " + reason;
    return false;
  }

  std::vector<RegEdit>& edits() { return edits_; }
  const std::string& error() const { return error_; }

 private:
  bool ParseKeyLine(std::string_view text) {
    std::size_t close = text.rfind(']');
    if (close == std::string_view::npos) return Fail("key line without closing ']'");
    std::string_view rest = Trim(text.substr(close + 1));
    if (!rest.empty() && rest[0] != ';') return Fail("unexpected text after the key name");
    std::string_view inner = text.substr(1, close - 1);
    bool remove = !inner.empty() && inner[0] == '-';
    if (remove) inner.remove_prefix(1);
    RegEdit edit;
    edit.kind = remove ? RegEdit::Kind::DeleteKey : RegEdit::Kind::CreateKey;
    edit.line = line_;
    if (!SplitKeyPath(inner, &edit)) return false;
    current_ = edit;
    has_key_ = true;
    edits_.push_back(std::move(edit));
    return true;
  }

  bool SplitKeyPath(std::string_view inner, RegEdit* edit) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
      std::size_t slash = inner.find('\\', start);
      std::string_view part =
          inner.substr(start, slash == std::string_view::npos ? slash : slash - start);
      if (part.empty()) return Fail("empty key name in '" + std::string(inner) + "'");
      parts.emplace_back(part);
      if (slash == std::string_view::npos) break;
      start = slash + 1;
    }
    if (EqualsNoCase(parts[0], "HKEY_LOCAL_MACHINE")) {
      edit->root = "HKEY_LOCAL_MACHINE";
    } else if (EqualsNoCase(parts[0], "HKEY_DYN_DATA")) {
      edit->root = "HKEY_DYN_DATA";
    } else {
      return Fail("unsupported root key '" + parts[0] + "' (HKEY_LOCAL_MACHINE or HKEY_DYN_DATA)");
    }
    edit->path.assign(parts.begin() + 1, parts.end());
    return true;
  }

  bool ParseValueLine(std::string_view text) {
    if (!has_key_) return Fail("value line before any key");
    if (current_.kind == RegEdit::Kind::DeleteKey) return Fail("value line below a deleted key");
    RegEdit edit;
    edit.line = line_;
    edit.root = current_.root;
    edit.path = current_.path;
    std::string_view rest;
    if (text[0] == '@') {
      rest = text.substr(1);
    } else {
      std::size_t used = 0;
      auto name = ParseQuoted(text, &used);
      if (!name) return false;
      edit.value_name = *name;
      rest = text.substr(used);
    }
    rest = TrimLeft(rest);
    if (rest.empty() || rest[0] != '=') return Fail("expected '=' after the value name");
    rest = TrimLeft(rest.substr(1));
    if (!ParseData(rest, &edit)) return false;
    edits_.push_back(std::move(edit));
    return true;
  }

  // A double-quoted text with \\ and \" escapes; `used` counts the bytes up to
  // and including the closing quote.
  std::optional<std::string> ParseQuoted(std::string_view text, std::size_t* used) {
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
      char c = text[i];
      if (c == '"') {
        *used = i + 1;
        return out;
      }
      if (c == '\\') {
        if (i + 1 >= text.size()) break;
        char next = text[++i];
        if (next != '\\' && next != '"') {
          Fail(std::string("unknown escape '\\") + next + "'");
          return std::nullopt;
        }
        out += next;
        continue;
      }
      out += c;
    }
    Fail("missing closing quote");
    return std::nullopt;
  }

  bool OnlyCommentLeft(std::string_view rest) {
    rest = Trim(rest);
    return rest.empty() || rest[0] == ';';
  }

  bool ParseData(std::string_view rest, RegEdit* edit) {
    if (!rest.empty() && rest[0] == '-') {
      if (!OnlyCommentLeft(rest.substr(1))) return Fail("unexpected text after '-'");
      edit->kind = RegEdit::Kind::DeleteValue;
      return true;
    }
    edit->kind = RegEdit::Kind::SetValue;
    if (!rest.empty() && rest[0] == '"') {
      std::size_t used = 0;
      auto text = ParseQuoted(rest, &used);
      if (!text) return false;
      if (!OnlyCommentLeft(rest.substr(used))) return Fail("unexpected text after the string");
      edit->type = win::kRegSz;
      edit->data.assign(text->begin(), text->end());
      edit->data.push_back(0);
      return true;
    }
    constexpr std::string_view kDword = "dword:";
    if (rest.size() >= kDword.size() && EqualsNoCase(rest.substr(0, kDword.size()), kDword))
      return ParseDword(rest.substr(kDword.size()), edit);
    constexpr std::string_view kHex = "hex";
    if (rest.size() >= kHex.size() && EqualsNoCase(rest.substr(0, kHex.size()), kHex))
      return ParseHex(rest.substr(kHex.size()), edit);
    return Fail("unknown value data '" + std::string(rest) + "'");
  }

  bool ParseDword(std::string_view digits, RegEdit* edit) {
    std::uint32_t value = 0;
    std::size_t i = 0;
    for (; i < digits.size() && HexDigit(digits[i]) >= 0; ++i) {
      if (i == 8) return Fail("dword value longer than 8 hex digits");
      value = value << 4 | static_cast<std::uint32_t>(HexDigit(digits[i]));
    }
    if (i == 0) return Fail("dword value without hex digits");
    if (!OnlyCommentLeft(digits.substr(i))) return Fail("unexpected text after the dword value");
    edit->type = win::kRegDword;
    edit->data = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                  static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    return true;
  }

  // After "hex": either ":" (REG_BINARY) or "(N):" with N the type in hex.
  bool ParseHex(std::string_view rest, RegEdit* edit) {
    std::uint32_t type = win::kRegBinary;
    if (!rest.empty() && rest[0] == '(') {
      std::size_t close = rest.find(')');
      if (close == std::string_view::npos || close == 1 || close > 9)
        return Fail("malformed hex(type)");
      type = 0;
      for (std::size_t i = 1; i < close; ++i) {
        int digit = HexDigit(rest[i]);
        if (digit < 0) return Fail("malformed hex(type)");
        type = type << 4 | static_cast<std::uint32_t>(digit);
      }
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest[0] != ':') return Fail("expected ':' after hex");
    rest.remove_prefix(1);
    std::vector<std::uint8_t> bytes;
    if (!ParseHexBytes(rest, &bytes)) return false;
    bool text_type = type == win::kRegSz || type == win::kRegExpandSz || type == win::kRegMultiSz;
    if (unicode_ && text_type) {
      // Version 5 files keep text data as UTF-16LE; the ANSI calls see it
      // converted.
      std::string narrow = NarrowUtf16(bytes.data(), bytes.size());
      bytes.assign(narrow.begin(), narrow.end());
    }
    edit->type = type;
    edit->data = std::move(bytes);
    return true;
  }

  bool ParseHexBytes(std::string_view rest, std::vector<std::uint8_t>* bytes) {
    rest = TrimLeft(rest);
    if (OnlyCommentLeft(rest)) return true;  // empty data
    while (true) {
      rest = TrimLeft(rest);
      if (rest.size() < 2 || HexDigit(rest[0]) < 0 || HexDigit(rest[1]) < 0)
        return Fail("malformed hex byte list");
      bytes->push_back(static_cast<std::uint8_t>(HexDigit(rest[0]) << 4 | HexDigit(rest[1])));
      rest = TrimLeft(rest.substr(2));
      if (OnlyCommentLeft(rest)) return true;
      if (rest[0] != ',') return Fail("malformed hex byte list");
      rest.remove_prefix(1);
      if (OnlyCommentLeft(rest)) return true;  // a trailing comma is tolerated
    }
  }

  std::string source_;
  bool unicode_;
  int line_ = 0;
  bool has_key_ = false;
  RegEdit current_;
  std::vector<RegEdit> edits_;
  std::string error_;
};

}  // namespace

std::string NarrowUtf16(const std::uint8_t* bytes, std::size_t size) {
  std::string out;
  out.reserve(size / 2);
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    unsigned unit = bytes[i] | bytes[i + 1] << 8;
    out += unit < 0x100 ? static_cast<char>(unit) : '?';
  }
  return out;
}

RegParseResult ParseRegFile(std::string_view bytes, const std::string& source) {
  RegParseResult result;
  std::vector<Line> lines = LogicalLines(DecodeText(bytes));
  std::size_t first = 0;
  while (first < lines.size() && Trim(lines[first].text).empty()) ++first;
  if (first == lines.size()) {
    result.error = source + ":1: empty file, expected a REGEDIT4 or version 5.00 header";
    return result;
  }
  std::string_view header = Trim(lines[first].text);
  bool unicode = header == kHeaderV5;
  if (header != kHeaderV4 && !unicode) {
    result.error = source + ":" + std::to_string(lines[first].number) +
                   ": expected a REGEDIT4 or version 5.00 header";
    return result;
  }
  Parser parser(source, unicode);
  for (std::size_t i = first + 1; i < lines.size(); ++i) {
    if (!parser.ParseLine(lines[i])) {
      result.error = parser.error();
      return result;
    }
  }
  result.ok = true;
  result.edits = std::move(parser.edits());
  return result;
}

}  // namespace brelvane::sim

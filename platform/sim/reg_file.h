// The text format of registry export files (.reg), as regedit writes and
// imports it: a header line ("REGEDIT4" or "Windows Registry Editor Version
// 5.00"), [key] and [-key] lines, and value lines below a key.  Parsing turns
// a file into a list of edits; nothing is applied until the whole file has
// been understood.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brelvane::sim {

// One change a .reg file asks for, in file order.
struct RegEdit {
  enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
  Kind kind = Kind::CreateKey;
  int line = 0;                    // where the edit starts in the file (1-based)
  std::string root;                // "HKEY_LOCAL_MACHINE" or "HKEY_DYN_DATA"
  std::vector<std::string> path;   // key names below the root, as written
  std::string value_name;          // "" for the default value (@)
  std::uint32_t type = 0;          // REG_* type of a SetValue
  std::vector<std::uint8_t> data;  // the value's bytes as RegQueryValueExA returns them
};

struct RegParseResult {
  bool ok = false;
  std::string error;  // "source:line: reason" when !ok
  std::vector<RegEdit> edits;
};

// Parses the whole text of a .reg file.  `source` names the file in errors.
// Accepts ANSI/UTF-8 text (with or without a UTF-8 byte-order mark) and
// UTF-16LE text with its byte-order mark.
RegParseResult ParseRegFile(std::string_view bytes, const std::string& source);

// UTF-16LE bytes to the 8-bit text the ANSI registry calls deliver: code units
// below 0x100 stand for themselves, others become '?'.
std::string NarrowUtf16(const std::uint8_t* bytes, std::size_t size);

}  // namespace brelvane::sim

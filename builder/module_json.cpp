#include "builder/module_json.h"

#include <cstdio>

#include "builder/module_list.h"

namespace brelvane {
namespace {

// Code page 1252's characters for the bytes 0x80..0x9F; the five bytes the
// code page leaves undefined map to the control character of the same value,
// as Windows converts them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t Cp1252ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kCp1252High[byte - 0x80];
  return byte;
}

void AppendEscape(std::string& out, char16_t unit) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(unit));
  out += buffer;
}

}  // namespace

std::string JsonString(const std::string& ansi) {
  std::string out = "\"";
  for (const char c : ansi) {
    const auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          AppendEscape(out, Cp1252ToUnicode(byte));
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

std::string ModulesToJson(const WalkResult& walk) {
  std::string out = "[";
  bool first = true;
  for (const WalkedModule& module : walk.modules) {
    const ModuleRecord& record = module.record;
    const char* model = ModelNameOfMarker(record.marker);
    out += first ? "\n  " : ",\n  ";
    first = false;
    out += "{\"name\": " + JsonString(record.fileName);
    out += ", \"marker\": " + JsonString(record.marker);
    out += ", \"predefined\": ";
    out += IsPredefinedMarker(record.marker) ? "true" : "false";
    out += ", \"model\": ";
    out += model != nullptr ? JsonString(model) : "null";
    out += ", \"size\": " + std::to_string(record.contentSize);
    out += ", \"extractDir\": " + JsonString(record.extractDir);
    out += ", \"attributes\": " + std::to_string(record.attributes);
    out += ", \"offset\": " + std::to_string(module.contentOffset);
    out += ", \"checked\": ";
    out += module.contentCheck ? "true}" : "false}";
  }
  out += first ? "]\n" : "\n]\n";
  return out;
}

}  // namespace brelvane

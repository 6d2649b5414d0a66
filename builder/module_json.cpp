#include "builder/module_json.h"

#include <cstdio>

#include "builder/module_list.h"
#include "common/printable.h"

namespace brelvane {
namespace {

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
    const char* installedOn = InstalledOnModel(record);
    out += ", \"installedOn\": ";
    out += installedOn != nullptr ? JsonString(installedOn) : "null";
    out += ", \"checked\": ";
    out += module.contentCheck ? "true}" : "false}";
  }
  out += first ? "]\n" : "\n]\n";
  return out;
}

}  // namespace brelvane

#include "builder/module_list.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <string>

namespace brelvane {
namespace {

// The names of the predefined set a marker names; nullptr for a
// user-defined module or a set no row has.
const ModuleSetNames* SetNamesOf(const std::string& marker) {
  const std::optional<PredefinedSet> set = PredefinedSetOf(marker);
  return set ? NamesOf(*set) : nullptr;
}

// Letters of the 8-bit names compare as ASCII ignores their case; other
// bytes by their value.
int CompareIgnoringCase(const std::string& a, const std::string& b) {
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const int difference =
        lower(static_cast<unsigned char>(a[i])) - lower(static_cast<unsigned char>(b[i]));
    if (difference != 0) return difference;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int CompareByColumn(const ModuleRow& a, const ModuleRow& b, int column) {
  switch (column) {
    case 0: return CompareIgnoringCase(a.name, b.name);
    case 1: return CompareIgnoringCase(a.predefined, b.predefined);
    case 2: {
      const long long left = std::strtoll(a.size.c_str(), nullptr, 10);
      const long long right = std::strtoll(b.size.c_str(), nullptr, 10);
      return left < right ? -1 : (left > right ? 1 : 0);
    }
    case 3: return CompareIgnoringCase(a.extractTo, b.extractTo);
    case 4: return CompareIgnoringCase(a.attributes, b.attributes);
    default: return CompareIgnoringCase(a.installs, b.installs);
  }
}

}  // namespace

std::string PredefinedColumnText(const ModuleRecord& record) {
  const ModuleSetNames* names = SetNamesOf(record.marker);
  return names != nullptr ? names->listText : "";
}

const char* ModelNameOfMarker(const std::string& marker) {
  const ModuleSetNames* names = SetNamesOf(marker);
  return names != nullptr ? names->key : nullptr;
}

std::string ExtractToColumnText(const ModuleRecord& record) {
  return (IsPredefinedMarker(record.marker) ? "Root\\" : "User Defined") + record.extractDir;
}

std::string AttributesColumnText(std::uint32_t attributes) {
  struct Name {
    std::uint32_t bit;
    const char* text;
  };
  static constexpr Name kNames[] = {
      {win::kAttrNormal, "Normal"},
      {win::kAttrReadOnly, "Read Only"},
      {win::kAttrHidden, "Hidden"},
  };
  std::string text;
  for (const Name& name : kNames) {
    if ((attributes & name.bit) == 0) continue;
    if (!text.empty()) text += ", ";
    text += name.text;
  }
  return text;
}

const char* InstalledOnModel(const ModuleRecord& record) {
  const std::optional<PredefinedSet> set = PredefinedSetOf(record.marker);
  for (const DriveModelRow& row : kDriveModels)
    if (set && row.set.set == *set) return row.name;
  return nullptr;
}

std::string InstalledColumnText(const ModuleRecord& record) {
  const char* model = InstalledOnModel(record);
  return model != nullptr ? std::string(model) + " drives" : std::string(kCarriedOnly);
}

ModuleRow MakeModuleRow(const ModuleRecord& record) {
  ModuleRow row;
  row.name = record.fileName;
  row.predefined = PredefinedColumnText(record);
  // The list shows the size as a signed number, as it always has.
  row.size = std::to_string(static_cast<std::int32_t>(record.contentSize));
  row.extractTo = ExtractToColumnText(record);
  row.attributes = AttributesColumnText(record.attributes);
  row.model = ModelNameOfMarker(record.marker);
  row.isPredefined = IsPredefinedMarker(record.marker);
  row.installedOn = InstalledOnModel(record);
  row.installs = InstalledColumnText(record);
  return row;
}

std::vector<std::size_t> SortedOrder(const std::vector<ModuleRow>& rows, int column,
                                     bool descending) {
  std::vector<std::size_t> order(rows.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const int comparison = CompareByColumn(rows[a], rows[b], column);
    return descending ? comparison > 0 : comparison < 0;
  });
  return order;
}

std::vector<ModuleRow> ModuleRows(const WalkResult& walk) {
  std::vector<ModuleRow> rows;
  rows.reserve(walk.modules.size());
  for (const WalkedModule& module : walk.modules) {
    rows.push_back(MakeModuleRow(module.record));
    rows.back().checked = module.contentCheck.has_value();
  }
  return rows;
}

std::string WalkProblem(const WalkResult& walk) {
  switch (walk.end) {
    case WalkEnd::ForeignRecord:
      return "foreign record ending at offset " + std::to_string(walk.stopOffset) +
             ": not a module record";
    case WalkEnd::DamagedRecord:
      return "damaged record ending at offset " + std::to_string(walk.stopOffset) +
             ": it does not match its check; the modules before it cannot be read";
    case WalkEnd::ReadFailure:
      return "cannot read the record ending at offset " + std::to_string(walk.stopOffset);
    case WalkEnd::Image: break;
  }
  return {};
}

// The installer walks from its end and finds no module behind stray bytes.
std::string StrayBytesLine(const std::string& installer, const WalkResult& walk,
                           const std::string& tail) {
  return installer + ": " + std::to_string(walk.strayBytes) +
         " stray byte(s) follow the last whole module (" + std::to_string(walk.wholeModules) +
         " module(s), ending at offset " + std::to_string(walk.wholeModulesEnd) +
         "); the installer does not reach the modules before them; oempack repair cuts them" + tail;
}

std::string SignedLine(const std::string& installer, std::int64_t tableSize) {
  const std::string table =
      tableSize > 0 ? " (certificate table of " + std::to_string(tableSize) + " bytes)" : "";
  return installer + " is signed" + table +
         ": a module appended behind the signature would break it; unsign it first "
         "(oempack unsign), add the modules, then sign it again; nothing appended";
}

}  // namespace brelvane

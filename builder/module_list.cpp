#include "builder/module_list.h"

#include <optional>
#include <string>

namespace brelvane {
namespace {

struct ModelEntry {
  PredefinedSet set;
  const char* columnText;
  const char* modelName;
};

constexpr ModelEntry kModels[] = {
    {PredefinedSet::Kestrin, "Yes-KESTRIN", "kestrin"},
    {PredefinedSet::Ovin, "Yes-OVIN", "ovin"},
    {PredefinedSet::Pellor, "Yes-PELLOR", "pellor"},
    {PredefinedSet::KestrinOvin, "Yes-KES+OVIN", "kestrin+ovin"},
};

const ModelEntry* ModelOf(const std::string& marker) {
  const std::optional<PredefinedSet> set = PredefinedSetOf(marker);
  for (const ModelEntry& entry : kModels) {
    if (set == entry.set) return &entry;
  }
  return nullptr;
}

}  // namespace

std::string PredefinedColumnText(const ModuleRecord& record) {
  const ModelEntry* model = ModelOf(record.marker);
  return model != nullptr ? model->columnText : "";
}

const char* ModelNameOfMarker(const std::string& marker) {
  const ModelEntry* model = ModelOf(marker);
  return model != nullptr ? model->modelName : nullptr;
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
  return row;
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

}  // namespace brelvane
